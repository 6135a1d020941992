#include "driver/parameters.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "driver/console.h"
#include "driver/dispatch.h"
#include "driver/settings.h"
#include "expr/calculator.h"
#include "expr/filter.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

bool equals_ignoring_case(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool ends_with_ignoring_case(const std::string& text, const char* ending) {
    size_t length = std::strlen(ending);
    return text.size() >= length && strcasecmp(text.c_str() + text.size() - length, ending) == 0;
}

// Usage rows: left entry and right entry (empty for a row of one entry).
struct UsageRow {
    const char* left;
    const char* right;
};

constexpr UsageRow kUsageRows[] = {
    {"/ANSI", "/OEM"},
    {"/ASC", "/DESC"},
    {"/CDX", "/CPZERO"},
    {"/CHECK", "/CLEAR"},
    {"/PACK:[dbf|memo]", "/ZAP"},
    {"/DELETED[+|-]", "/DEL[+|-]"},
    {"/CASE[+|-]", "/PSW[:password]"},
    {"/ENCODE:password", "/DECODE:password"},
    {"/TRUNC:N", "/BLANK"},
    {"/COUNT", "/VERSION"},
    {"/BROWSE", "/FIELDS"},
    {"/NAME[+|-]", "/CALC:condition"},
    {"/APPEND[:N|blank]", "/RANGE:N1,N2-N3,all"},
    {"/FILTER:condition", "/MAKE:filename.dbf"},
    {"/DELETE:N1,N2-N3,all", "/RECALL:N1,N2-N3,all"},
    {"/DATE:mdy|dmy|ymd|asis|char", "/UPDATE"},
    {"/TRIM:left|right|all", "/HDR[+|-]"},
    {"/SORT:field1;field2;...", "/ORDER:field1;field2;..."},
    {"/SELECT:field1;field2;...", "/MEMO[:text]"},
    {"/SUM:field1;field2;...", "/AVG:field1;field2;..."},
    {"/VERBOSE", "/BAK[+|-]"},
    {"/TYPE:db3|db4|fox|vfp|db7", "/SQL2000"},
    {"/2ANSI", "/2OEM"},
    {"/OEM2ANSI", "/ANSI2OEM"},
    {"/FIELD:field1=value;field2=value;...", ""},
    {"/IGNOREQUOTES", "/DELDUPES"},
    {"/QUOTES:[single|double]", "/ESCAPE:char"},
    {"/CREATE:struct.txt file.dbf", "/MODIFY:struct.txt"},
    {"/CRLF:[keep|kill]", "/DELETEDONLY"},
    {"/STRUCT:file.txt|file.dbf|file.sql|file.prg|file.fox", ""},
    {"/OUT:file.txt|file.dbf|file.sql|file.prg|file.htm|file.csv", ""},
    {"/CMP:file.dbf [/filter] [/order] /CMP[:[i][s][c]]", ""},
};

constexpr int kUsageRightColumn = 40;
constexpr int kTabWidth = 8;

} // namespace

void print_version_line() {
    std::printf("Version %d.%02d compiled at %s\n", kVersionNumber / 256, kVersionNumber % 256, __DATE__ " " __TIME__);
}

void print_usage() {
    std::printf("ORTA Command Line utility. Version %d.%02d\n", kVersionNumber / 256, kVersionNumber % 256);
    std::printf("Use:\n");
    std::printf("  RORArodi <filename.dbf|pattern> <parameter|@filename.lst|+filename.dbf>\n");
    std::printf("  Parameters (first character can be '/' or '-') :\n");
    for (const UsageRow& row : kUsageRows) {
        std::string line = "\t";
        line += row.left;
        if (*row.right) {
            int column = kTabWidth + static_cast<int>(std::strlen(row.left));
            do {
                line += '\t';
                column = (column / kTabWidth + 1) * kTabWidth;
            } while (column < kUsageRightColumn);
            line += row.right;
        }
        std::printf("%s\n", line.c_str());
    }
}

void handle_version(const std::string&) { print_version_line(); }

void handle_verbose(const std::string&) { run_settings().verbose = true; }

void handle_usage(const std::string&) { print_usage(); }

void handle_quotes(const std::string& argument) {
    trace_enter("SetQuotes");
    if (equals_ignoring_case(argument, "single"))
        run_settings().output_quote = '\'';
    else if (equals_ignoring_case(argument, "double"))
        run_settings().output_quote = '"';
    trace_leave("SetQuotes");
}

void handle_filter(const std::string& argument) {
    trace_enter("Filter");
    size_t operator_position = std::strcspn(argument.c_str(), "<{>}=~^");
    if (argument.empty() || operator_position + 1 >= argument.size()) {
        print_line("Invalid filter...");
        return;
    }
    std::string condition = argument;
    for (char& c : condition) {
        if (c == '}') c = '>';
        else if (c == '{') c = '<';
        else if (c == ';') c = '|';
    }
    apply_filter(current_table(), condition);
    if (process_state().comparison_table) apply_filter(*process_state().comparison_table, condition);
    trace_leave("Filter");
}

