#include "expr/filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

#include "expr/calculator.h"
#include "expr/comparison.h"
#include "platform/progress.h"
#include "table/field_text.h"
#include "table/text_convert.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

// The comparison of a substituted simple condition held in `work.substituted`.
char compare_substituted(DbfTable& table, int operator_position, bool numeric, FilterWork& work) {
    if (operator_position < 0) return '0';
    const std::string& text = work.substituted;
    size_t position = static_cast<size_t>(operator_position);
    size_t length = 1;
    const char second = position + 1 < text.size() ? text[position + 1] : 0;
    const ComparisonOperator op = identify_operator(text[position], second, length);
    work.left.assign(text, 0, position);
    work.right.assign(text, position + length);
    strip_unbalanced_parens(work.left);
    strip_unbalanced_parens(work.right);
    if (numeric) {
        bool ok = true;
        double left = calculate(work.left, ok);
        double right = calculate(work.right, ok);
        if (!ok) return '0';
        return compare_numbers(op, left, right) ? '1' : '0';
    }
    if (table.options.case_insensitive) {
        upper_case_operand(table, work.left);
        upper_case_operand(table, work.right);
    }
    apply_string_functions(work.left, table, work.scratch);
    apply_string_functions(work.right, table, work.scratch);
    return compare_texts(op, work.left.c_str(), work.right.c_str()) ? '1' : '0';
}

char evaluate_simple_condition(DbfTable& table, const std::string& piece, FilterWork& work) {
    bool numeric = false;
    int position = substitute_fields(table, piece, work.substituted, numeric);
    return compare_substituted(table, position, numeric, work);
}

char evaluate_planned_condition(DbfTable& table, const SubstitutionPlan& plan, FilterWork& work) {
    bool numeric = false;
    int position = substitute_planned(table, plan, work.substituted, numeric);
    return compare_substituted(table, position, numeric, work);
}

// A compiled piece's result: the prepared comparison where it decides the record,
// else substitution from the record buffer.
char evaluate_compiled_piece(DbfTable& table, const CompiledCondition::Piece& piece, FilterWork& work,
                             FetchedRecord& record) {
    const int verdict = evaluate_prepared(table, piece.prepared, work.prepared, record);
    if (verdict >= 0) return verdict ? '1' : '0';
    record.into_buffer(table);
    return evaluate_planned_condition(table, piece.condition, work);
}

char logic_joiner(char joiner) {
    if (joiner == '&') return '*';
    if (joiner == '|') return '+';
    return 0;
}

// The logic text's verdict: its value truncated toward zero is not 0; an error fails.
bool logic_holds(std::string& logic) {
    bool ok = true;
    double value = calculate(logic, ok);
    return ok && std::trunc(value) != 0;
}

constexpr size_t kRememberedPieces = 16;
// The most record bytes a filter keeps to test a joined condition on new pieces only.
constexpr uint64_t kKeptRecordBytes = uint64_t{16} << 20;

bool deleted_and_hidden(const DbfTable& table) {
    return table.options.hide_deleted && !table.record_buffer.empty() && table.record_buffer[0] == '*';
}

bool deleted_and_hidden(const DbfTable& table, const FetchedRecord& record) {
    if (record.in_buffer) return deleted_and_hidden(table);
    return table.options.hide_deleted && record.bytes[0] == '*';
}

// Compiles the pieces of `text` onto those of `compiled`, joined to them by '&'.
void add_pieces(DbfTable& table, CompiledCondition& compiled, std::string_view text) {
    if (!compiled.pieces.empty()) compiled.pieces.back().closing += logic_joiner('&');
    compiled.balance += parenthesis_balance(text);
    compiled.verdicts.clear();
    for (size_t start = 0;;) {
        const size_t end = std::min(text.find_first_of("&|", start), text.size());
        PieceLayout layout = lay_out_piece(text.substr(start, end - start));
        SubstitutionPlan plan = plan_substitution(table, layout.condition);
        PreparedComparison prepared = prepare_comparison(table, plan, compiled.maps);
        compiled.plain = compiled.plain && layout.opening.empty() && layout.closing.empty() &&
                         std::none_of(plan.parts.begin(), plan.parts.end(), [&](const SubstitutionPlan::Part& part) {
                             return part.field >= 0 && field_is_memo(table, part.field);
                         });
        compiled.pieces.push_back({std::string(layout.opening), std::move(plan), std::move(prepared),
                                   std::string(layout.closing)});
        if (end == text.size()) return;
        compiled.pieces.back().closing += logic_joiner(text[end]);
        start = end + 1;
    }
}

// The options a compiled condition depends on (the conversion hooks stay those
// the table was opened with).
auto compile_options(const TableOptions& o) {
    return std::tie(o.date_mode, o.date_formats, o.datetime_formats, o.trim_mode, o.ansi, o.case_insensitive,
                    o.code_pages, o.expression_quotes, o.utf8_field_names);
}

