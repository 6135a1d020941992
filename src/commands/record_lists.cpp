#include "commands/record_lists.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "platform/text.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "expr/filter.h"
#include "table/dbf_format.h"

namespace rorarodi {

namespace {

bool begins_with_all(const std::string& argument) { return starts_with_ignoring_case(argument.c_str(), "all"); }

// The tokens of a list, separated by runs of ';' and ','.
std::vector<std::string> list_tokens(const std::string& argument) {
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start < argument.size()) {
        size_t end = argument.find_first_of(";,", start);
        if (end == std::string::npos) end = argument.size();
        if (end > start) tokens.push_back(argument.substr(start, end - start));
        start = end + 1;
    }
    return tokens;
}

// The positions (1-based in the text) that a token names, as a 0-based segment. A
// token is N, or N1-N2 when it holds a '-' (N2 read after the first '-'); each
// number is read like atoi, up to the largest record number (a table may hold more
// than 2^31 records). A first number of 0 or below, or N2 below N1, names nothing.
std::optional<RangeSegment> token_segment(const std::string& token) {
    auto number = [](const char* text) {
        return std::min<long long>(read_leading_integer(text).value_or(0), std::numeric_limits<uint32_t>::max());
    };
    long long first = number(token.c_str());
    if (first <= 0) return std::nullopt;
    long long last = first;
    size_t hyphen = token.find('-');
    if (hyphen != std::string::npos) last = number(token.c_str() + hyphen + 1);
    if (last < first) return std::nullopt;
    return RangeSegment{static_cast<uint32_t>(first - 1), static_cast<uint32_t>(last - 1)};
}

std::vector<RangeSegment> parse_record_list(const std::string& argument) {
    std::vector<RangeSegment> segments;
    for (const std::string& token : list_tokens(argument))
        if (std::optional<RangeSegment> segment = token_segment(token)) segments.push_back(*segment);
    return segments;
}

// /DELETE and /RECALL: one routine marking the listed view positions. A mark that
// cannot be read or written (a read-only table, a backup that cannot be made) ends
// the work: the later marks would fail the same way.
void mark_listed_records(Session& session, const std::string& argument, const char* trace_name,
                         FailureLine required_message, bool (*operation)(DbfTable&, uint32_t)) {
    trace_enter(session, trace_name);
    if (argument.empty()) {
        report_failure(session, required_message);
        return;
    }
    DbfTable& table = session.table();
    const uint32_t view_size = view_record_count(table);
    bool marked = true;
    if (begins_with_all(argument))
        for (uint32_t position = 0; marked && position < view_size; ++position) marked = operation(table, position);
    for (const RangeSegment& segment : parse_record_list(argument))
        for (uint64_t position = segment.first; marked && position <= segment.last && position < view_size; ++position)
            marked = operation(table, static_cast<uint32_t>(position));
    trace_leave(session, trace_name);
}

[[nodiscard]] bool set_mark(DbfTable& table, uint32_t position, uint8_t wanted, bool only_when_deleted) {
    const std::optional<uint8_t> mark = read_mark_byte(table, position);
    if (!mark) return false;
    if (*mark == wanted) return true;
    if (only_when_deleted && *mark != kDeletedMark) return true;
    return write_mark_byte(table, position, wanted);
}

} // namespace

bool delete_record(DbfTable& table, uint32_t position) { return set_mark(table, position, kDeletedMark, false); }

bool recall_record(DbfTable& table, uint32_t position) { return set_mark(table, position, kLiveMark, true); }

void handle_range(Session& session, const std::string& argument) {
    trace_enter(session, "Range");
    RangeList& range = session.range_list;
    if (argument.empty()) {
        report_failure(session, kParameterRequiredForRange);
    } else if (begins_with_all(argument)) {
        range.entries.reset();
    } else {
        // Every token creates the list, even one that names no record.
        for (const std::string& token : list_tokens(argument)) {
            if (!range.entries) range.entries.emplace();
            if (std::optional<RangeSegment> segment = token_segment(token)) range.entries->push_back(*segment);
        }
    }
    trace_leave(session, "Range");
}

void handle_delete(Session& session, const std::string& argument) {
    mark_listed_records(session, argument, "Delete", kParameterRequiredForDelete, delete_record);
}

void handle_recall(Session& session, const std::string& argument) {
    mark_listed_records(session, argument, "Recall", kParameterRequiredForRecall, recall_record);
}

void handle_deleted(Session& session, const std::string& argument) {
    trace_enter(session, "Deleted");
    DbfTable& table = session.table();
    bool old_hide = table.options.hide_deleted;
    table.options.hide_deleted = !argument.empty() && argument[0] == '-';
    if (table.options.hide_deleted != old_hide) apply_filter(table, kResetMarker);
    if (!table.options.hide_deleted && !table.filter.filter_text) clear_view(table);
    trace_leave(session, "Deleted");
}

void handle_deletedonly(Session& session, const std::string&) {
    DbfTable& table = session.table();
    table.options.hide_deleted = false;
    clear_view(table);
    table.filter.filter_text.reset();
    std::vector<uint32_t> deleted;
    const uint32_t count = table.record_count();
    for (uint32_t index = 0; index < count; ++index) {
        if (read_mark_byte(table, index) == kDeletedMark) deleted.push_back(index);
    }
    table.filter.view_list = std::move(deleted);
}

void handle_clear(Session& session, const std::string&) {
    trace_enter(session, "Clear");
    clear_view(session.table());
    trace_leave(session, "Clear");
}

} // namespace rorarodi
