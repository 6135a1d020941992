// Record export (/SELECT) to the console and to files.
#pragma once
#include <string>

namespace rorarodi {

void handle_select(const std::string& argument);

} // namespace rorarodi
