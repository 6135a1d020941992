// Appending the records of another table (+file.dbf).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_append_from(Session& session, const std::string& table_name);

} // namespace rorarodi
