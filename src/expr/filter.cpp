#include "expr/filter.h"

namespace rorarodi {

void apply_filter(DbfTable&, const FilterCondition&) {}
bool record_passes(DbfTable&, const FilterCondition&) { return true; }

} // namespace rorarodi