void handle_calc(const std::string& argument) {
    trace_enter("Calc");
    std::string text = argument;
    bool ok = true;
    double value = calculate(text, ok);
    if (ok)
        std::printf("%f\n", value);
    else
        std::printf("Error\n");
    trace_leave("Calc");
}

void handle_crlf(const std::string& argument) {
    trace_enter("Crlf");
    if (argument.empty() || equals_ignoring_case(argument, "keep"))
        run_settings().line_break_mode = 0;
    else if (equals_ignoring_case(argument, "kill"))
        run_settings().line_break_mode = 1;
    trace_leave("Crlf");
}

void handle_type(const std::string& argument) {
    if (argument.empty() || argument[0] != ':') {
        run_settings().new_table_kind = -1;
        return;
    }
    static constexpr struct {
        const char* name;
        int kind;
    } kKinds[] = {{"db3", 0}, {"db4", 2}, {"fox", 1}, {"vfp", 3}, {"db7", 7}, {"smt", 4}};
    std::string name = argument.substr(1);
    for (const auto& entry : kKinds) {
        if (equals_ignoring_case(name, entry.name)) {
            run_settings().new_table_kind = entry.kind;
            return;
        }
    }
    print_line("Invalid memo type...");
}

void handle_trim(const std::string& argument) {
    trace_enter("Trim");
    DbfTable& table = current_table();
    if (argument.empty())
        table.trim_mode = 0;
    else if (equals_ignoring_case(argument, ":right"))
        table.trim_mode = 1;
    else if (equals_ignoring_case(argument, ":left"))
        table.trim_mode = 2;
    else if (equals_ignoring_case(argument, ":all"))
        table.trim_mode = 3;
    trace_leave("Trim");
}

void handle_date(const std::string& argument) {
    trace_enter("Date");
    DbfTable& table = current_table();
    if (equals_ignoring_case(argument, "dmy"))
        table.date_mode = 1;
    else if (equals_ignoring_case(argument, "mdy"))
        table.date_mode = 2;
    else if (equals_ignoring_case(argument, "ymd"))
        table.date_mode = 3;
    else if (equals_ignoring_case(argument, "asis"))
        table.date_mode = 0;
    else if (argument.size() == 1)
        set_date_separator(table, argument[0]);
    else {
        std::printf("Unknown date format: %s.\n", argument.c_str());
        return;
    }
    trace_leave("Date");
}

void handle_out(const std::string& argument) {
    trace_enter("Out");
    RunSettings& settings = run_settings();
    if (argument.empty() || argument[0] != ':') {
        settings.output_format = OutputFormat::console;
        settings.output_file_name.reset();
        trace_leave("Out");
        return;
    }
    std::string name = argument.substr(1);
    OutputFormat format;
    if (ends_with_ignoring_case(name, ".csv")) format = OutputFormat::csv;
    else if (ends_with_ignoring_case(name, ".htm") || ends_with_ignoring_case(name, ".html")) format = OutputFormat::html;
    else if (ends_with_ignoring_case(name, ".prg") || ends_with_ignoring_case(name, ".fox")) format = OutputFormat::program;
    else if (ends_with_ignoring_case(name, ".xml")) format = OutputFormat::xml;
    else if (ends_with_ignoring_case(name, ".dbf")) format = OutputFormat::table;
    else if (ends_with_ignoring_case(name, ".sql")) format = OutputFormat::sql;
    else if (ends_with_ignoring_case(name, ".txt")) format = OutputFormat::text;
    else {
        print_line("Invalid output format...");
        return;
    }
    settings.output_format = format;
    settings.output_file_name = name;
    trace_leave("Out");
}

void handle_ignorequotes(const std::string&) {
    run_settings().expression_quotes[0] = 0;
    run_settings().expression_quotes[1] = 0;
}
void handle_sql2000(const std::string&) {
    run_settings().sql2000 = true;
    run_settings().output_quote = '\'';
}
void handle_browse(const std::string&) { current_table().field_layout = 0; }
void handle_fields(const std::string&) { current_table().field_layout = 1; }
void handle_escape(const std::string& argument) { run_settings().escape_character = argument.empty() ? 0 : argument[0]; }
void handle_2ansi(const std::string&) { run_settings().output_conversion = 1; }
void handle_2oem(const std::string&) { run_settings().output_conversion = 2; }
void handle_desc(const std::string&) { current_table().descending = true; }
void handle_asc(const std::string&) { current_table().descending = false; }
void handle_ansi(const std::string&) { current_table().ansi = true; }
void handle_oem(const std::string&) { current_table().ansi = false; }
void handle_case(const std::string& argument) { current_table().case_insensitive = parse_flag_form(argument); }
void handle_name(const std::string& argument) { run_settings().show_names = parse_flag_form(argument); }
void handle_memo(const std::string& argument) { run_settings().memo_as_text = equals_ignoring_case(argument, "text"); }
void handle_del(const std::string& argument) { run_settings().show_deletion_marks = parse_flag_form(argument); }
void handle_bak(const std::string& argument) { current_table().backup_option = parse_flag_form(argument); }
void handle_hdr(const std::string& argument) { run_settings().header_line = parse_flag_form(argument); }

} // namespace rorarodi
