// /ORDER (an order over the view) and /SORT (the file rewritten in order).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_order(Session& session, const std::string& argument);
void handle_sort(Session& session, const std::string& argument);

} // namespace rorarodi
