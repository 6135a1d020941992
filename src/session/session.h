// The session: every piece of state that lives from program start to exit and
// survives from one matched file to the next, and the current table. The driver
// owns one session and hands it to every parameter handler.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "platform/progress.h"
#include "table/table.h"
#include "table/table_write.h"

namespace rorarodi {

// How exported texts are converted on output (/2ANSI, /2OEM).
enum class OutputConversion { none, oem_to_ansi, ansi_to_oem };

// The database that SQL outputs are written for (/SQL:postgres, /SQL:sqlite);
// none keeps the SQL texts of /SQL2000 and the plain form.
enum class SqlDialect { none, postgres, sqlite };

// What happens to line breaks inside exported texts (/CRLF).
enum class LineBreakMode { keep, kill };

struct RunSettings {
    bool verbose = false;
    bool show_deletion_marks = false;
    PackMode pack_mode = PackMode::table_and_memo;
    bool memo_as_text = false;
    bool show_names = false;
    bool header_line = false;
    std::optional<TableKind> new_table_kind;  // nothing: as the source table
    bool sql2000 = false;
    SqlDialect sql_dialect = SqlDialect::none;
    char output_quote = '"';
    char escape_character = 0;
    OutputConversion output_conversion = OutputConversion::none;
    // /UTF8: table text reaches exports, listings and the console as UTF-8, and
    // /FILTER and /FIELD texts are taken as UTF-8 (see text_convert.h for the page).
    bool utf8 = false;
    // /DRYRUN: every change is made, described on standard error and rolled back.
    bool dry_run = false;
    LineBreakMode line_break_mode = LineBreakMode::keep;
    std::optional<std::string> output_file_name;  // /OUT; nothing for the console
    // /REPLACE: the first export of the run into each output replaces it.
    bool replace_outputs = false;
    // The two characters that quote text in expressions; 0 when /IGNOREQUOTES.
    std::array<char, 2> expression_quotes{'"', '\''};
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

// What the run has begun writing: the output files (so that /REPLACE starts each
// anew once) and, per output, the tables it has received (so that each gets its
// CREATE TABLE, or under /REPLACE its new table, the first time).
struct OutputsOfRun {
    std::set<std::string> files;
    std::set<std::string> fresh_files;  // files the run began from nothing (new, empty or replaced)
    std::set<std::pair<std::string, std::string>> tables;  // output name, table name
};

struct Session {
    RunSettings settings;
    OutputsOfRun outputs_of_run;
    std::unique_ptr<DbfTable> current_table;
    RangeList range_list;
    std::optional<std::string> field_assignments;
    bool field_assignments_utf8 = false;  // given under /UTF8, so in UTF-8
    TranslationTables translation_tables;
    CodePagePair code_pages;
    bool code_pages_given = false;
    std::unique_ptr<DbfTable> comparison_table;
    std::string ini_path;
    // Set when a parameter reported a failure: the run goes on and ends with
    // exit status 2.
    bool parameter_failed = false;
    // Set by a parameter whose change is to be rolled back on purpose (a dry run,
    // an assignment that could not be evaluated for a record); the driver clears it.
    bool roll_back_step = false;

    // The table every handler works on; handlers are only called while one is open.
    DbfTable& table() { return *current_table; }

    // Back to the state at program start.
    void reset() { *this = Session{}; }
};

// Gives a table the session's code-page pair, expression quotes and /UTF8.
void share_run_settings(const Session& session, DbfTable& table);

// Turns /UTF8 on and passes it on to the open tables.
void set_utf8(Session& session);

// Sets the expression quote characters and passes them on to the open tables.
void set_expression_quotes(Session& session, char first, char second);

// Flag form of a setting: on for '+' or nothing after the keyword, off for anything else.
inline bool parse_flag_form(const std::string& argument) { return argument.empty() || argument[0] == '+'; }

// Calls `visit(position)` for the positions that range readers visit: the /RANGE
// entries in list order (positions at or past the view size skipped, a position
// listed twice visited twice) or, without a list, every position of the view.
// The walk shows the progress line (`output` says whether the visits print).
template <typename Visit>
void visit_range_positions(const Session& session, const DbfTable& table, Visit&& visit,
                           ProgressOutput output = ProgressOutput::quiet) {
    const uint32_t view_size = view_record_count(table);
    const auto& entries = session.range_list.entries;
    if (!entries) {
        ProgressMeter progress(view_size, output);
        for (uint32_t position = 0; position < view_size; ++position) {
            visit(position);
            progress.step(position + 1);
        }
        return;
    }
    uint64_t total = 0, done = 0;
    for (const RangeSegment& segment : *entries)
        if (segment.first < view_size && segment.first <= segment.last)
            total += std::min<uint64_t>(segment.last, view_size - 1) - segment.first + 1;
    ProgressMeter progress(total, output);
    for (const RangeSegment& segment : *entries)
        for (uint64_t position = segment.first; position <= segment.last && position < view_size; ++position) {
            visit(static_cast<uint32_t>(position));
            progress.step(++done);
        }
}

} // namespace rorarodi
