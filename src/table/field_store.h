// Storing a value into a field of the record buffer, whatever its type: memo
// fields get a new memo appended to the memo file.
#pragma once
#include <string_view>

#include "table/table.h"

namespace rorarodi {

// Stores a value; the text or the number counts depending on the type, and the
// text ends at the first zero byte of `data`. Memo fields append a new memo to the
// memo file: that text, or, when the number is above 0, the first that-many bytes
// of `data` (zero bytes included, never more than it holds). Returns nothing; a
// value that does not fit leaves the field unchanged.
void set_field(DbfTable& table, int field, std::string_view data, double number);

} // namespace rorarodi
