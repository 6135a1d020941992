#include "report/export.h"

namespace rorarodi {

void handle_select(const std::string&) {}

} // namespace rorarodi