// Joins `condition` to the table's filter text and compiles the whole text, reusing
// the pieces compiled for the text before while the options are the same.
CompiledFilter& join_and_compile(DbfTable& table, const std::string& condition) {
    std::shared_ptr<CompiledFilter>& cache = table.filter.compiled;
    std::optional<std::string>& text = table.filter.filter_text;
    if (cache && text && cache->text == *text && compile_options(cache->options) == compile_options(table.options)) {
        if (cache->known_pieces != cache->condition.pieces.size()) cache->known_pieces = 0;
        add_pieces(table, cache->condition, condition);
        cache->text.append("&").append(condition);
        text->append("&").append(condition);
        return *cache;
    }
    cache = std::make_shared<CompiledFilter>();
    cache->text = text ? *text + "&" + condition : condition;
    cache->options = table.options;
    cache->condition = compile_condition(table, cache->text);
    text = cache->text;
    return *cache;
}

// Bits of the runs of a plain condition: an earlier run held; the last run holds so far.
constexpr uint8_t kEarlierRunHeld = 1;
constexpr uint8_t kLastRunHolds = 2;

// The runs after the pieces from `first` on, from their state before them.
uint8_t plain_runs(DbfTable& table, const CompiledCondition& condition, size_t first, uint8_t runs, FilterWork& work,
                   FetchedRecord& record) {
    for (size_t k = first; k < condition.pieces.size(); ++k) {
        const CompiledCondition::Piece& piece = condition.pieces[k];
        if ((runs & kLastRunHolds) && evaluate_compiled_piece(table, piece, work, record) != '1') runs &= ~kLastRunHolds;
        if (piece.closing == "+") runs = (runs & kLastRunHolds ? kEarlierRunHeld : runs) | kLastRunHolds;
    }
    return runs;
}

// record_passes for a compiled condition and a fetched record.
bool fetched_record_passes(DbfTable& table, CompiledCondition& condition, FilterWork& work, FetchedRecord& record);

} // namespace

std::optional<std::vector<size_t>> split_condition(std::string_view condition) {
    std::vector<size_t> joiners;
    for (size_t i = 0; i < condition.size(); ++i)
        if (condition[i] == '&' || condition[i] == '|') joiners.push_back(i);
    if (parenthesis_balance(condition) != 0) return std::nullopt;
    return joiners;
}

std::vector<ConditionSpan> conditions_naming_no_field(const DbfTable& table, std::string_view condition,
                                                      std::string (*to_table_text)(const DbfTable&, std::string_view)) {
    std::vector<ConditionSpan> spans;
    const std::optional<std::vector<size_t>> joiners = split_condition(condition);
    if (!joiners) return spans;
    size_t start = 0;
    for (size_t k = 0; k <= joiners->size(); ++k) {
        const size_t end = k < joiners->size() ? (*joiners)[k] : condition.size();
        const std::string_view simple = lay_out_piece(condition.substr(start, end - start)).condition;
        start = end + 1;
        if (simple.empty()) continue;
        const SubstitutionPlan plan = plan_substitution(table, to_table_text ? to_table_text(table, simple) : std::string(simple));
        const bool names_field =
            std::any_of(plan.parts.begin(), plan.parts.end(), [](const SubstitutionPlan::Part& part) { return part.field >= 0; });
        if (!names_field) spans.push_back({static_cast<size_t>(simple.data() - condition.data()), simple.size()});
    }
    return spans;
}

PieceLayout lay_out_piece(std::string_view piece) {
    int balance = parenthesis_balance(piece);
    if (balance == 0) return {{}, piece, {}};
    long mark = -1;
    int count = 0;
    if (balance > 0) {
        // From the end (its terminating NUL) back to the start: the '(' that opens
        // the group the condition sits in.
        for (long p = static_cast<long>(piece.size()); p >= 0; --p) {
            if (count == 0) mark = -1;
            char c = p < static_cast<long>(piece.size()) ? piece[static_cast<size_t>(p)] : 0;
            if (c == ')') {
                --count;
            } else if (c == '(') {
                ++count;
                if (mark == -1) mark = p;
            }
        }
        size_t split = static_cast<size_t>(mark + 1);
        return {piece.substr(0, split), piece.substr(split), {}};
    }
    for (size_t p = 0; p < piece.size(); ++p) {
        if (count == 0) mark = -1;
        if (piece[p] == '(') {
            ++count;
        } else if (piece[p] == ')') {
            --count;
            if (mark == -1) mark = static_cast<long>(p);
        }
    }
    if (mark < 0) return {{}, piece, {}};
    size_t split = static_cast<size_t>(mark);
    return {{}, piece.substr(0, split), piece.substr(split)};
}

char evaluate_simple_condition(DbfTable& table, const std::string& piece) {
    FilterWork work;
    return evaluate_simple_condition(table, piece, work);
}

void evaluate_piece(DbfTable& table, std::string_view piece, char joiner, std::string& logic) {
    PieceLayout layout = lay_out_piece(piece);
    logic += layout.opening;
    logic += evaluate_simple_condition(table, std::string(layout.condition));
    logic += layout.closing;
    if (char written = logic_joiner(joiner)) logic += written;
}

CompiledCondition compile_condition(DbfTable& table, const FilterCondition& condition) {
    CompiledCondition compiled;
    compiled.reset = !condition;
    if (condition) add_pieces(table, compiled, *condition);
    return compiled;
}

