#include "commands/update.h"

#include <algorithm>
#include <cstdio>
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

// Work texts kept across assignments and records.
struct AssignmentWork {
    std::string value;
    std::string scratch;
    std::string saved;         // the assigned field's bytes before it was blanked
    bool memo_failed = false;  // a memo could not be written; its field kept its reference
    uint64_t errors = 0;       // values the calculator rejected
};


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
    for (const AssignmentList::Assignment& assignment : list.assignments) {
        if (assignment.field < 0) {
            report_failure(session, kInvalidField, shown(list, assignment.name));
            all = false;
            continue;
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
