// Creating tables from structure files (/CREATE) and restructuring them (/MODIFY).
#pragma once
#include <string>
#include <vector>

namespace rorarodi {

struct Session;

void handle_modify(Session& session, const std::string& argument);
// The field names a structure file defines or renames fields to (empty when it
// cannot be read), so that checks made before /MODIFY runs know them.
std::vector<std::string> structure_file_names(const std::string& structure_file);
// The single-purpose form: creates `table_name` from the structure file.
void create_table_from_structure(Session& session, const std::string& structure_file, const std::string& table_name);

} // namespace rorarodi
