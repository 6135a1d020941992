#include "driver/settings.h"

namespace rorarodi {

ProcessState& process_state() {
    static ProcessState state;
    return state;
}

void reset_process_state() {
    ProcessState& state = process_state();
    state.settings = RunSettings{};
    state.current_table.reset();
    state.range_list = RangeList{};
    state.field_assignments.reset();
    state.translation_tables = TranslationTables{};
    state.comparison_table.reset();
    state.ini_path.clear();
}

} // namespace rorarodi
