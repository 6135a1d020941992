#include "expr/field_list.h"

namespace rorarodi {

bool parse_field_list(const DbfTable&, const std::string&, std::vector<int>& indexes, size_t) {
    indexes.clear();
    return false;
}
void build_order(DbfTable&, std::optional<std::vector<int32_t>>& slot) { slot.reset(); }
bool order_table(DbfTable&, const std::string&) { return false; }

} // namespace rorarodi
