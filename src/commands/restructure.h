// Creating tables from structure files (/CREATE) and restructuring them (/MODIFY).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_modify(Session& session, const std::string& argument);
// The single-purpose form: creates `table_name` from the structure file.
void create_table_from_structure(Session& session, const std::string& structure_file, const std::string& table_name);

} // namespace rorarodi
