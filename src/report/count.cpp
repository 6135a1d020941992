#include "report/count.h"

#include <cstdio>

#include "session/console.h"
#include "session/session.h"

namespace rorarodi {

void handle_count(Session& session, const std::string&) {
    trace_enter(session, "Count");
    DbfTable& table = session.table();
    unsigned count = view_record_count(table);
    if (session.settings.show_names)
        std::printf("%8d|%s\n", static_cast<int>(count), table.table_file_name.c_str());
    else
        std::printf("%d\n", static_cast<int>(count));
    trace_leave(session, "Count");
}

// Recognised now; totals and averages come with the record export.
void handle_sum(Session& session, const std::string&) {}
void handle_avg(Session& session, const std::string&) {}

} // namespace rorarodi
