#include "report/compare.h"

namespace rorarodi {

void handle_cmp(const std::string&) {}

} // namespace rorarodi
