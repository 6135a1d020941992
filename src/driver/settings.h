// Process-wide state: the run settings, the current table and the other settings
// that live from program start to exit and survive from one matched file to the next.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "table/table.h"

namespace rorarodi {

enum class OutputFormat { console, text, sql, table, program, html, csv, xml };

struct RunSettings {
    bool verbose = false;
    bool show_deletion_marks = false;
    int pack_mode = 0;  // 0 table and memo, 1 table only, 2 memo only
    bool memo_as_text = false;
    bool show_names = false;
    bool header_line = false;
    int new_table_kind = -1;  // -1: as the source table
    bool sql2000 = false;
    char output_quote = '"';
    char escape_character = 0;
    int output_conversion = 0;  // 0 none, 1 OEM to ANSI, 2 ANSI to OEM
    int line_break_mode = 0;    // 0 keep, 1 kill
    OutputFormat output_format = OutputFormat::console;
    std::optional<std::string> output_file_name;
    char expression_quotes[2] = {'"', '\''};
};

// One /RANGE entry: the view positions first..last (0-based, ascending, inclusive).
// A range is kept as one entry, so a large range costs no memory.
struct RangeSegment {
    uint32_t first;
    uint32_t last;
};

// Record positions set by /RANGE, in the order given; absent means every record, an
// empty list in force means no record at all.
struct RangeList {
    std::optional<std::vector<RangeSegment>> entries;
};

// The five translation tables; each keeps its first value.
struct TranslationTables {
    std::optional<std::string> normal;
    std::optional<std::string> lowercase;
    std::optional<std::string> uppercase;
    std::optional<std::string> table_oem;
    std::optional<std::string> table_ansi;
};

struct ProcessState {
    RunSettings settings;
    std::unique_ptr<DbfTable> current_table;
    RangeList range_list;
    std::optional<std::string> field_assignments;
    TranslationTables translation_tables;
    std::unique_ptr<DbfTable> comparison_table;
    std::string ini_path;
};

// The one process-wide state.
ProcessState& process_state();
inline RunSettings& run_settings() { return process_state().settings; }
// The table every handler works on; handlers are only called while one is open.
inline DbfTable& current_table() { return *process_state().current_table; }
inline bool has_current_table() { return process_state().current_table != nullptr; }

// Back to the state at program start (used between test cases).
void reset_process_state();

} // namespace rorarodi
