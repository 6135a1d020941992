#include "commands/update.h"

namespace rorarodi {

void handle_field(Session& session, const std::string&) {}
void handle_update(Session& session, const std::string&) {}

} // namespace rorarodi
