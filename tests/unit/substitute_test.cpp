#include <gtest/gtest.h>

#include "cli_support.h"
#include "expr/substitute.h"
#include "table/table.h"
#include "opened_table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

TableLayout shop_table(const std::string& name, const std::string& price) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"PRICE", 'N', 8, 2}, {"BORN", 'D', 8}, {"LONGFIELD1", 'C', 3}};
    layout.records = {make_record(layout, {name, price, "20160229", "xyz"})};
    return layout;
}

struct Substituted {
    std::string text;
    int position = -2;
    bool numeric = false;
};

Substituted substitute(DbfTable& table, const std::string& source) {
    Substituted s;
    s.numeric = true;  // substitution clears it first
    s.position = substitute_fields(table, source, s.text, s.numeric);
    return s;
}

TEST(SubstituteFields, FieldsQuotesAndOperatorPosition) {
    OpenedTable t(shop_table("John", "12.5"), true);
    Substituted s = substitute(t.table, "NAME+'-'+PRICE");
    EXPECT_EQ(s.text, "John      +-+   12.50");
    EXPECT_EQ(s.position, 10);
    EXPECT_TRUE(s.numeric);

    s = substitute(t.table, "name=\"NAME\"");
    EXPECT_EQ(s.text, "John      =NAME");
    EXPECT_EQ(s.position, 10);
    EXPECT_FALSE(s.numeric);

    // A quoted operator does not count; the one after it does.
    s = substitute(t.table, "'a>b'=NAME");
    EXPECT_EQ(s.text, "a>b=John      ");
    EXPECT_EQ(s.position, 3);

    // An open quote runs to the end; the other quote character is plain inside it.
    s = substitute(t.table, "\"it's NAME");
    EXPECT_EQ(s.text, "it's NAME");
    EXPECT_EQ(s.position, -1);
}

TEST(SubstituteFields, WordsAreMatchedByTheirFirstTenCharacters) {
    OpenedTable t(shop_table("John", "12.5"), true);
    const struct {
        const char* source;
        const char* text;
    } cases[] = {
        {"NAMES", "NAMES"},
        {"NAME_", "NAME_"},
        {"xNAME", "xNAME"},
        {"2NAME", "2NAME"},
        {"NAME2", "NAME2"},
        {"NAME NAME", "John       John      "},
        {"(NAME)", "(John      )"},
        {"longfield1", "xyz"},
        {"LONGFIELD1X", "xyzX"},
        {"LONGFIELD1NAME", "xyzNAME"},
        {"LONGFIELD", "LONGFIELD"},
    };
    for (const auto& c : cases) EXPECT_EQ(substitute(t.table, c.source).text, c.text) << c.source;
}

TEST(SubstituteFields, BlankNumbersAndDates) {
    OpenedTable t(shop_table("Ann", ""), true);
    Substituted s = substitute(t.table, "PRICE");
    EXPECT_EQ(s.text, "    0.00");
    EXPECT_TRUE(s.numeric);
    for (int mode = 0; mode <= 3; ++mode) {
        t.table.options.date_mode = static_cast<DateMode>(mode);
        s = substitute(t.table, "BORN>2000");
        EXPECT_EQ(s.text, "20160229>2000") << mode;
        EXPECT_FALSE(s.numeric);
        EXPECT_EQ(t.table.options.date_mode, static_cast<DateMode>(mode));
    }
}

TEST(SubstituteFields, IgnoredQuotesAreOrdinaryCharacters) {
    OpenedTable t(shop_table("John", "1"), true);
    t.table.options.expression_quotes = {0, 0};
    Substituted s = substitute(t.table, "'NAME'=\"x\"");
    EXPECT_EQ(s.text, "'John      '=\"x\"");
    EXPECT_EQ(s.position, 12);
}

// Maps 'J' to '#': stands for an OEM-to-ANSI translation table.
void hash_for_j(unsigned char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == 'J') text[i] = '#';
}

TEST(SubstituteFields, CharacterFieldsAreConvertedFromOemUnlessAnsi) {
    OpenedTable t(shop_table("John", "1"), true);
    t.table.options.from_oem_hook = hash_for_j;
    EXPECT_EQ(substitute(t.table, "NAME='J'").text, "#ohn      =J");
    t.table.options.ansi = true;
    EXPECT_EQ(substitute(t.table, "NAME='J'").text, "John      =J");
}

