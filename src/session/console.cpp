#include "session/console.h"

#include <cstdio>
#include <cstdlib>

#include "platform/change.h"

namespace rorarodi {

void fail_with_name(const std::string& message, const std::string& name) {
    std::printf("%s %s", message.c_str(), name.c_str());
    std::fflush(stdout);
    // What the parameter changed so far is put back before the program ends.
    if (change_open()) (void)finish_change(false);  // the fatal message is the report
    std::exit(1);
}

void mark_failed(Session& session) { session.parameter_failed = true; }

void trace_enter(const Session& session, const char* name) {
    if (session.settings.verbose) std::printf("Enter %s\n", name);
}

void trace_leave(const Session& session, const char* name) {
    if (session.settings.verbose) std::printf("Leave %s\n", name);
}

} // namespace rorarodi
