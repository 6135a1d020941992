#include "driver/dispatch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "commands/append_from.h"
#include "commands/code_pages.h"
#include "commands/duplicates.h"
#include "commands/maintenance.h"
#include "commands/password.h"
#include "commands/record_lists.h"
#include "commands/restructure.h"
#include "commands/sort.h"
#include "commands/update.h"
#include "commands/view_settings.h"
#include "driver/all_or_nothing.h"
#include "driver/parameter_effects.h"
#include "platform/progress.h"
#include "platform/text.h"
#include "report/compare.h"
#include "report/count.h"
#include "report/export.h"
#include "report/output_settings.h"
#include "report/sql_dialect.h"
#include "report/structure.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"

namespace rorarodi {

namespace {

// Where a handler's argument starts within the parameter text.
enum class ArgumentStart {
    none,           // the handler takes no argument (it gets an empty text)
    after_keyword,  // the text after the keyword (flag characters included)
    skip_one,       // the text after the keyword and one separator character
    after_four,     // the text from the fifth character on ("sum:", "avg:")
};

using Handler = void (*)(Session& session, const std::string& argument);

// The parameters about the program itself.
void handle_version(Session&, const std::string&) { print_version_line(); }
void handle_verbose(Session& session, const std::string&) { session.settings.verbose = true; }
void handle_usage(Session&, const std::string&) { print_usage(); }
void handle_dry_run(Session& session, const std::string&) { session.settings.dry_run = true; }

// One row per parameter, in dispatch order. A keyword matches when it is a
// prefix of the parameter text, ignoring letter case, over its full length
// (including a trailing ':' or '='); `whole` rows must equal the whole text.
// Longer keywords stand before shorter ones that begin the same way. A row
// without a handler never matches. The usage text shows `usage` at line
// `usage_line` (from 1) in the left (the default) or right column; rows without
// a usage text are not listed there.
enum UsageColumn : int { left = 0, right = 1 };

struct KeywordRow {
    const char* keyword;
    ArgumentStart start;
    Handler handler;
    bool whole = false;
    const char* usage = nullptr;
    int usage_line = 0;
    UsageColumn usage_column = left;
    // What the parameter changes in its table. One that writes records is refused
    // by a table whose header record length disagrees with its fields.
    ChangeColumns change{};
};

constexpr KeywordRow kKeywords[] = {
    {.keyword = "ignorequotes", .start = ArgumentStart::none, .handler = handle_ignorequotes, .usage = "/IGNOREQUOTES", .usage_line = 27},
    {.keyword = "oem2ansi", .start = ArgumentStart::none, .handler = handle_oem2ansi, .usage = "/OEM2ANSI", .usage_line = 25, .change = {.writes_records = true}},
    {.keyword = "ansi2oem", .start = ArgumentStart::none, .handler = handle_ansi2oem, .usage = "/ANSI2OEM", .usage_line = 25, .usage_column = right, .change = {.writes_records = true}},
    {.keyword = "deldupes", .start = ArgumentStart::none, .handler = handle_deldupes, .usage = "/DELDUPES", .usage_line = 27, .usage_column = right, .change = {.writes_records = true}},
    {.keyword = "version", .start = ArgumentStart::none, .handler = handle_version, .usage = "/VERSION", .usage_line = 10, .usage_column = right},
    {.keyword = "verbose", .start = ArgumentStart::none, .handler = handle_verbose, .usage = "/VERBOSE", .usage_line = 21},
    // Creating a table is a form of the first argument only; as a parameter it is
    // unknown, so its row has no handler and serves the usage text alone.
    {.keyword = "create:", .start = ArgumentStart::none, .handler = nullptr, .usage = "/CREATE:struct.txt file.dbf", .usage_line = 29},
    {.keyword = "modify:", .start = ArgumentStart::after_keyword, .handler = handle_modify, .usage = "/MODIFY:struct.txt", .usage_line = 29, .usage_column = right, .change = {.writes_records = true, .moves_records = true, .writes_memos = true, .restructures = true, .says_read_only = true}},
    {.keyword = "delete:", .start = ArgumentStart::after_keyword, .handler = handle_delete, .usage = "/DELETE:N1,N2-N3,all", .usage_line = 15, .change = {.writes_records = true}},
    {.keyword = "deletedonly", .start = ArgumentStart::none, .handler = handle_deletedonly, .whole = true, .usage = "/DELETEDONLY", .usage_line = 30, .usage_column = right},
    {.keyword = "deleted", .start = ArgumentStart::after_keyword, .handler = handle_deleted, .usage = "/DELETED[+|-]", .usage_line = 6},
    {.keyword = "sql2000", .start = ArgumentStart::none, .handler = handle_sql2000, .usage = "/SQL2000", .usage_line = 22, .usage_column = right},
    // No other keyword begins with "sql:" and "sql:" begins none, so this row
    // takes no parameter text from another one.
    {.keyword = "sql:", .start = ArgumentStart::after_keyword, .handler = select_sql_dialect},
    {.keyword = "quotes:", .start = ArgumentStart::after_keyword, .handler = handle_quotes, .usage = "/QUOTES:[single|double]", .usage_line = 28},
    {.keyword = "encode:", .start = ArgumentStart::after_keyword, .handler = handle_encode, .usage = "/ENCODE:password", .usage_line = 8, .change = {.writes_records = true}},
    {.keyword = "decode:", .start = ArgumentStart::after_keyword, .handler = handle_decode, .usage = "/DECODE:password", .usage_line = 8, .usage_column = right, .change = {.writes_records = true}},
    {.keyword = "recall:", .start = ArgumentStart::after_keyword, .handler = handle_recall, .usage = "/RECALL:N1,N2-N3,all", .usage_line = 15, .usage_column = right, .change = {.writes_records = true}},
    // No other keyword begins with "replace" and "replace" begins none. Like /SQL:,
    // it stays out of the usage text, which lists the parameters it always listed.
    {.keyword = "replace", .start = ArgumentStart::after_keyword, .handler = handle_replace},
    {.keyword = "append", .start = ArgumentStart::after_keyword, .handler = handle_append, .usage = "/APPEND[:N|blank]", .usage_line = 13, .change = {.writes_records = true, .moves_records = true, .writes_memos = true}},
    {.keyword = "cpzero", .start = ArgumentStart::after_keyword, .handler = handle_cpzero, .usage = "/CPZERO", .usage_line = 3, .usage_column = right, .change = {.header = true}},
    {.keyword = "update", .start = ArgumentStart::none, .handler = handle_update, .usage = "/UPDATE", .usage_line = 16, .usage_column = right, .change = {.writes_records = true, .writes_memos = true}},
    {.keyword = "browse", .start = ArgumentStart::none, .handler = handle_browse, .usage = "/BROWSE", .usage_line = 11},
    {.keyword = "fields", .start = ArgumentStart::none, .handler = handle_fields, .usage = "/FIELDS", .usage_line = 11, .usage_column = right},
    {.keyword = "struct", .start = ArgumentStart::after_keyword, .handler = list_structure, .usage = "/STRUCT:file.txt|file.dbf|file.sql|file.prg|file.fox", .usage_line = 31},
    {.keyword = "select:", .start = ArgumentStart::after_keyword, .handler = export_records, .usage = "/SELECT:field1;field2;...", .usage_line = 19},
    {.keyword = "filter:", .start = ArgumentStart::after_keyword, .handler = handle_filter, .usage = "/FILTER:condition", .usage_line = 14},
    {.keyword = "trunc:", .start = ArgumentStart::after_keyword, .handler = handle_trunc, .usage = "/TRUNC:N", .usage_line = 9, .change = {.writes_records = true, .moves_records = true}},
    {.keyword = "field:", .start = ArgumentStart::after_keyword, .handler = handle_field, .usage = "/FIELD:field1=value;field2=value;...", .usage_line = 26},
    {.keyword = "range:", .start = ArgumentStart::after_keyword, .handler = handle_range, .usage = "/RANGE:N1,N2-N3,all", .usage_line = 13, .usage_column = right},
    {.keyword = "order:", .start = ArgumentStart::after_keyword, .handler = handle_order, .usage = "/ORDER:field1;field2;...", .usage_line = 18, .usage_column = right},
    {.keyword = "escape:", .start = ArgumentStart::after_keyword, .handler = handle_escape, .usage = "/ESCAPE:char", .usage_line = 28, .usage_column = right},
    {.keyword = "check", .start = ArgumentStart::none, .handler = handle_check, .usage = "/CHECK", .usage_line = 4, .change = {.header = true}},
    {.keyword = "clear", .start = ArgumentStart::none, .handler = handle_clear, .usage = "/CLEAR", .usage_line = 4, .usage_column = right},
    {.keyword = "blank", .start = ArgumentStart::none, .handler = handle_blank, .usage = "/BLANK", .usage_line = 9, .usage_column = right},
    {.keyword = "count", .start = ArgumentStart::none, .handler = handle_count, .usage = "/COUNT", .usage_line = 10},
    {.keyword = "2ansi", .start = ArgumentStart::none, .handler = handle_2ansi, .usage = "/2ANSI", .usage_line = 23},
    {.keyword = "sort:", .start = ArgumentStart::after_keyword, .handler = handle_sort, .usage = "/SORT:field1;field2;...", .usage_line = 18, .change = {.writes_records = true, .moves_records = true, .reorders = true}},
    {.keyword = "make:", .start = ArgumentStart::after_keyword, .handler = handle_make, .usage = "/MAKE:filename.dbf", .usage_line = 14, .usage_column = right},
    {.keyword = "calc:", .start = ArgumentStart::after_keyword, .handler = handle_calc, .usage = "/CALC:condition", .usage_line = 12, .usage_column = right},
    {.keyword = "crlf:", .start = ArgumentStart::after_keyword, .handler = handle_crlf, .usage = "/CRLF:[keep|kill]", .usage_line = 30},
    {.keyword = "2oem", .start = ArgumentStart::none, .handler = handle_2oem, .usage = "/2OEM", .usage_line = 23, .usage_column = right},
    // No keyword begins with "utf8" and "utf8" begins no keyword, so this row takes
    // no parameter text from another one wherever it stands.
    {.keyword = "utf8", .start = ArgumentStart::none, .handler = handle_utf8, .usage = "/UTF8", .usage_line = 24},
    // The same holds for "dryrun": no keyword begins with it, and the keywords that
    // begin with 'd' ("deldupes", "delete:", "deleted", "decode:", "desc", "date",
    // "del") begin no "dryrun" text.
    {.keyword = "dryrun", .start = ArgumentStart::none, .handler = handle_dry_run},
    {.keyword = "pack", .start = ArgumentStart::after_keyword, .handler = handle_pack, .usage = "/PACK:[dbf|memo]", .usage_line = 5, .change = {.writes_records = true, .moves_records = true, .writes_memos = true}},
    {.keyword = "type", .start = ArgumentStart::after_keyword, .handler = handle_type, .usage = "/TYPE:db3|db4|fox|vfp|db7", .usage_line = 22},
    {.keyword = "trim", .start = ArgumentStart::after_keyword, .handler = handle_trim, .usage = "/TRIM:left|right|all", .usage_line = 17},
    {.keyword = "desc", .start = ArgumentStart::none, .handler = handle_desc, .usage = "/DESC", .usage_line = 2, .usage_column = right},
    {.keyword = "ansi", .start = ArgumentStart::none, .handler = handle_ansi, .usage = "/ANSI", .usage_line = 1},
    {.keyword = "case", .start = ArgumentStart::after_keyword, .handler = handle_case, .usage = "/CASE[+|-]", .usage_line = 7},
    {.keyword = "name", .start = ArgumentStart::after_keyword, .handler = handle_name, .usage = "/NAME[+|-]", .usage_line = 12},
    {.keyword = "date", .start = ArgumentStart::skip_one, .handler = handle_date, .usage = "/DATE:mdy|dmy|ymd|asis|char", .usage_line = 16},
    {.keyword = "memo", .start = ArgumentStart::skip_one, .handler = handle_memo, .usage = "/MEMO[:text]", .usage_line = 19, .usage_column = right},
    {.keyword = "sum", .start = ArgumentStart::after_four, .handler = handle_sum, .usage = "/SUM:field1;field2;...", .usage_line = 20},
    {.keyword = "avg", .start = ArgumentStart::after_four, .handler = handle_avg, .usage = "/AVG:field1;field2;...", .usage_line = 20, .usage_column = right},
    {.keyword = "del", .start = ArgumentStart::after_keyword, .handler = handle_del, .usage = "/DEL[+|-]", .usage_line = 6, .usage_column = right},
    {.keyword = "bak", .start = ArgumentStart::after_keyword, .handler = handle_bak, .usage = "/BAK[+|-]", .usage_line = 21, .usage_column = right},
    {.keyword = "hdr", .start = ArgumentStart::after_keyword, .handler = handle_hdr, .usage = "/HDR[+|-]", .usage_line = 17, .usage_column = right},
    {.keyword = "out", .start = ArgumentStart::after_keyword, .handler = handle_out, .usage = "/OUT:file.txt|file.dbf|file.sql|file.prg|file.htm|file.csv", .usage_line = 32},
    {.keyword = "psw", .start = ArgumentStart::after_keyword, .handler = handle_psw, .usage = "/PSW[:password]", .usage_line = 7, .usage_column = right},
    {.keyword = "oem", .start = ArgumentStart::none, .handler = handle_oem, .usage = "/OEM", .usage_line = 1, .usage_column = right},
    {.keyword = "zap", .start = ArgumentStart::none, .handler = handle_zap, .usage = "/ZAP", .usage_line = 5, .usage_column = right, .change = {.writes_records = true, .moves_records = true}},
    {.keyword = "asc", .start = ArgumentStart::none, .handler = handle_asc, .usage = "/ASC", .usage_line = 2},
    {.keyword = "cdx", .start = ArgumentStart::none, .handler = handle_cdx, .usage = "/CDX", .usage_line = 3, .change = {.header = true}},
    {.keyword = "cmp", .start = ArgumentStart::after_keyword, .handler = handle_cmp, .usage = "/CMP:file.dbf [/filter] [/order] /CMP[:[i][s][c]]", .usage_line = 33},
    // The outputs and settings this program adds to the ones listed above, on one
    // line of their own; the row serves the usage text alone.
    {.keyword = "out", .start = ArgumentStart::none, .handler = nullptr,
     .usage = "/OUT:file.xml|.json|.jsonl|.sqlite /SQL:postgres|sqlite CodePages=OEM,ANSI", .usage_line = 34},
    {.keyword = "s:", .start = ArgumentStart::after_keyword, .handler = export_records},
    {.keyword = "f:", .start = ArgumentStart::after_keyword, .handler = handle_filter},
    {.keyword = "l:", .start = ArgumentStart::after_keyword, .handler = handle_field},
    {.keyword = "o:", .start = ArgumentStart::after_keyword, .handler = handle_order},
    {.keyword = "?", .start = ArgumentStart::none, .handler = handle_usage},
    {.keyword = "Normal=", .start = ArgumentStart::after_keyword, .handler = handle_normal_table},
    {.keyword = "Lowercase=", .start = ArgumentStart::after_keyword, .handler = handle_lowercase_table},
    {.keyword = "Uppercase=", .start = ArgumentStart::after_keyword, .handler = handle_uppercase_table},
    {.keyword = "TableOEM=", .start = ArgumentStart::after_keyword, .handler = handle_table_oem},
    {.keyword = "TableAnsi=", .start = ArgumentStart::after_keyword, .handler = handle_table_ansi},
    // The code-page pair of this platform, matched after every other keyword.
    {.keyword = "CodePages=", .start = ArgumentStart::after_keyword, .handler = handle_code_pages},
};

constexpr int kUsageRightColumn = 40;
constexpr int kTabWidth = 8;

std::string argument_of(const std::string& text, size_t keyword_length, ArgumentStart start) {
    size_t from = 0;
    switch (start) {
    case ArgumentStart::none: return std::string();
    case ArgumentStart::after_keyword: from = keyword_length; break;
    case ArgumentStart::skip_one: from = keyword_length + 1; break;
    case ArgumentStart::after_four: from = 4; break;
    }
    return from < text.size() ? text.substr(from) : std::string();
}

// The first row whose keyword the text begins with; none when no row matches.
const KeywordRow* row_for(const std::string& text) {
    for (const KeywordRow& row : kKeywords) {
        if (!row.handler) continue;
        bool matches = row.whole ? equals_ignoring_case(text.c_str(), row.keyword)
                                 : starts_with_ignoring_case(text.c_str(), row.keyword);
        if (matches) return &row;
    }
    return nullptr;
}

} // namespace

void print_version_line() {
    std::printf("Version %d.%02d compiled at %s\n", kVersionNumber / 256, kVersionNumber % 256, __DATE__ " " __TIME__);
}

void print_usage() {
    std::printf("ORTA Command Line utility. Version %d.%02d\n", kVersionNumber / 256, kVersionNumber % 256);
    std::printf("Use:\n");
    std::printf("  RORArodi <filename.dbf|pattern> <parameter|@filename.lst|+filename.dbf>\n");
    std::printf("  Parameters (first character can be '/' or '-') :\n");
    int last_line = 0;
    for (const KeywordRow& row : kKeywords) last_line = std::max(last_line, row.usage_line);
    for (int line_number = 1; line_number <= last_line; ++line_number) {
        const char* entries[2] = {nullptr, nullptr};
        for (const KeywordRow& row : kKeywords)
            if (row.usage && row.usage_line == line_number) entries[row.usage_column] = row.usage;
        if (!entries[0]) continue;
        std::string line = "\t";
        line += entries[0];
        if (entries[1]) {
            // The right column starts at the first tab stop at or past column 40.
            int column = kTabWidth + static_cast<int>(std::strlen(entries[0]));
            do {
                line += '\t';
                column = (column / kTabWidth + 1) * kTabWidth;
            } while (column < kUsageRightColumn);
            line += entries[1];
        }
        std::printf("%s\n", line.c_str());
    }
}


std::vector<KeywordUsage> keyword_usages() {
    std::vector<KeywordUsage> rows;
    for (const KeywordRow& row : kKeywords) rows.push_back({row.keyword, row.usage ? row.usage : "", row.handler != nullptr});
    return rows;
}

std::string matched_keyword(const std::string& text) {
    const KeywordRow* row = row_for(text);
    return row ? row->keyword : std::string();
}

bool split_parameter(const std::string& text, std::string& keyword, std::string& argument) {
    const KeywordRow* row = row_for(text);
    if (!row) return false;
    keyword = row->keyword;
    argument = argument_of(text, keyword.size(), row->start);
    return true;
}

namespace {

// A change that waited for a ".bak" copy that could not be made was not made: the
// parameter says so, once, whatever the handler printed.
void report_backup_failure(Session& session) {
    if (!session.current_table || session.table().backup_failure.empty()) return;
    DbfTable& table = session.table();
    report_failure(session, kCantMakeBackup, table.backup_file_name + ": " + table.backup_failure);
    table.backup_failure.clear();
}

// A table whose header record length differs from its fields' is read, never
// written: its records may lie where neither length puts them.
bool refuses_record_writes(Session& session, bool writes_records) {
    if (!session.current_table || !writes_records) return false;
    DbfTable& table = session.table();
    if (record_geometry_agrees(table) || !table.table_handle.is_writable()) return false;
    refuse_record_writes(session, table);
    return true;
}

} // namespace

bool keyword_changes_table(const std::string& keyword) {
    for (const KeywordRow& row : kKeywords)
        if (keyword == row.keyword) return row.change.changes();
    return false;
}

void dispatch_parameter(Session& session, const std::string& text) {
    if (session.current_table) set_progress_job(session.table().table_file_name, "/" + text);
    if (const KeywordRow* row = row_for(text)) {
        if (refuses_record_writes(session, row->change.writes_records)) return;
        const std::string argument = argument_of(text, std::char_traits<char>::length(row->keyword), row->start);
        run_parameter(session, effects_of(row->keyword, row->change, text), [&] {
            row->handler(session, argument);
            report_backup_failure(session);
        });
        return;
    }
    if (!text.empty() && text[0] == '+') {
        if (!refuses_record_writes(session, true))
            run_parameter(session, effects_of("+", kAppendFromColumns, text), [&] {
                handle_append_from(session, text.substr(1));
                report_backup_failure(session);
            });
        return;
    }
    report_failure(session, kUnknownFunction, text);
}

} // namespace rorarodi