TEST(SubstituteFields, PlanGivesTheSameAsDirectSubstitution) {
    OpenedTable t(shop_table("Jo=hn", "7"), true);
    const char* sources[] = {"NAME+'-'+PRICE", "PRICE>3", "'x'NAME=PRICE", "NAME", "(NAME=Jo)", "",
                             "'>'", "LONGFIELD1X~y", "NAME NAMES PRICE*2>10", "=NAME", "NAME=", "\"a"};
    for (const char* source : sources) {
        Substituted direct = substitute(t.table, source);
        SubstitutionPlan plan = plan_substitution(t.table, source);
        std::string text;
        bool numeric = true;
        int position = substitute_planned(t.table, plan, text, numeric);
        EXPECT_EQ(text, direct.text) << source;
        EXPECT_EQ(position, direct.position) << source;
        EXPECT_EQ(numeric, direct.numeric) << source;
        EXPECT_EQ(plan.numeric, direct.numeric) << source;
    }
}

std::string functions(const std::string& text, int date_mode = 0) {
    DbfTable table;
    table.options.date_mode = static_cast<DateMode>(date_mode);
    std::string result = text;
    apply_string_functions(result, table);
    return result;
}

TEST(StringFunctions, EachFunction) {
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"TRIM(  a  )b", "ab"},
        {"LTRIM(  a  )b", "a  b"},
        {"RTRIM(  a  )b", "  ab"},
        {"trim( a )", "a"},
        {"TRIM(\ta\t)", "\ta\t"},
        {"SUBSTR(abcdef,2,3)", "cde"},
        {"SUBSTR(abcdef,2)", "cdef"},
        {"SUBSTR(abcdef,9)", ""},
        {"SUBSTR(abcdef,6)", ""},
        {"SUBSTR(abcdef,5)", "f"},
        {"SUBSTR(abcdef)", "abcdef"},
        {"SUBSTR(abcdef,-1)", ""},
        {"SUBSTR(abcdef,1,-1)", "bcdef"},
        {"SUBSTR(abcdef,1,0)", ""},
        {"SUBSTR(abcdef,4,9)", "ef"},
        {"SUBSTR(abcdef,x)", "abcdef"},
        {"LEFT(abcdef,3)", "abc"},
        {"LEFT(ab,5)", "ab"},
        {"LEFT(ab,2)", "ab"},
        {"LEFT(abc,-1)", "abc"},
        {"LEFT(abc,0)", ""},
        {"LEFT(abc)", "abc"},
        {"RIGHT(abcdef,2)", "ef"},
        {"RIGHT(ab,5)", "ab"},
        {"RIGHT(abc,-1)", ""},
        {"RIGHT(abc,0)", ""},
        {"RIGHT(abc)", "abc"},
        {"SPACE(5)", "5"},
        {"REPLICATE(ab,3)", "ab,3"},
        {"UPPER(abc)d", "ABCd"},
        {"LOWER(ABC)D", "abcD"},
        {"CAP(hello wORLD)", "Hello World"},
        {"CAP(a\tbC dE)", "A\tBc De"},
        {"x UPPER(a)y", "x Ay"},
        {"UPPER(TRIM(x))", "TRIM(X)"},
        {"UPPER(abc", "ABC"},
        {"TRIM(", ""},
        {"TRIM", "TRIM"},
        {"LEFT(ab,1)RIGHT(cd,1)", "ad"},
        {"no calls here", "no calls here"},
    };
    for (const auto& c : cases) EXPECT_EQ(functions(c.text), c.result) << c.text;
}

TEST(StringFunctions, DtosFollowsTheDateMode) {
    const struct {
        int mode;
        const char* text;
        const char* result;
    } cases[] = {
        {0, "DTOS(20240131)", "20240131"},
        {0, "DTOS(20240131102030)", "20240131102030"},
        {4, "DTOS(20240131)", "20240131"},
        {1, "DTOS(31.01.2024)", "20240131"},
        {1, "DTOS(31.01.2024 10:20:30)", "20240131102030"},
        {2, "DTOS(01.31.2024)", "20240131"},
        {2, "DTOS(01.31.2024 10:20:30)", "20240131102030"},
        {3, "DTOS(2024.01.31)", "20240131"},
        {3, "DTOS(2024.01.31 10:20:30)", "20240131102030"},
        // A substituted (compact) date read in another layout.
        {1, "DTOS(20240131)", "314020"},
        // Parts beyond a short argument are empty.
        {1, "DTOS(31.01)", "0131"},
        {1, "DTOS(31.01.20)", "200131"},
        {0, "DTOS(2024)", "2024"},
        {1, "DTOS(31.01.2024 10)", "2024013110"},
        {1, "DTOS()", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(functions(c.text, c.mode), c.result) << c.mode << " " << c.text;
}

} // namespace
