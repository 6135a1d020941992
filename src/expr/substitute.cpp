#include "expr/substitute.h"

namespace rorarodi {

int substitute_fields(DbfTable&, const std::string& source, std::string& output, bool& numeric) {
    output = source;
    numeric = false;
    return -1;
}

void apply_string_functions(std::string&, DbfTable&) {}

} // namespace rorarodi
