// Duplicate removal (/DELDUPES).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_deldupes(Session& session, const std::string& argument);

} // namespace rorarodi
