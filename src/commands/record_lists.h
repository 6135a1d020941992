// Record lists (/RANGE), deletion marks (/DELETE, /RECALL) and deleted-record views
// (/DELETED, /DELETEDONLY, /CLEAR).
#pragma once
#include <cstdint>
#include <string>

#include "driver/settings.h"
#include "table/table.h"

namespace rorarodi {

void handle_range(const std::string& argument);
void handle_delete(const std::string& argument);
void handle_recall(const std::string& argument);
void handle_deleted(const std::string& argument);
void handle_deletedonly(const std::string& argument);
void handle_clear(const std::string& argument);

// Marks the record at a view position deleted; a record already marked is left
// alone. Only the mark byte is read and written. False when the write failed.
bool delete_record(DbfTable& table, uint32_t position);
// Clears the mark of a deleted record at a view position; false when the write failed.
bool recall_record(DbfTable& table, uint32_t position);

// Calls `visit(position)` for the positions that range readers visit: the /RANGE
// entries in list order (positions at or past the view size skipped, a position
// listed twice visited twice) or, without a list, every position of the view.
template <typename Visit>
void visit_range_positions(const DbfTable& table, Visit&& visit) {
    const uint32_t view_size = view_record_count(table);
    const auto& entries = process_state().range_list.entries;
    if (!entries) {
        for (uint32_t position = 0; position < view_size; ++position) visit(position);
        return;
    }
    for (const RangeSegment& segment : *entries)
        for (uint64_t position = segment.first; position <= segment.last && position < view_size; ++position)
            visit(static_cast<uint32_t>(position));
}

} // namespace rorarodi
