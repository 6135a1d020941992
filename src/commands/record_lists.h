// Record lists (/RANGE), deletion marks (/DELETE, /RECALL) and deleted-record views
// (/DELETED, /DELETEDONLY, /CLEAR).
#pragma once
#include <cstdint>
#include <string>

#include "table/table.h"

namespace rorarodi {

void handle_range(const std::string& argument);
void handle_delete(const std::string& argument);
void handle_recall(const std::string& argument);
void handle_deleted(const std::string& argument);
void handle_deletedonly(const std::string& argument);
void handle_clear(const std::string& argument);

// Marks the record at a view position deleted (or live); true when the mark is as
// asked afterwards. Only the mark byte is read and written.
bool delete_record(DbfTable& table, uint32_t position);
bool recall_record(DbfTable& table, uint32_t position);

} // namespace rorarodi
