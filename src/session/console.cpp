#include "session/console.h"

#include <cstdio>
#include <cstdlib>

namespace rorarodi {

void fail_with_name(const std::string& message, const std::string& name) {
    std::printf("%s %s", message.c_str(), name.c_str());
    std::fflush(stdout);
    std::exit(1);
}

void mark_failed(Session& session) { session.parameter_failed = true; }

void refuse_record_writes(Session& session, const DbfTable& table) {
    std::printf("Record length %u in the header differs from %u, the sum of the field widths: %s not changed\n",
                header_record_length(table), table.record_length(), table.table_file_name.c_str());
    mark_failed(session);
}

void trace_enter(const Session& session, const char* name) {
    if (session.settings.verbose) std::printf("Enter %s\n", name);
}

void trace_leave(const Session& session, const char* name) {
    if (session.settings.verbose) std::printf("Leave %s\n", name);
}

void print_line(const char* message) { std::puts(message); }

} // namespace rorarodi
