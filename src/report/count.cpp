#include "report/count.h"

#include <cstdio>

#include "driver/console.h"
#include "driver/settings.h"

namespace rorarodi {

void handle_count(const std::string&) {
    trace_enter("Count");
    DbfTable& table = current_table();
    unsigned count = view_record_count(table);
    if (run_settings().show_names)
        std::printf("%8d|%s\n", static_cast<int>(count), table.table_file_name.c_str());
    else
        std::printf("%d\n", static_cast<int>(count));
    trace_leave("Count");
}

// Recognised now; totals and averages come with the record export.
void handle_sum(const std::string&) {}
void handle_avg(const std::string&) {}

} // namespace rorarodi
