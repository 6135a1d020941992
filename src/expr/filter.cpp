#include "expr/filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "expr/calculator.h"
#include "table/text_convert.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

// Comparison operators after the pairs are identified.
enum class Operator {
    equal,          // =
    exact,          // ==
    contains,       // ~
    lacks,          // ^
    less,           // < <<
    greater,        // > >>
    less_equal,     // <= =<
    greater_equal,  // >= =>
    not_equal,      // <> ><
    tilde_less,     // ~<
    tilde_greater,  // ~>
    tilde_equal,    // ~=
    other,          // + - / * ( )
};

// The operator at `position` of `text`, and the length it takes (1 or 2).
Operator identify_operator(const std::string& text, size_t position, size_t& length) {
    char first = text[position];
    char second = position + 1 < text.size() ? text[position + 1] : 0;
    length = 1;
    bool pair = (second == '>' || second == '<' || second == '=') &&
                (first == '=' || first == '~' || first == '>' || first == '<');
    if (pair) {
        length = 2;
        if (first == '=' && second == '=') return Operator::exact;
        // Other pairs are known by the 8-bit sum of their codes, so <= and =< agree.
        switch (static_cast<uint8_t>(first + second)) {
        case '<' + '<': return Operator::less;
        case '<' + '=': return Operator::less_equal;
        case '<' + '>': return Operator::not_equal;
        case '>' + '=': return Operator::greater_equal;
        case '>' + '>': return Operator::greater;
        case '~' + '<': return Operator::tilde_less;
        case '~' + '=': return Operator::tilde_equal;
        case '~' + '>': return Operator::tilde_greater;
        default: return Operator::other;
        }
    }
    switch (first) {
    case '=': return Operator::equal;
    case '~': return Operator::contains;
    case '^': return Operator::lacks;
    case '<': return Operator::less;
    case '>': return Operator::greater;
    default: return Operator::other;
    }
}

bool compare_numbers(Operator op, double left, double right) {
    switch (op) {
    case Operator::equal:
    case Operator::exact:
    case Operator::contains:
    case Operator::lacks: return left == right;
    case Operator::less: return left < right;
    case Operator::greater: return left > right;
    case Operator::less_equal:
    case Operator::tilde_less: return left <= right;
    case Operator::greater_equal:
    case Operator::tilde_greater: return left >= right;
    case Operator::not_equal: return left != right;
    default: return false;
    }
}

// Compares the texts over the length of the shorter one, as unsigned bytes.
int prefix_comparison(const std::string& left, const std::string& right) {
    size_t length = std::min(std::strlen(left.c_str()), std::strlen(right.c_str()));
    return std::strncmp(left.c_str(), right.c_str(), length);
}

bool compare_texts(Operator op, const std::string& left, const std::string& right) {
    switch (op) {
    case Operator::contains: return std::strstr(left.c_str(), right.c_str()) != nullptr;
    case Operator::lacks: return std::strstr(left.c_str(), right.c_str()) == nullptr;
    case Operator::exact: return std::strcmp(left.c_str(), right.c_str()) == 0;
    case Operator::equal: return prefix_comparison(left, right) == 0;
    case Operator::less: return prefix_comparison(left, right) < 0;
    case Operator::greater: return prefix_comparison(left, right) > 0;
    case Operator::less_equal: return prefix_comparison(left, right) <= 0;
    case Operator::greater_equal: return prefix_comparison(left, right) >= 0;
    case Operator::not_equal: return prefix_comparison(left, right) != 0;
    default: return false;
    }
}

// Upper-cases a comparison text: the table's upper-casing hook, else the ANSI page.
void upper_case_operand(DbfTable& table, std::string& text) {
    if (table.upper_case_hook)
        table.upper_case_hook(reinterpret_cast<unsigned char*>(text.data()));
    else
        upper_case_ansi(table, text.data());
}

