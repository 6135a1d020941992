// Field names in expression texts replaced by the current record's values, and the
// string functions (TRIM(, SUBSTR(, DTOS(, ...) applied to a text.
#pragma once
#include <string>

#include "table/table.h"

namespace rorarodi {

// Writes `source` with field names replaced into `output`; returns the output
// position of the first operator character outside quotes, or -1; `numeric` is set
// when a numeric field was substituted.
int substitute_fields(DbfTable& table, const std::string& source, std::string& output, bool& numeric);

// Rewrites `text` with the string functions applied.
void apply_string_functions(std::string& text, DbfTable& table);

} // namespace rorarodi
