#include "session/messages.h"

#include <cstdio>
#include <cstring>

#include "session/console.h"

namespace rorarodi {

void refuse_record_writes(Session& session, const DbfTable& table) {
    std::printf("Record length %u in the header differs from %u, the sum of the field widths: %s not changed\n",
                header_record_length(table), table.record_length(), table.table_file_name.c_str());
    mark_failed(session);
}

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
