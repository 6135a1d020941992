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

void warn_on_standard_error(const std::string& text) {
    // Standard output first, so that a terminal shows the lines in the order made.
    std::fflush(stdout);
    std::fprintf(stderr, "rorarodi: %s\n", text.c_str());
}

void report_on_standard_error(Session& session, const std::string& text) {
    warn_on_standard_error(text);
    mark_failed(session);
}

void refuse_parameter(Session& session, const std::string& parameter, const std::string& table_name,
                      const char* reason) {
    report_on_standard_error(session, parameter + ": " + table_name + " " + reason);
}

void report_condition_without_field(Session& session, const std::string& condition, const std::string& table_name) {
    report_on_standard_error(session, "the condition " + condition + " names no field of " + table_name);
}

void report_change_failure(Session& session, const std::string& reason, const std::string& table_name, ChangeEnd end,
                           const std::string& rollback_reason) {
    std::printf("%s", reason.c_str());
    if (!table_name.empty()) {
        switch (end) {
        case ChangeEnd::made: std::printf("; the change of %s is made", table_name.c_str()); break;
        case ChangeEnd::not_put_back:
            std::printf("; %s could not be put back (%s) and is put back when it is next opened for writing",
                        table_name.c_str(), rollback_reason.c_str());
            break;
        case ChangeEnd::unchanged: std::printf("; %s is unchanged", table_name.c_str()); break;
        }
    }
    std::printf("\n");
    mark_failed(session);
}

void refuse_interrupted_change(Session& session, const std::string& table_name) {
    std::printf("%s has an interrupted change: open it for writing to roll it back\n", table_name.c_str());
    mark_failed(session);
}

void report_failed_recovery(Session& session, const std::string& table_name, const std::string& reason) {
    std::printf("Can't roll back the interrupted change of %s: %s\n", table_name.c_str(), reason.c_str());
    mark_failed(session);
}

} // namespace rorarodi
