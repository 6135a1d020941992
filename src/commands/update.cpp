#include "commands/update.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <cstring>

#include "expr/calculator.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/field_store.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/record_rewriter.h"
#include "table/table_write.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// A numeric assignment whose value text is fixed text and number fields: each
// record's numbers go straight into the compiled calculation, without the text
// being written and scanned, when every number field holds the canonical text of
// its value (the text substitution copies then). Compiled for each pattern of
// signs of the fields, as the patterns occur.
struct CompiledAssignment {
    std::vector<CalculationPiece> pieces;
    std::vector<int> fields;                                  // the number fields, in order
    std::vector<std::optional<CompiledCalculation>> by_signs;  // indexed by the negative fields' bits
    std::vector<bool> tried;
    std::vector<double> numbers;
};

// Up to this many number fields in one value get a compiled form.
constexpr size_t kMostCompiledFields = 6;

bool is_decimal_type(const DbfTable& table, int field) {
    const char type = table.field(field).type;
    return (type == 'N' || type == 'F') && !field_is_memo(table, field);
}

std::optional<CompiledAssignment> compile_assignment(const DbfTable& table, const AssignmentList::Assignment& assignment) {
    if (assignment.field < 0 || !is_decimal_type(table, assignment.field)) return std::nullopt;
    CompiledAssignment compiled;
    for (const SubstitutionPlan::Part& part : assignment.value.parts) {
        CalculationPiece piece;
        if (part.field >= 0) {
            if (!is_decimal_type(table, part.field)) return std::nullopt;
            piece.number = true;
            compiled.fields.push_back(part.field);
        } else {
            piece.text = part.text;
        }
        compiled.pieces.push_back(std::move(piece));
    }
    if (compiled.fields.empty() || compiled.fields.size() > kMostCompiledFields) return std::nullopt;
    const size_t patterns = size_t{1} << compiled.fields.size();
    compiled.by_signs.resize(patterns);
    compiled.tried.resize(patterns, false);
    compiled.numbers.resize(compiled.fields.size());
    return compiled;
}

// The value of a number field as its substituted text scans: false unless the
// stored text is canonical (then the text substitution copies it as it is).
bool canonical_number(const DbfTable& table, int field, double& value, bool& negative) {
    if (field_is_null(table, field)) return false;
    const FieldDescriptor& f = table.field(field);
    const std::string_view stored = field_stored_bytes(table, field);
    if (stored.size() != f.length || stored.empty() || !is_canonical_number(stored.data(), stored.size(), f.decimals))
        return false;
    size_t start = stored.find_first_not_of(' ');
    negative = stored[start] == '-';
    if (negative) ++start;
    // A canonical text has at most 15 significant digits: as an integer they are
    // exact in a double, and so is a power of ten up to 1e22, so their quotient is
    // the correctly rounded value of the text, which the calculator reads too.
    if (f.decimals <= 22) {
        uint64_t digits = 0;
        for (size_t i = start; i < stored.size(); ++i)
            if (stored[i] != '.') digits = digits * 10 + static_cast<uint64_t>(stored[i] - '0');
        value = static_cast<double>(digits) / kExactPowersOfTen[f.decimals];
        return true;
    }
    const char* first = stored.data() + start;
    const char* last = stored.data() + stored.size();
    const std::from_chars_result read = std::from_chars(first, last, value);
    return read.ec == std::errc() && read.ptr == last;
}

// The assignment's value for the record in the buffer through its compiled form;
// false when it has to be computed from its text.
bool compiled_value(CompiledAssignment& compiled, const DbfTable& table, double& value) {
    size_t signs = 0;
    for (size_t i = 0; i < compiled.fields.size(); ++i) {
        bool negative = false;
        if (!canonical_number(table, compiled.fields[i], compiled.numbers[i], negative)) return false;
        if (negative) signs |= size_t{1} << i;
    }
    if (!compiled.tried[signs]) {
        compiled.tried[signs] = true;
        for (size_t i = 0, n = 0; i < compiled.pieces.size(); ++i)
            if (compiled.pieces[i].number) compiled.pieces[i].negative = (signs >> n++) & 1;
        compiled.by_signs[signs] = compile_calculation(compiled.pieces);
    }
    const std::optional<CompiledCalculation>& calculation = compiled.by_signs[signs];
    return calculation && calculation->evaluate(compiled.numbers.data(), value);
}

// Work texts kept across assignments and records.
struct AssignmentWork {
    std::string value;
    std::string scratch;
    std::string saved;         // the assigned field's bytes before it was blanked
    bool memo_failed = false;  // a memo could not be written; its field kept its reference
    uint64_t errors = 0;       // values the calculator rejected
    // Compiled forms of the assignments, once compile_assignments has run.
    std::vector<std::optional<CompiledAssignment>> compiled;
};

void compile_assignments(const DbfTable& table, const AssignmentList& list, AssignmentWork& work) {
    for (const AssignmentList::Assignment& assignment : list.assignments)
        work.compiled.push_back(compile_assignment(table, assignment));
}


// Table text for a message.
std::string shown(const AssignmentList& list, const std::string& text) {
    return list.messages_utf8 ? list.messages_utf8->to_utf8(text) : text;
}

