// Every parameter of a table's run checked before the first one runs, so that a
// mistake typed on the command line stops a run that would change the table.
#pragma once
#include <string>
#include <vector>

#include "session/session.h"

namespace rorarodi {

// Checks the parameter texts of the current table's run (INI file, command line and
// list files, each without its '/' or '-', in order): unknown keywords, rejected
// settings, filters that are invalid or hold a condition that names no field, field
// lists naming a field the table lacks, and assignments that name no field (names a
// /MODIFY before them creates count as known). Turns the dry run on when the run
// holds /DRYRUN. When the run would change the table and a check failed, prints the
// messages, then "NAME: nothing was changed" on standard error, makes the exit
// status 2 and returns false: no parameter of the table is to run.
bool check_run_before_changes(Session& session, const std::vector<std::string>& texts);

} // namespace rorarodi
