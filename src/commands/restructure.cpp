#include "commands/restructure.h"

namespace rorarodi {

void handle_modify(const std::string&) {}
void create_table_from_structure(const std::string&, const std::string&) {}

} // namespace rorarodi
