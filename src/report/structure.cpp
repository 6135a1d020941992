#include "report/structure.h"

#include "table/table.h"

namespace rorarodi {

void list_structure(const std::string&) {}
std::string sql_type_name(const DbfTable&, int, bool) { return std::string(); }

} // namespace rorarodi
