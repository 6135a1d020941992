// /COUNT, /SUM and /AVG: figures about the records in view, on the console.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_count(Session& session, const std::string& argument);
void handle_sum(Session& session, const std::string& argument);
void handle_avg(Session& session, const std::string& argument);

} // namespace rorarodi
