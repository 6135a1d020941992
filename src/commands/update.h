// Field assignments (/FIELD) and their application to records (/UPDATE).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_field(Session& session, const std::string& argument);
void handle_update(Session& session, const std::string& argument);

} // namespace rorarodi
