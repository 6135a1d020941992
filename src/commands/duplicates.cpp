#include "commands/duplicates.h"

namespace rorarodi {

void handle_deldupes(const std::string&) {}

} // namespace rorarodi
