// Console messages, the one fatal exit and the verbose trace.
#pragma once
#include <string>

#include "session/session.h"

namespace rorarodi {

// Prints "%s %s" (message, name; no line end) and ends the program with status 1.
[[noreturn]] void fail_with_name(const std::string& message, const std::string& name);

// Notes that a parameter failed: the run goes on and ends with exit status 2.
void mark_failed(Session& session);

// For a command that would write records into a table whose header record length
// differs from the sum of its field widths: prints the two lengths and marks the
// parameter failed.
void refuse_record_writes(Session& session, const DbfTable& table);

// "Enter %s\n" / "Leave %s\n" when verbose is on.
void trace_enter(const Session& session, const char* name);
void trace_leave(const Session& session, const char* name);

// puts: the message and a line end.
void print_line(const char* message);

} // namespace rorarodi
