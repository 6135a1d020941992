// Record export (/SELECT) to the console and to files.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

// /SELECT and "s:": writes the listed fields ("*" or "!" for all) of the records in
// range in the output format of /OUT, appending to its file.
void export_records(Session& session, const std::string& argument);

} // namespace rorarodi
