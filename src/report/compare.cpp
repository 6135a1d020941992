#include "report/compare.h"

namespace rorarodi {

void handle_cmp(Session& session, const std::string&) {}

} // namespace rorarodi
