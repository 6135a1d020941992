#include "commands/duplicates.h"

namespace rorarodi {

void handle_deldupes(Session& session, const std::string&) {}

} // namespace rorarodi
