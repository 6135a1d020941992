#include "commands/update.h"

namespace rorarodi {

void handle_field(const std::string&) {}
void handle_update(const std::string&) {}

} // namespace rorarodi
