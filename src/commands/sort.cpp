#include "commands/sort.h"

namespace rorarodi {

void handle_order(const std::string&) {}
void handle_sort(const std::string&) {}

} // namespace rorarodi
