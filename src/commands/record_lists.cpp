#include "commands/record_lists.h"

namespace rorarodi {

void handle_range(const std::string&) {}
void handle_delete(const std::string&) {}
void handle_recall(const std::string&) {}
void handle_deleted(const std::string&) {}
void handle_deletedonly(const std::string&) {}
void handle_clear(const std::string&) {}
bool delete_record(DbfTable&, uint32_t) { return false; }
bool recall_record(DbfTable&, uint32_t) { return false; }

} // namespace rorarodi
