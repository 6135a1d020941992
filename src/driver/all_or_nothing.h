// Each parameter as one all-or-nothing change of the tables it writes, and the
// recovery of an interrupted change when a table is opened.
#pragma once
#include <functional>
#include <string>

#include "session/session.h"

namespace rorarodi {

// What became of a step run as a change.
struct StepOutcome {
    bool wrote = false;  // the step changed a file
    bool kept = false;   // and its change stays
};

// Runs `step` (one parameter) as one change: the current table and its memo file
// are guarded; when a call that changes a file fails, or memory runs out, every
// file is put back as it was, the message names the file and the reason, the
// current table is read again from the disk, and the run ends with status 2.
// A step that sets `session.roll_back_step` (a dry run, an assignment that could
// not be evaluated) is rolled back on purpose: every file is put back and the
// table read again, without a message of this function.
StepOutcome run_as_change(Session& session, const std::function<void()>& step);

// Before a table is opened: rolls back an interrupted change of it (opened for
// writing), or refuses one that has such a change (opened read-only). False, with
// the message printed and the failure noted, when the table is to be skipped.
bool settle_interrupted_change(Session& session, const std::string& table_name, bool read_only);
// True when the journal of a change lies beside the table, even with no table of
// that name (a change interrupted at the wrong moment): it is settled first.
bool has_change_journal(const std::string& table_name);
// Forgets how the tables looked when this run read them (a new run starts).
void forget_seen_tables();

} // namespace rorarodi
