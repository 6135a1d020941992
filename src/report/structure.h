// /STRUCT: the structure of the current table on the console or in a file.
#pragma once
#include <string>

namespace rorarodi {

struct DbfTable;

// The /STRUCT handler; the argument is the text after "struct".
void list_structure(const std::string& argument);
// SQL type text of a field for the SQL statement.
std::string sql_type_name(const DbfTable& table, int field, bool sql2000);

} // namespace rorarodi
