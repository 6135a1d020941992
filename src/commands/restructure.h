// Creating tables from structure files (/CREATE) and restructuring them (/MODIFY).
#pragma once
#include <string>

namespace rorarodi {

void handle_modify(const std::string& argument);
// The single-purpose form: creates `table_name` from the structure file.
void create_table_from_structure(const std::string& structure_file, const std::string& table_name);

} // namespace rorarodi
