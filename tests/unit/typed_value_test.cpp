#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "opened_table.h"
#include "table/typed_value.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

TEST(TypedValue, NumberTextsKeepTheStoredDigitsInJsonSyntax) {
    const std::pair<const char*, const char*> cases[] = {
        {"  12.50", "12.50"},       {"   .5", "0.5"},          {"  -.25", "-0.25"},
        {"+007", "7"},              {"0000", "0"},             {"5.", "5"},
        {" 3,5  ", "3.5"},          {"1,2,3", "1.2"},          {"1.3945052E+02", "1.3945052E+02"},
        {"2e-3x", "2e-3"},          {"7E", "7"},               {"7E+", "7"},
        {"-0", "-0"},               {"12\0" "34", "12"},
    };
    std::string out;
    for (const auto& [stored, expected] : cases) {
        EXPECT_TRUE(exact_number_text(stored, out)) << stored;
        EXPECT_EQ(out, expected) << stored;
    }
    for (const char* none : {"", "     ", " - ", ".", "-.", "***", "inf", "E5"}) EXPECT_FALSE(exact_number_text(none, out)) << none;
}

TEST(TypedValue, DoublesInTheirShortestExactForm) {
    std::string out;
    ASSERT_TRUE(shortest_double_text(33.33, out));
    EXPECT_EQ(out, "33.33");
    ASSERT_TRUE(shortest_double_text(0.1 + 0.2, out));
    EXPECT_EQ(out, "0.30000000000000004");
    EXPECT_FALSE(shortest_double_text(1.0 / 0.0 - 1.0 / 0.0, out));
}

// One record of every kind of value; the expected value text, or "null".
TEST(TypedValue, EveryTypeReadsAsItsExactValue) {
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.code_page_mark = 0x65;  // 866
    layout.fields = {{"NAME", 'C', 8},  {"QTY", 'N', 6},       {"WHOLE", 'N', 5, 0}, {"BIG", 'N', 20, 0},
                     {"PRICE", 'N', 13, 3}, {"COUNT", 'I', 4}, {"RATE", 'B', 8, 2},  {"CASH", 'Y', 8},
                     {"BORN", 'D', 8},  {"SEEN", 'T', 8},      {"OK", 'L', 1},       {"RAW", 'C', 3, 0, 0x04},
                     {"EMPTY", 'D', 8}, {"NOPE", 'L', 1},      {"NONUM", 'N', 4},    {"WIDE", 'N', 18, 0},
                     {"NEG", 'N', 19, 0}, {"ODD", 'D', 8},     {"LATE", 'T', 8}};
    const double rate = 33.33;
    std::string rate_bytes(8, '\0');
    std::memcpy(rate_bytes.data(), &rate, 8);
    // 29 February 2016 12:34:56: day number 2457448.
    layout.records = {make_record(layout, {std::string("\xA0\0 \"q ", 6), "  -.50", "12.00", "12345678901234567890", "1.3945052E+02",
                                           le32(static_cast<uint32_t>(-7)), rate_bytes,
                                           le32(static_cast<uint32_t>(-123456)) + le32(0xFFFFFFFF), "20160229",
                                           le32(2457448) + le32(45296000), "t", std::string("a\0b", 3), "20150229",
                                           "?", "    ", "123456789012345678", "-123456789012345678", "-1000101",
                                           le32(2457448) + le32(86399500)})};
    OpenedTable opened(layout, true);
    TypedReader reader(opened.table);
    const std::pair<ValueType, const char*> expected[] = {
        {ValueType::text, "\xD0\xB0 \"q"},  {ValueType::number, "-0.50"},        {ValueType::integer, "12"},
        {ValueType::number, "12345678901234567890"}, {ValueType::number, "1.3945052E+02"}, {ValueType::integer, "-7"},
        {ValueType::number, "33.33"},       {ValueType::number, "-12.3456"}, {ValueType::date, "2016-02-29"},
        {ValueType::datetime, "2016-02-29T12:34:56"}, {ValueType::logical, ""}, {ValueType::bytes, ""},
        {ValueType::null, ""},              {ValueType::null, ""},            {ValueType::null, ""},
        // 18 digits, with or without a sign, are an exact 64-bit integer.
        {ValueType::integer, "123456789012345678"}, {ValueType::integer, "-123456789012345678"},
        // A negative year is no date; the milliseconds round, into the next day here.
        {ValueType::null, ""},              {ValueType::datetime, "2016-03-01T00:00:00"},
    };
    for (int field = 0; field < static_cast<int>(std::size(expected)); ++field) {
        const TypedValue& value = reader.read(field);
        EXPECT_EQ(value.type, expected[field].first) << field;
        if (value.type == ValueType::logical) {
            EXPECT_EQ(value.integer, 1);
        } else if (value.type == ValueType::bytes) {
            EXPECT_EQ(value.text, std::string("a\0b", 3));
        } else {
            EXPECT_EQ(value.text, expected[field].second) << field;
        }
    }
    EXPECT_EQ(column_kind(opened.table, 3), ColumnKind::decimal);  // 20 digits do not fit 64 bits
    EXPECT_EQ(column_kind(opened.table, 2), ColumnKind::integer);
}

// Trailing spaces and NULs go in any mix, whatever their count; a text of plain
// ASCII without quotes, backslashes or control characters is marked plain.
TEST(TypedValue, TextsLoseTheirPaddingAndAreMarkedPlain) {
    const std::pair<std::string, std::pair<const char*, bool>> cases[] = {
        {"abc", {"abc", true}},
        {std::string("ab\0 \0 \0\0\0 ", 10), {"ab", true}},
        {std::string("abcdefghijk\0", 12), {"abcdefghijk", true}},
        {"abcdefghijkl", {"abcdefghijkl", true}},
        {std::string("  lead   \0", 10), {"  lead", true}},
        {"", {"", true}},
        {"a\"b", {"a\"b", false}},
        {"back\\slash", {"back\\slash", false}},
        {"x\ty", {"x\ty", false}},
        {std::string("a\0b", 3), {"ab", false}},
    };
    TableLayout layout;
    std::vector<std::string> values;
    for (size_t i = 0; i < std::size(cases); ++i) {
        layout.fields.push_back({"T" + std::to_string(i), 'C', 12});
        values.push_back(cases[i].first);
    }
    layout.records = {make_record(layout, values)};
    OpenedTable opened(layout, true);
    TypedReader reader(opened.table);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TypedValue& value = reader.read(static_cast<int>(i));
        EXPECT_EQ(value.text, cases[i].second.first) << i;
        EXPECT_EQ(value.plain, cases[i].second.second) << i;
    }
}

} // namespace
