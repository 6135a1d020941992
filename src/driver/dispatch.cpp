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

// One row per parameter, in dispatch order. A keyword matches when it is a
// prefix of the parameter text, ignoring letter case, over its full length
// (including a trailing ':' or '='); `whole` rows must equal the whole text.
// Longer keywords stand before shorter ones that begin the same way. A row
// without a handler never matches. The usage text shows `usage` at line
// `usage_line` (from 1) in the left (0) or right (1) column; rows without a
// usage text are not listed there.
struct KeywordRow {
    const char* keyword;
    ArgumentStart start;
    Handler handler;
    bool whole = false;
    const char* usage = nullptr;
    int usage_line = 0;
    int usage_column = 0;
    // The parameter writes records into the current table, so a table whose header
    // record length disagrees with its fields refuses it.
    bool writes_records = false;
};

constexpr KeywordRow kKeywords[] = {
    {"ignorequotes", ArgumentStart::none, handle_ignorequotes, false, "/IGNOREQUOTES", 27, 0},
    {"oem2ansi", ArgumentStart::none, handle_oem2ansi, false, "/OEM2ANSI", 25, 0, true},
    {"ansi2oem", ArgumentStart::none, handle_ansi2oem, false, "/ANSI2OEM", 25, 1, true},
    {"deldupes", ArgumentStart::none, handle_deldupes, false, "/DELDUPES", 27, 1, true},
    {"version", ArgumentStart::none, handle_version, false, "/VERSION", 10, 1},
    {"verbose", ArgumentStart::none, handle_verbose, false, "/VERBOSE", 21, 0},
    // Creating a table is a form of the first argument only; as a parameter it is
    // unknown, so its row has no handler and serves the usage text alone.
    {"create:", ArgumentStart::none, nullptr, false, "/CREATE:struct.txt file.dbf", 29, 0},
    {"modify:", ArgumentStart::after_keyword, handle_modify, false, "/MODIFY:struct.txt", 29, 1, true},
    {"delete:", ArgumentStart::after_keyword, handle_delete, false, "/DELETE:N1,N2-N3,all", 15, 0, true},
    {"deletedonly", ArgumentStart::none, handle_deletedonly, true, "/DELETEDONLY", 30, 1},
    {"deleted", ArgumentStart::after_keyword, handle_deleted, false, "/DELETED[+|-]", 6, 0},
    {"sql2000", ArgumentStart::none, handle_sql2000, false, "/SQL2000", 22, 1},
    // No other keyword begins with "sql:" and "sql:" begins none, so this row
    // takes no parameter text from another one.
    {"sql:", ArgumentStart::after_keyword, select_sql_dialect, false},
    {"quotes:", ArgumentStart::after_keyword, handle_quotes, false, "/QUOTES:[single|double]", 28, 0},
    {"encode:", ArgumentStart::after_keyword, handle_encode, false, "/ENCODE:password", 8, 0, true},
    {"decode:", ArgumentStart::after_keyword, handle_decode, false, "/DECODE:password", 8, 1, true},
    {"recall:", ArgumentStart::after_keyword, handle_recall, false, "/RECALL:N1,N2-N3,all", 15, 1, true},
    {"append", ArgumentStart::after_keyword, handle_append, false, "/APPEND[:N|blank]", 13, 0, true},
    {"cpzero", ArgumentStart::after_keyword, handle_cpzero, false, "/CPZERO", 3, 1},
    {"update", ArgumentStart::none, handle_update, false, "/UPDATE", 16, 1, true},
    {"browse", ArgumentStart::none, handle_browse, false, "/BROWSE", 11, 0},
    {"fields", ArgumentStart::none, handle_fields, false, "/FIELDS", 11, 1},
    {"struct", ArgumentStart::after_keyword, list_structure, false, "/STRUCT:file.txt|file.dbf|file.sql|file.prg|file.fox", 31, 0},
    {"select:", ArgumentStart::after_keyword, export_records, false, "/SELECT:field1;field2;...", 19, 0},
    {"filter:", ArgumentStart::after_keyword, handle_filter, false, "/FILTER:condition", 14, 0},
    {"trunc:", ArgumentStart::after_keyword, handle_trunc, false, "/TRUNC:N", 9, 0, true},
    {"field:", ArgumentStart::after_keyword, handle_field, false, "/FIELD:field1=value;field2=value;...", 26, 0},
    {"range:", ArgumentStart::after_keyword, handle_range, false, "/RANGE:N1,N2-N3,all", 13, 1},
    {"order:", ArgumentStart::after_keyword, handle_order, false, "/ORDER:field1;field2;...", 18, 1},
    {"escape:", ArgumentStart::after_keyword, handle_escape, false, "/ESCAPE:char", 28, 1},
    {"check", ArgumentStart::none, handle_check, false, "/CHECK", 4, 0},
    {"clear", ArgumentStart::none, handle_clear, false, "/CLEAR", 4, 1},
    {"blank", ArgumentStart::none, handle_blank, false, "/BLANK", 9, 1},
    {"count", ArgumentStart::none, handle_count, false, "/COUNT", 10, 0},
    {"2ansi", ArgumentStart::none, handle_2ansi, false, "/2ANSI", 23, 0},
    {"sort:", ArgumentStart::after_keyword, handle_sort, false, "/SORT:field1;field2;...", 18, 0, true},
    {"make:", ArgumentStart::after_keyword, handle_make, false, "/MAKE:filename.dbf", 14, 1},
    {"calc:", ArgumentStart::after_keyword, handle_calc, false, "/CALC:condition", 12, 1},
    {"crlf:", ArgumentStart::after_keyword, handle_crlf, false, "/CRLF:[keep|kill]", 30, 0},
    {"2oem", ArgumentStart::none, handle_2oem, false, "/2OEM", 23, 1},
    // No keyword begins with "utf8" and "utf8" begins no keyword, so this row takes
    // no parameter text from another one wherever it stands.
    {"utf8", ArgumentStart::none, handle_utf8, false, "/UTF8", 24, 0},
    {"pack", ArgumentStart::after_keyword, handle_pack, false, "/PACK:[dbf|memo]", 5, 0, true},
    {"type", ArgumentStart::after_keyword, handle_type, false, "/TYPE:db3|db4|fox|vfp|db7", 22, 0},
    {"trim", ArgumentStart::after_keyword, handle_trim, false, "/TRIM:left|right|all", 17, 0},
    {"desc", ArgumentStart::none, handle_desc, false, "/DESC", 2, 1},
    {"ansi", ArgumentStart::none, handle_ansi, false, "/ANSI", 1, 0},
    {"case", ArgumentStart::after_keyword, handle_case, false, "/CASE[+|-]", 7, 0},
    {"name", ArgumentStart::after_keyword, handle_name, false, "/NAME[+|-]", 12, 0},
    {"date", ArgumentStart::skip_one, handle_date, false, "/DATE:mdy|dmy|ymd|asis|char", 16, 0},
    {"memo", ArgumentStart::skip_one, handle_memo, false, "/MEMO[:text]", 19, 1},
    {"sum", ArgumentStart::after_four, handle_sum, false, "/SUM:field1;field2;...", 20, 0},
    {"avg", ArgumentStart::after_four, handle_avg, false, "/AVG:field1;field2;...", 20, 1},
    {"del", ArgumentStart::after_keyword, handle_del, false, "/DEL[+|-]", 6, 1},
    {"bak", ArgumentStart::after_keyword, handle_bak, false, "/BAK[+|-]", 21, 1},
    {"hdr", ArgumentStart::after_keyword, handle_hdr, false, "/HDR[+|-]", 17, 1},
    {"out", ArgumentStart::after_keyword, handle_out, false, "/OUT:file.txt|file.dbf|file.sql|file.prg|file.htm|file.csv", 32, 0},
    {"psw", ArgumentStart::after_keyword, handle_psw, false, "/PSW[:password]", 7, 1},
    {"oem", ArgumentStart::none, handle_oem, false, "/OEM", 1, 1},
    {"zap", ArgumentStart::none, handle_zap, false, "/ZAP", 5, 1, true},
    {"asc", ArgumentStart::none, handle_asc, false, "/ASC", 2, 0},
    {"cdx", ArgumentStart::none, handle_cdx, false, "/CDX", 3, 0},
    {"cmp", ArgumentStart::after_keyword, handle_cmp, false, "/CMP:file.dbf [/filter] [/order] /CMP[:[i][s][c]]", 33, 0},
    {"s:", ArgumentStart::after_keyword, export_records, false},
    {"f:", ArgumentStart::after_keyword, handle_filter, false},
    {"l:", ArgumentStart::after_keyword, handle_field, false},
    {"o:", ArgumentStart::after_keyword, handle_order, false},
    {"?", ArgumentStart::none, handle_usage, false},
    {"Normal=", ArgumentStart::after_keyword, handle_normal_table, false},
    {"Lowercase=", ArgumentStart::after_keyword, handle_lowercase_table, false},
    {"Uppercase=", ArgumentStart::after_keyword, handle_uppercase_table, false},
    {"TableOEM=", ArgumentStart::after_keyword, handle_table_oem, false},
    {"TableAnsi=", ArgumentStart::after_keyword, handle_table_ansi, false},
    // The code-page pair of this platform, matched after every other keyword.
    {"CodePages=", ArgumentStart::after_keyword, handle_code_pages, false},
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

void dispatch_parameter(Session& session, const std::string& text) {
    if (session.current_table) set_progress_job(session.table().table_file_name, "/" + text);
    if (const KeywordRow* row = row_for(text)) {
        if (refuses_record_writes(session, row->writes_records)) return;
        const std::string argument = argument_of(text, std::char_traits<char>::length(row->keyword), row->start);
        run_as_change(session, [&] {
            row->handler(session, argument);
            report_backup_failure(session);
        });
        return;
    }
    if (!text.empty() && text[0] == '+') {
        if (!refuses_record_writes(session, true))
            run_as_change(session, [&] {
                handle_append_from(session, text.substr(1));
                report_backup_failure(session);
            });
        return;
    }
    report_failure(session, kUnknownFunction, text);
}

} // namespace rorarodi
