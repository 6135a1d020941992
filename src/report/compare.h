// Table comparison (/CMP).
#pragma once
#include <string>

namespace rorarodi {

void handle_cmp(const std::string& argument);

} // namespace rorarodi
