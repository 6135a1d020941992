// Table comparison (/CMP).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_cmp(Session& session, const std::string& argument);

} // namespace rorarodi
