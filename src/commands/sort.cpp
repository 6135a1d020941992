#include "commands/sort.h"

#include "session/console.h"
#include "session/session.h"
#include "expr/field_list.h"

namespace rorarodi {

void handle_order(Session& session, const std::string& argument) {
    trace_enter(session, "Order");
    if (argument.empty()) {
        print_line("Field[s] required for order...");
    } else if (!order_table(session.table(), argument)) {
        print_line("Invalid field[s]...");
    } else if (session.comparison_table && !order_table(*session.comparison_table, argument)) {
        print_line("Invalid field[s]...");
    }
    trace_leave(session, "Order");
}

// Recognised now; rewriting the file in order comes with the sort command.
void handle_sort(Session& session, const std::string&) {}

} // namespace rorarodi
