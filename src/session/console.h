// Console messages, the one fatal exit and the verbose trace.
#pragma once
#include <string>

#include "session/session.h"

namespace rorarodi {

// Prints "%s %s" (message, name; no line end) and ends the program with status 1.
[[noreturn]] void fail_with_name(const std::string& message, const std::string& name);

// Notes that a parameter failed: the run goes on and ends with exit status 2. A
// failure that prints one of the messages of messages.h goes through report_failure,
// which calls this.
void mark_failed(Session& session);

// "Enter %s\n" / "Leave %s\n" when verbose is on.
void trace_enter(const Session& session, const char* name);
void trace_leave(const Session& session, const char* name);

} // namespace rorarodi
