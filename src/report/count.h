// /COUNT, /SUM and /AVG: figures about the records in view, on the console.
#pragma once
#include <string>

namespace rorarodi {

void handle_count(const std::string& argument);
void handle_sum(const std::string& argument);
void handle_avg(const std::string& argument);

} // namespace rorarodi
