#include "commands/maintenance.h"

#include <cstdio>
#include <limits>
#include <optional>

#include "commands/update.h"
#include "platform/text.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/create.h"
#include "table/dbf_format.h"
#include "table/memo.h"
#include "table/table_write.h"

namespace rorarodi {

namespace {

// True when creating `file_name` (and a memo file beside it) would replace the
// open table or its memo file.
bool would_replace_open_table(DbfTable& table, const std::string& file_name, TableKind kind) {
    if (names_open_file(file_name, table.table_handle)) return true;
    if (table.first_memo_field < 0) return false;
    const std::string new_memo = make_memo_file_name(file_name, kind);
    FileHandle memo = open_file_read_only(memo_file_path(table));
    return names_open_file(new_memo, table.table_handle) || names_open_file(new_memo, memo);
}

// A record count given as a whole number (blanks around it, an optional '+')
// that the header's 32-bit count can hold; nothing for anything else.
std::optional<uint32_t> record_count_argument(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (text[0] == '+') text.remove_prefix(1);
    uint64_t value = 0;
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// /PACK, /ZAP and /TRUNC rewrite the file in place and refuse to run while a view
// list or an order is in force; the refusal is said. True when refused.
bool refused_for_view(Session& session, const char* parameter) {
    DbfTable& table = session.table();
    if (!(table.filter.view_list || table.order_list) || !table.table_handle.is_writable()) return false;
    refuse_parameter(session, parameter, table.table_file_name, kRefusedForView);
    return true;
}

} // namespace

void handle_pack(Session& session, const std::string& argument) {
    trace_enter(session, "Pack");
    if (equals_ignoring_case(argument.c_str(), ":dbf")) {
        session.settings.pack_mode = PackMode::table_only;
    } else if (equals_ignoring_case(argument.c_str(), ":memo")) {
        session.settings.pack_mode = PackMode::memo_only;
    } else if (!argument.empty()) {
        report_failure(session, kInvalidPackParameter);
        return;
    }
    if (!refused_for_view(session, "/PACK") && !pack_table(session.table(), session.settings.pack_mode))
        mark_failed(session);
    trace_leave(session, "Pack");
}

void handle_zap(Session& session, const std::string&) {
    trace_enter(session, "Zap");
    if (!refused_for_view(session, "/ZAP") && !truncate_records(session.table(), 0)) mark_failed(session);
    trace_leave(session, "Zap");
}

void handle_trunc(Session& session, const std::string& argument) {
    trace_enter(session, "Trunc");
    if (argument.empty()) {
        report_failure(session, kParameterRequiredForTrunc);
    } else if (std::optional<uint32_t> count = record_count_argument(argument); !count) {
        // A text that is no number would zap the table, and a count the header
        // cannot hold would be cut to another.
        report_failure(session, kInvalidTruncParameter);
    } else {
        if (!refused_for_view(session, "/TRUNC") && !truncate_records(session.table(), *count)) mark_failed(session);
    }
    trace_leave(session, "Trunc");
}

void handle_append(Session& session, const std::string& argument) {
    trace_enter(session, "Append");
    DbfTable& table = session.table();
    long copies = 0;
    if (argument.empty()) {
        copies = 1;
    } else if (argument[0] == ':') {
        const std::string rest = argument.substr(1);
        if (starts_with_ignoring_case(rest.c_str(), "blank")) {
            if (!append_record(table, true)) mark_failed(session);
        } else {
            copies = leading_int32(rest.c_str());
        }
    }
    if (copies > 0 && table_writable(table) && !table.record_buffer.empty()) {
        // Assignments are applied once; every copy carries the same values.
        // An assignment that fails is reported (and counted) where it fails; the
        // copies are appended with the values that could be set.
        if (session.field_assignments) (void)apply_assignments(session, table, session_assignments(session, table));
        if (append_records(table, static_cast<uint32_t>(copies)) < static_cast<uint32_t>(copies)) mark_failed(session);
    }
    trace_leave(session, "Append");
}

void handle_blank(Session& session, const std::string&) {
    trace_enter(session, "Blank");
    blank_record_buffer(session.table());
    trace_leave(session, "Blank");
}

void handle_cpzero(Session& session, const std::string& argument) {
    trace_enter(session, "CPZero");
    DbfTable& table = session.table();
    long number = argument.empty() ? 0 : leading_int32(argument.c_str() + 1);
    const auto mark = static_cast<uint8_t>(number & 0xFF);
    if (table.header_image[kCodePageMarkOffset] != mark && table.table_handle.is_writable() &&
        !write_header_byte(table, kCodePageMarkOffset, mark))
        mark_failed(session);
    trace_leave(session, "CPZero");
}

void handle_cdx(Session& session, const std::string&) {
    trace_enter(session, "CDX");
    DbfTable& table = session.table();
    if (table.header_image[kTableFlagsOffset] != 0 && table.table_handle.is_writable() &&
        !write_header_byte(table, kTableFlagsOffset, 0))
        mark_failed(session);
    trace_leave(session, "CDX");
}

void handle_check(Session& session, const std::string&) {
    trace_enter(session, "Check");
    DbfTable& table = session.table();
    if (!record_geometry_agrees(table)) {
        // The header's record length is repaired only when the file shows it wrong;
        // otherwise the fields may be what is wrong, and nothing is written.
        if (repair_record_geometry(table))
            table.header_problems &= ~(kDamagedVersion | kRecordCountMismatch);
        else if (table.table_handle.is_writable())
            refuse_record_writes(session, table);
    } else if (table.header_problems != 0 && write_header(table)) {
        // The header gets the version byte and record count that opening computed.
        table.header_problems &= ~(kDamagedVersion | kRecordCountMismatch);
    }
    trace_leave(session, "Check");
}

void handle_make(Session& session, const std::string& argument) {
    trace_enter(session, "Make");
    if (argument.empty()) {
        report_failure(session, kFilenameRequiredForMake);
        trace_leave(session, "Make");
        return;
    }
    DbfTable& table = session.table();
    // The new table carries the code-page mark of the table it copies.
    if (would_replace_open_table(table, argument, table.table_kind) ||
        !create_table_file(argument, table.field_table, table.table_kind,
                           static_cast<uint32_t>(table.options.new_memo_block_size), true,
                           table.header_image[kCodePageMarkOffset]))
        report_failure(session, kCantCreate, argument);
    trace_leave(session, "Make");
}

} // namespace rorarodi
