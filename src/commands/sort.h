// /ORDER (an order over the view) and /SORT (the file rewritten in order).
#pragma once
#include <string>

namespace rorarodi {

void handle_order(const std::string& argument);
void handle_sort(const std::string& argument);

} // namespace rorarodi