bool record_passes(DbfTable& table, CompiledCondition& condition, FilterWork& work) {
    FetchedRecord record{table.record_buffer.data(), true};
    return fetched_record_passes(table, condition, work, record);
}

namespace {

bool fetched_record_passes(DbfTable& table, CompiledCondition& condition, FilterWork& work, FetchedRecord& record) {
    if (deleted_and_hidden(table, record)) return false;
    if (condition.reset) return true;
    if (condition.balance != 0) return false;
    const std::vector<CompiledCondition::Piece>& pieces = condition.pieces;
    if (pieces.size() == 1) return evaluate_compiled_piece(table, pieces[0], work, record) != '0';
    work.logic.clear();
    if (pieces.size() > kRememberedPieces) {
        for (const CompiledCondition::Piece& piece : pieces) {
            work.logic += piece.opening;
            work.logic += evaluate_compiled_piece(table, piece, work, record);
            work.logic += piece.closing;
        }
        return logic_holds(work.logic);
    }
    // The logic text differs between records only in the pieces' results, so its
    // verdict is worked out once for every combination that occurs.
    uint32_t results = 0;
    for (size_t k = 0; k < pieces.size(); ++k)
        if (evaluate_compiled_piece(table, pieces[k], work, record) == '1') results |= uint32_t{1} << k;
    if (condition.verdicts.empty()) condition.verdicts.assign(size_t{1} << pieces.size(), -1);
    int8_t& verdict = condition.verdicts[results];
    if (verdict < 0) {
        for (size_t k = 0; k < pieces.size(); ++k) {
            work.logic += pieces[k].opening;
            work.logic += (results >> k) & 1 ? '1' : '0';
            work.logic += pieces[k].closing;
        }
        verdict = logic_holds(work.logic) ? 1 : 0;
    }
    return verdict == 1;
}

} // namespace

bool record_passes(DbfTable& table, const FilterCondition& condition) {
    if (deleted_and_hidden(table)) return false;
    if (!condition) return true;
    const std::string& text = *condition;
    std::optional<std::vector<size_t>> joiners = split_condition(text);
    if (!joiners) return false;
    if (joiners->empty()) return evaluate_simple_condition(table, text) != '0';
    std::string logic;
    size_t start = 0;
    for (size_t k = 0; k <= joiners->size(); ++k) {
        size_t end = k < joiners->size() ? (*joiners)[k] : text.size();
        char joiner = k < joiners->size() ? text[end] : 0;
        evaluate_piece(table, std::string_view(text).substr(start, end - start), joiner, logic);
        start = end + 1;
    }
    return logic_holds(logic);
}

void apply_filter(DbfTable& table, const FilterCondition& condition) {
    table.order_list.reset();
    CompiledFilter reset;
    reset.condition = compile_condition(table, kResetMarker);
    CompiledFilter& filter = condition ? join_and_compile(table, *condition) : reset;
    CompiledCondition& compiled = filter.condition;
    const uint32_t count = view_record_count(table);
    const std::optional<std::vector<uint32_t>>& old_view = table.filter.view_list;
    const size_t length = table.record_length();
    const bool plain = condition && compiled.plain && compiled.balance == 0;
    const bool known = plain && filter.known_pieces > 0 && old_view && filter.view == *old_view;
    const bool keep = plain && uint64_t{count} * length <= kKeptRecordBytes;
    std::vector<uint32_t> view;
    view.reserve(count);
    std::string records;
    std::vector<uint8_t> runs;
    FilterWork work;
    // Records are tested where the reader holds them; the record buffer receives a
    // record only when a comparison needs its text form, and the last one at the end.
    ViewReader reader(table, count);
    FetchedRecord record;
    ProgressMeter progress(count);
    for (uint32_t j = 0; j < count; ++j) {
        progress.step(j);
        record = reader.fetch(j);
        bool passes = false;
        if (!plain) {
            passes = fetched_record_passes(table, compiled, work, record);
        } else if (!deleted_and_hidden(table, record)) {
            // A record that passed the text before and is unchanged needs only the new pieces.
            const size_t at = records.size();
            if (keep) records.append(reinterpret_cast<const char*>(record.bytes), length);
            const bool unchanged = known && keep && filter.records.compare(j * length, length, records, at, length) == 0;
            const uint8_t state = plain_runs(table, compiled, unchanged ? filter.known_pieces : 0,
                                             unchanged ? filter.runs[j] : kLastRunHolds, work, record);
            passes = state != 0;
            if (passes && keep) runs.push_back(state);
            if (!passes) records.resize(at);
        }
        if (passes) view.push_back(old_view ? (*old_view)[j] : j);
    }
    if (record.bytes) record.into_buffer(table);
    reader.finish();
    if (condition) {
        filter.view = keep ? view : std::vector<uint32_t>();
        filter.records = std::move(records);
        filter.runs = std::move(runs);
        filter.known_pieces = keep ? compiled.pieces.size() : 0;
    }
    table.filter.view_list = std::move(view);
}

} // namespace rorarodi