// The comparison of a substituted simple condition held in `work.substituted`.
char compare_substituted(DbfTable& table, int operator_position, bool numeric, FilterWork& work) {
    if (operator_position < 0) return '0';
    const std::string& text = work.substituted;
    size_t position = static_cast<size_t>(operator_position);
    size_t length = 1;
    Operator op = identify_operator(text, position, length);
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
    if (table.case_insensitive) {
        upper_case_operand(table, work.left);
        upper_case_operand(table, work.right);
    }
    apply_string_functions(work.left, table, work.scratch);
    apply_string_functions(work.right, table, work.scratch);
    return compare_texts(op, work.left, work.right) ? '1' : '0';
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

int parenthesis_balance(std::string_view text) {
    int balance = 0;
    for (char c : text) {
        if (c == '(') ++balance;
        else if (c == ')') --balance;
    }
    return balance;
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

bool deleted_and_hidden(const DbfTable& table) {
    return table.hide_deleted && !table.record_buffer.empty() && table.record_buffer[0] == '*';
}

} // namespace

std::optional<std::vector<size_t>> split_condition(std::string_view condition) {
    std::vector<size_t> joiners;
    for (size_t i = 0; i < condition.size(); ++i)
        if (condition[i] == '&' || condition[i] == '|') joiners.push_back(i);
    if (parenthesis_balance(condition) != 0) return std::nullopt;
    return joiners;
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

void strip_unbalanced_parens(std::string& text) {
    if (text.empty()) return;
    int balance = parenthesis_balance(text);
    size_t begin = 0, end = text.size();
    while (balance != 0) {
        if (balance > 0 && begin < end && text[begin] == '(') {
            ++begin;
            --balance;
        } else if (balance < 0 && begin < end && text[end - 1] == ')') {
            --end;
            ++balance;
        } else {
            break;
        }
    }
    if (begin > 0 || end < text.size()) {
        text.erase(end);
        text.erase(0, begin);
    }
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

CompiledCondition compile_condition(const DbfTable& table, const FilterCondition& condition) {
    CompiledCondition compiled;
    if (!condition) {
        compiled.reset = true;
        return compiled;
    }
    const std::string_view text = *condition;
    std::optional<std::vector<size_t>> joiners = split_condition(text);
    if (!joiners) {
        compiled.balanced = false;
        return compiled;
    }
    if (joiners->empty()) {
        compiled.single = true;
        compiled.pieces.push_back({std::string(), plan_substitution(table, text), std::string()});
        return compiled;
    }
    size_t start = 0;
    for (size_t k = 0; k <= joiners->size(); ++k) {
        size_t end = k < joiners->size() ? (*joiners)[k] : text.size();
        char joiner = k < joiners->size() ? text[end] : 0;
        PieceLayout layout = lay_out_piece(text.substr(start, end - start));
        CompiledCondition::Piece piece{std::string(layout.opening), plan_substitution(table, layout.condition),
                                       std::string(layout.closing)};
        if (char written = logic_joiner(joiner)) piece.closing += written;
        compiled.pieces.push_back(std::move(piece));
        start = end + 1;
    }
    return compiled;
}

bool record_passes(DbfTable& table, CompiledCondition& condition, FilterWork& work) {
    if (deleted_and_hidden(table)) return false;
    if (condition.reset) return true;
    if (!condition.balanced) return false;
    const std::vector<CompiledCondition::Piece>& pieces = condition.pieces;
    if (condition.single) return evaluate_planned_condition(table, pieces[0].condition, work) != '0';
    work.logic.clear();
    if (pieces.size() > kRememberedPieces) {
        for (const CompiledCondition::Piece& piece : pieces) {
            work.logic += piece.opening;
            work.logic += evaluate_planned_condition(table, piece.condition, work);
            work.logic += piece.closing;
        }
        return logic_holds(work.logic);
    }
    // The logic text differs between records only in the pieces' results, so its
    // verdict is worked out once for every combination that occurs.
    uint32_t results = 0;
    for (size_t k = 0; k < pieces.size(); ++k)
        if (evaluate_planned_condition(table, pieces[k].condition, work) == '1') results |= uint32_t{1} << k;
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
    if (condition) {
        if (table.filter.filter_text)
            table.filter.filter_text = *table.filter.filter_text + "&" + *condition;
        else
            table.filter.filter_text = *condition;
    }
    table.order_list.reset();
    CompiledCondition compiled =
        compile_condition(table, condition ? table.filter.filter_text : FilterCondition(kResetMarker));
    const uint32_t count = view_record_count(table);
    const std::optional<std::vector<uint32_t>>& old_view = table.filter.view_list;
    std::vector<uint32_t> view;
    view.reserve(count);
    FilterWork work;
    ViewReader reader(table, count);
    for (uint32_t j = 0; j < count; ++j) {
        reader.read(j);
        if (record_passes(table, compiled, work)) view.push_back(old_view ? (*old_view)[j] : j);
    }
    reader.finish();
    table.filter.view_list = std::move(view);
}

} // namespace rorarodi
