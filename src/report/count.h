// /COUNT, /SUM and /AVG: figures about the records in view, on the console.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_count(Session& session, const std::string& argument);
enum class SumMode { sum, average };

// /SUM and /AVG: the total or the mean of each listed field ("*" for all) over the
// records in range, on the console.
void sum_fields(Session& session, const std::string& argument, SumMode mode);
void handle_sum(Session& session, const std::string& argument);
void handle_avg(Session& session, const std::string& argument);

} // namespace rorarodi
