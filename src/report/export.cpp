#include "report/export.h"

namespace rorarodi {

void handle_select(Session& session, const std::string&) {}

} // namespace rorarodi
