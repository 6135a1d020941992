// Record export (/SELECT) to the console and to files.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_select(Session& session, const std::string& argument);

} // namespace rorarodi
