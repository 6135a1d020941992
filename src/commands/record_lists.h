// Record lists (/RANGE), deletion marks (/DELETE, /RECALL) and deleted-record views
// (/DELETED, /DELETEDONLY, /CLEAR).
#pragma once
#include <cstdint>
#include <string>

#include "table/table.h"

namespace rorarodi {

struct Session;

void handle_range(Session& session, const std::string& argument);
void handle_delete(Session& session, const std::string& argument);
void handle_recall(Session& session, const std::string& argument);
void handle_deleted(Session& session, const std::string& argument);
void handle_deletedonly(Session& session, const std::string& argument);
void handle_clear(Session& session, const std::string& argument);

// Marks the record at a view position deleted; a record already marked is left
// alone. Only the mark byte is read and written. False when the write failed.
[[nodiscard]] bool delete_record(DbfTable& table, uint32_t position);
// Clears the mark of a deleted record at a view position; false when the write failed.
[[nodiscard]] bool recall_record(DbfTable& table, uint32_t position);

} // namespace rorarodi
