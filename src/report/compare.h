// Table comparison (/CMP): the first /CMP opens the comparison table, the second
// prints the chosen reports and closes it.
#pragma once
#include <string>

namespace rorarodi {

struct Session;
struct DbfTable;

void handle_cmp(Session& session, const std::string& argument);

// Match score of field `field` of `x` against `y`: 0 when `y` has no field of that
// name (case ignored), else 1 plus one for each of type, size (length and
// decimals) and offset that are equal, stopping at the first that differs.
// `found` receives the index of the matching field of `y` (-1 for none).
int match_field(const DbfTable& x, int field, const DbfTable& y, int& found);

// The 32-character description of a field: name, type name, length and, for
// numbers and eight-byte dates, the decimal count.
std::string describe_field(const DbfTable& table, int field);

} // namespace rorarodi
