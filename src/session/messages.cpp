#include "session/messages.h"

#include <cstdio>
#include <cstring>

#include "session/console.h"

namespace rorarodi {

void report_failure(Session& session, FailureLine message) {
    std::puts(message.text);
    mark_failed(session);
}

void report_failure(Session& session, FailureFormat message, const std::string& name) {
    // The format is one of the constants above, checked to hold one "%s" only.
    std::printf(message.text, name.c_str());
    mark_failed(session);
}

void report_missing_file(Session& session, const std::string& name, int error) {
    // Standard output first, so that a terminal shows the lines in the order made.
    std::fflush(stdout);
    std::fprintf(stderr, "rorarodi: %s: %s\n", name.c_str(), std::strerror(error));
    mark_failed(session);
}

} // namespace rorarodi
