// Appending the records of another table (+file.dbf).
#pragma once
#include <string>

namespace rorarodi {

void handle_append_from(const std::string& table_name);

} // namespace rorarodi
