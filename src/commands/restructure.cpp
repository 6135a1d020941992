#include "commands/restructure.h"

namespace rorarodi {

void handle_modify(Session& session, const std::string&) {}
void create_table_from_structure(Session&, const std::string&, const std::string&) {}

} // namespace rorarodi
