#include <gtest/gtest.h>

#include <string>
#include <strings.h>

#include "driver/dispatch.h"

using namespace rorarodi;

namespace {

bool begins_with_ignoring_case(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// The keyword form a usage entry shows: "/DELETED[+|-]" gives DELETED, "/STRUCT:file.txt|..."
// gives STRUCT: (the colon belongs to the keyword).
std::string shown_form(const std::string& usage) {
    std::string form = usage.substr(1, usage.find_first_of("[ ") - 1);
    size_t colon = form.find(':');
    return colon == std::string::npos ? form : form.substr(0, colon + 1);
}

TEST(Dispatch, EveryFormTheUsageTextShowsReachesItsRow) {
    int shown = 0;
    for (const KeywordUsage& row : keyword_usages()) {
        if (row.usage.empty() || !row.dispatched) continue;
        const std::string form = shown_form(row.usage);
        EXPECT_EQ(matched_keyword(form), row.keyword) << row.usage;
        // Flag characters and arguments after the keyword do not move it elsewhere
        // (the one keyword matched as a whole text aside).
        if (row.keyword != "deletedonly") {
            EXPECT_EQ(matched_keyword(form + (form.back() == ':' ? "x" : "-")), row.keyword) << row.usage;
        }
        ++shown;
    }
    EXPECT_GE(shown, 60);
}

TEST(Dispatch, AbbreviationsAndNeighboursKeepTheirRows) {
    const std::pair<const char*, const char*> cases[] = {
        {"S:NAME", "s:"},          {"f:AGE>3", "f:"},         {"L:A=1", "l:"},          {"o:NAME", "o:"},
        {"DEL-", "del"},           {"DELETED-", "deleted"},   {"deletedonly", "deletedonly"},
        {"DELETEDONLYX", "deleted"}, {"FIELDS", "fields"},    {"FIELD:A=1", "field:"},  {"DESC", "desc"},
        {"VERBOSEX", "verbose"},   {"SQL2000", "sql2000"},    {"SUM:A", "sum"},         {"2OEM", "2oem"},
        {"2ANSI", "2ansi"},        {"OEM2ANSI", "oem2ansi"},  {"OEM", "oem"},           {"UPDATE", "update"},
        {"Uppercase=AB", "Uppercase="}, {"CodePages=866,1251", "CodePages="}, {"?", "?"},
        {"UTF8", "utf8"},          {"utf8x", "utf8"},         {"UTF", ""},              {"ENCODE", ""},
        {"CREATE:s.txt", ""},      {"SQL:postgres", "sql:"},  {"sql:sqlite", "sql:"},   {"SQL", ""},
        {"DRYRUN", "dryrun"},      {"dryrunx", "dryrun"},     {"DRY", ""},              {"D", ""},
    };
    for (const auto& [text, keyword] : cases) EXPECT_EQ(matched_keyword(text), keyword) << text;
}

// "utf8" and "dryrun" begin no other keyword and no other keyword begins them, so
// their rows can take no parameter text from another row, whatever their place.
TEST(Dispatch, TheUtf8AndDryRunRowsShareNoPrefixWithAnotherRow) {
    for (const std::string own : {"utf8", "dryrun"}) {
        int rows = 0;
        for (const KeywordUsage& row : keyword_usages()) {
            if (row.keyword == own) continue;
            EXPECT_FALSE(begins_with_ignoring_case(own, row.keyword)) << row.keyword;
            EXPECT_FALSE(begins_with_ignoring_case(row.keyword, own)) << row.keyword;
            ++rows;
        }
        EXPECT_GT(rows, 60);
    }
}

} // namespace
