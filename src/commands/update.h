// Field assignments (/FIELD) and their application to records (/UPDATE).
#pragma once
#include <string>

namespace rorarodi {

void handle_field(const std::string& argument);
void handle_update(const std::string& argument);

} // namespace rorarodi
