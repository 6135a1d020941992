#include "commands/sort.h"

#include "driver/console.h"
#include "driver/settings.h"
#include "expr/field_list.h"

namespace rorarodi {

void handle_order(const std::string& argument) {
    trace_enter("Order");
    if (argument.empty()) {
        print_line("Field[s] required for order...");
    } else if (!order_table(current_table(), argument)) {
        print_line("Invalid field[s]...");
    } else if (process_state().comparison_table && !order_table(*process_state().comparison_table, argument)) {
        print_line("Invalid field[s]...");
    }
    trace_leave("Order");
}

// Recognised now; rewriting the file in order comes with the sort command.
void handle_sort(const std::string&) {}

} // namespace rorarodi
