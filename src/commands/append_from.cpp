#include "commands/append_from.h"

namespace rorarodi {

void handle_append_from(Session& session, const std::string&) {}

} // namespace rorarodi