// Stores a text into a non-numeric field (blanked beforehand, its former bytes in
// work.saved). A memo that cannot be written leaves the field's old reference:
// the memo it names stays readable.
void store_text(DbfTable& table, int field, AssignmentWork& work) {
    const std::string_view text(work.value.c_str());
    if (!field_is_memo(table, field) || text.empty()) {
        set_field(table, field, text, 0);
        return;
    }
    if (write_memo_text(table, field, text)) return;
    const size_t offset = table.field(field).offset;
    std::copy(work.saved.begin(), work.saved.end(), table.record_buffer.begin() + static_cast<std::ptrdiff_t>(offset));
    work.memo_failed = true;
}

[[nodiscard]] bool apply_with(Session& session, DbfTable& table, const AssignmentList& list, AssignmentWork& work) {
    bool all = true;
    for (size_t a = 0; a < list.assignments.size(); ++a) {
        const AssignmentList::Assignment& assignment = list.assignments[a];
        if (assignment.field < 0) {
            report_failure(session, kInvalidField, shown(list, assignment.name));
            all = false;
            continue;
        }
        if (a < work.compiled.size() && work.compiled[a]) {
            double number = 0;
            if (compiled_value(*work.compiled[a], table, number)) {
                // A number field takes the number alone, as below.
                blank_field(table, assignment.field);
                set_field(table, assignment.field, std::string_view(), number);
                continue;
            }
        }
        bool numeric = false;
        substitute_planned(table, assignment.value, work.value, numeric);
        work.saved = field_stored_bytes(table, assignment.field);  // kept for a memo that fails
        blank_field(table, assignment.field);
        if (field_is_numeric(table, assignment.field)) {
            bool ok = true;
            double number = calculate(work.value, ok);
            if (ok) {
                set_field(table, assignment.field, work.value.c_str(), number);
            } else {
                if (++work.errors <= kShownErrors) report_failure(session, kErrorIn, shown(list, work.value));
                all = false;
            }
        } else {
            apply_string_functions(work.value, table, work.scratch);
            store_text(table, assignment.field, work);
        }
    }
    return all;
}

} // namespace

void report_unevaluated_values(Session& session, const DbfTable& table, uint64_t errors) {
    if (errors > kShownErrors)
        std::printf("%llu more values could not be computed\n",
                    static_cast<unsigned long long>(errors - kShownErrors));
    std::printf("%s is unchanged\n", table.table_file_name.c_str());
    mark_failed(session);
}

AssignmentList parse_assignments(const DbfTable& table, const std::string& text) {
    AssignmentList list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string piece = text.substr(start, end - start);
        const size_t equals = piece.find('=');
        if (equals != std::string::npos) {
            AssignmentList::Assignment assignment;
            assignment.name = piece.substr(0, equals);
            assignment.field = find_field(table, assignment.name.c_str());
            assignment.value = plan_substitution(table, std::string_view(piece).substr(equals + 1));
            list.assignments.push_back(std::move(assignment));
        }
        start = end + 1;
    }
    return list;
}

bool apply_assignments(Session& session, DbfTable& table, const AssignmentList& list) {
    AssignmentWork work;
    return apply_with(session, table, list, work);
}

AssignmentList session_assignments(const Session& session, const DbfTable& table) {
    if (!session.field_assignments) return AssignmentList{};
    const Utf8Page& page = text_utf8_page(table);
    AssignmentList list = parse_assignments(
        table, session.field_assignments_utf8 ? page.from_utf8(*session.field_assignments) : *session.field_assignments);
    if (session.settings.utf8) list.messages_utf8 = &page;
    return list;
}

void handle_field(Session& session, const std::string& argument) {
    trace_enter(session, "Field");
    if (argument.find('=') == std::string::npos) {
        report_failure(session, kInvalidCondition);
        return;
    }
    session.field_assignments = argument;
    session.field_assignments_utf8 = session.settings.utf8;
    trace_leave(session, "Field");
}

void handle_update(Session& session, const std::string&) {
    trace_enter(session, "Update");
    if (!session.field_assignments) {
        report_failure(session, kFieldsMustBeSpecified);
        return;
    }
    DbfTable& table = session.table();
    // A table opened read-only is left as it is, its memo file included.
    if (table_writable(table) && !table.record_buffer.empty()) {
        const AssignmentList list = session_assignments(session, table);
        AssignmentWork work;
        compile_assignments(table, list, work);
        RecordRewriter records(table);
        const uint32_t length = table.record_length();
        std::vector<uint8_t> before(length);
        bool written = true;
        visit_range_positions(session, table, [&](uint32_t position) {
            if (!records.read(position)) return;
            std::memcpy(before.data(), table.record_buffer.data(), length);
            // A failed assignment is reported (and counted) where it fails; the
            // others still reach the record.
            (void)apply_with(session, table, list, work);
            // A record the assignments left as it was needs no write.
            if (std::memcmp(before.data(), table.record_buffer.data(), length) != 0 && !records.write(position))
                written = false;
        });
        if (work.errors > 0) {
            // A value that cannot be computed would blank its field: the whole
            // parameter is rolled back instead, every record keeping its values.
            report_unevaluated_values(session, table, work.errors);
            session.roll_back_step = true;
        } else if (work.memo_failed) {
            // The records whose memo could not be written keep their old memos.
            report_failure(session, kCantWriteOutput, memo_file_path(table));
        }
        if (!records.finish() || !written) mark_failed(session);
    }
    trace_leave(session, "Update");
}

} // namespace rorarodi
