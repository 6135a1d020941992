// Duplicate removal (/DELDUPES).
#pragma once
#include <string>

namespace rorarodi {

void handle_deldupes(const std::string& argument);

} // namespace rorarodi
