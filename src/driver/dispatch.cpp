#include "driver/dispatch.h"

#include <cstdio>
#include <strings.h>

#include "commands/append_from.h"
#include "commands/code_pages.h"
#include "commands/duplicates.h"
#include "commands/maintenance.h"
#include "commands/password.h"
#include "commands/record_lists.h"
#include "commands/restructure.h"
#include "commands/sort.h"
#include "commands/update.h"
#include "driver/parameters.h"
#include "report/compare.h"
#include "report/count.h"
#include "report/export.h"
#include "report/structure.h"

namespace rorarodi {

namespace {

// Where a handler's argument starts within the parameter text.
enum class ArgumentStart {
    none,           // the handler takes no argument (it gets an empty text)
    after_keyword,  // the text after the keyword (flag characters included)
    skip_one,       // the text after the keyword and one separator character
    after_four,     // the text from the fifth character on ("sum:", "avg:")
};

using Handler = void (*)(const std::string& argument);

// One row per parameter, in dispatch order. A keyword matches when it is a
// prefix of the parameter text, ignoring letter case, over its full length
// (including a trailing ':' or '='); `whole` rows must equal the whole text.
// Longer keywords stand before shorter ones that begin the same way.
struct KeywordRow {
    const char* keyword;
    ArgumentStart start;
    Handler handler;
    bool whole = false;
};

constexpr KeywordRow kKeywords[] = {
    {"ignorequotes", ArgumentStart::none, handle_ignorequotes},
    {"oem2ansi", ArgumentStart::none, handle_oem2ansi},
    {"ansi2oem", ArgumentStart::none, handle_ansi2oem},
    {"deldupes", ArgumentStart::none, handle_deldupes},
    {"version", ArgumentStart::none, handle_version},
    {"verbose", ArgumentStart::none, handle_verbose},
    {"modify:", ArgumentStart::after_keyword, handle_modify},
    {"delete:", ArgumentStart::after_keyword, handle_delete},
    {"deletedonly", ArgumentStart::none, handle_deletedonly, true},
    {"deleted", ArgumentStart::after_keyword, handle_deleted},
    {"sql2000", ArgumentStart::none, handle_sql2000},
    {"quotes:", ArgumentStart::after_keyword, handle_quotes},
    {"encode:", ArgumentStart::after_keyword, handle_encode},
    {"decode:", ArgumentStart::after_keyword, handle_decode},
    {"recall:", ArgumentStart::after_keyword, handle_recall},
    {"append", ArgumentStart::after_keyword, handle_append},
    {"cpzero", ArgumentStart::after_keyword, handle_cpzero},
    {"update", ArgumentStart::none, handle_update},
    {"browse", ArgumentStart::none, handle_browse},
    {"fields", ArgumentStart::none, handle_fields},
    {"struct", ArgumentStart::after_keyword, list_structure},
    {"select:", ArgumentStart::after_keyword, handle_select},
    {"filter:", ArgumentStart::after_keyword, handle_filter},
    {"trunc:", ArgumentStart::after_keyword, handle_trunc},
    {"field:", ArgumentStart::after_keyword, handle_field},
    {"range:", ArgumentStart::after_keyword, handle_range},
    {"order:", ArgumentStart::after_keyword, handle_order},
    {"escape:", ArgumentStart::after_keyword, handle_escape},
    {"check", ArgumentStart::none, handle_check},
    {"clear", ArgumentStart::none, handle_clear},
    {"blank", ArgumentStart::none, handle_blank},
    {"count", ArgumentStart::none, handle_count},
    {"2ansi", ArgumentStart::none, handle_2ansi},
    {"sort:", ArgumentStart::after_keyword, handle_sort},
    {"make:", ArgumentStart::after_keyword, handle_make},
    {"calc:", ArgumentStart::after_keyword, handle_calc},
    {"crlf:", ArgumentStart::after_keyword, handle_crlf},
    {"2oem", ArgumentStart::none, handle_2oem},
    {"pack", ArgumentStart::after_keyword, handle_pack},
    {"type", ArgumentStart::after_keyword, handle_type},
    {"trim", ArgumentStart::after_keyword, handle_trim},
    {"desc", ArgumentStart::none, handle_desc},
    {"ansi", ArgumentStart::none, handle_ansi},
    {"case", ArgumentStart::after_keyword, handle_case},
    {"name", ArgumentStart::after_keyword, handle_name},
    {"date", ArgumentStart::skip_one, handle_date},
    {"memo", ArgumentStart::skip_one, handle_memo},
    {"sum", ArgumentStart::after_four, handle_sum},
    {"avg", ArgumentStart::after_four, handle_avg},
    {"del", ArgumentStart::after_keyword, handle_del},
    {"bak", ArgumentStart::after_keyword, handle_bak},
    {"hdr", ArgumentStart::after_keyword, handle_hdr},
    {"out", ArgumentStart::after_keyword, handle_out},
    {"psw", ArgumentStart::after_keyword, handle_psw},
    {"oem", ArgumentStart::none, handle_oem},
    {"zap", ArgumentStart::none, handle_zap},
    {"asc", ArgumentStart::none, handle_asc},
    {"cdx", ArgumentStart::none, handle_cdx},
    {"cmp", ArgumentStart::after_keyword, handle_cmp},
    {"s:", ArgumentStart::after_keyword, handle_select},
    {"f:", ArgumentStart::after_keyword, handle_filter},
    {"l:", ArgumentStart::after_keyword, handle_field},
    {"o:", ArgumentStart::after_keyword, handle_order},
    {"?", ArgumentStart::none, handle_usage},
    {"Normal=", ArgumentStart::after_keyword, handle_normal_table},
    {"Lowercase=", ArgumentStart::after_keyword, handle_lowercase_table},
    {"Uppercase=", ArgumentStart::after_keyword, handle_uppercase_table},
    {"TableOEM=", ArgumentStart::after_keyword, handle_table_oem},
    {"TableAnsi=", ArgumentStart::after_keyword, handle_table_ansi},
    // The code-page pair of this platform, matched after every other keyword.
    {"CodePages=", ArgumentStart::after_keyword, handle_code_pages},
};

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

} // namespace

bool parse_flag_form(const std::string& argument) { return argument.empty() || argument[0] == '+'; }

void dispatch_parameter(const std::string& text) {
    for (const KeywordRow& row : kKeywords) {
        size_t length = std::char_traits<char>::length(row.keyword);
        bool matches = row.whole ? strcasecmp(text.c_str(), row.keyword) == 0
                                 : strncasecmp(text.c_str(), row.keyword, length) == 0;
        if (matches) {
            row.handler(argument_of(text, length, row.start));
            return;
        }
    }
    if (!text.empty() && text[0] == '+') {
        handle_append_from(text.substr(1));
        return;
    }
    std::printf("Unknown function: [%s].\n", text.c_str());
}

} // namespace rorarodi
