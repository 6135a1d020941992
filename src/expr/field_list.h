// Field lists ("f1;f2") as field indexes, sort keys and the order of a view.
#pragma once
#include <string>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Field indexes of a list of names (separators ";, \t\n\r", case ignored). A name
// that no field has ends the list; fails (returns false) when the first one does.
bool parse_field_list(const DbfTable& table, const std::string& text, std::vector<int>& indexes,
                      size_t max_fields);

// Builds the order of the whole view by the table's key fields into `slot`.
void build_order(DbfTable& table, std::optional<std::vector<int32_t>>& slot);

// /ORDER's work on one table; false when the field list is not valid.
bool order_table(DbfTable& table, const std::string& text);

} // namespace rorarodi
