// /STRUCT: the structure of the current table on the console or in a file.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

struct DbfTable;
class Utf8Page;

// The /STRUCT handler; the argument is the text after "struct": empty for the console
// listing, or ':' and a file name whose extension picks the format. Ends the program
// through fail_with_name when the file cannot be created.
void list_structure(Session& session, const std::string& argument);
// SQL type text of a field for the SQL statement ("Bit"/"Text" in the SQL 2000 flavour).
std::string sql_type_name(const DbfTable& table, int field, bool sql2000);
// The "<Field>" entries of every field of the table, as the XML listing writes them
// (also the structure block of an XML record export); names in UTF-8 when `utf8` is
// given.
std::string xml_field_entries(const DbfTable& table, const Utf8Page* utf8 = nullptr);

} // namespace rorarodi
