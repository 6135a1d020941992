#include <gtest/gtest.h>

#include "cli_support.h"
#include "commands/record_lists.h"
#include "driver/dispatch.h"
#include "session/session.h"
#include "expr/field_list.h"
#include "opened_table.h"
#include "table_builder.h"

#include <algorithm>
#include <climits>
#include <cstring>

using namespace rorarodi;
using namespace testing_support;

namespace {

// Opens a table of `count` records as the current table.
class RangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        TableLayout layout;
        layout.fields = {{"ID", 'N', 4}};
        for (int i = 0; i < 10; ++i) layout.records.push_back(make_record(layout, {std::to_string(i + 1)}));
        write_file(dir_ / "t.dbf", build_table(layout));
        auto table = std::make_unique<DbfTable>();
        ASSERT_EQ(open_table(*table, dir_ / "t.dbf", false), OpenResult::opened);
        session.current_table = std::move(table);
    }

    std::vector<uint32_t> visited() {
        std::vector<uint32_t> positions;
        visit_range_positions(session, session.table(), [&](uint32_t p) { positions.push_back(p); });
        return positions;
    }

    TempDir dir_;
    Session session;
};

TEST_F(RangeTest, ListsKeepTheirOrderAndDuplicates) {
    EXPECT_EQ(visited().size(), 10u);
    dispatch_parameter(session, "RANGE:3,1-2");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{2, 0, 1}));
    dispatch_parameter(session, "range:1");
    dispatch_parameter(session, "RANGE:1");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{2, 0, 1, 0, 0}));
    dispatch_parameter(session, "RANGE:ALL");
    EXPECT_EQ(visited().size(), 10u);
}

TEST_F(RangeTest, ListsThatNameNothingLeaveAnEmptyListInForce) {
    for (const char* text : {"RANGE:0", "RANGE:abc", "RANGE:5-3", "RANGE:-4", "RANGE:3-", "RANGE:;0,"}) {
        dispatch_parameter(session, "RANGE:all");
        dispatch_parameter(session, text);
        EXPECT_TRUE(session.range_list.entries.has_value()) << text;
        EXPECT_TRUE(visited().empty()) << text;
    }
    dispatch_parameter(session, "RANGE:aLL");
    EXPECT_FALSE(session.range_list.entries.has_value());
}

TEST_F(RangeTest, ListsWithoutTokensLeaveTheRangeAsItWas) {
    // Only a token creates the list: separators alone name no token at all.
    for (const char* text : {"RANGE:;,", "RANGE:,", "RANGE:;"}) {
        dispatch_parameter(session, text);
        EXPECT_FALSE(session.range_list.entries.has_value()) << text;
        EXPECT_EQ(visited().size(), 10u) << text;
    }
    dispatch_parameter(session, "RANGE:2");
    dispatch_parameter(session, "RANGE:,");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{1}));
}

TEST_F(RangeTest, HyphenJoinsTheNumbersWhateverStandsBetween) {
    // Each number is read like atoi: blanks before it and text after it do not count.
    dispatch_parameter(session, "RANGE:2x-4, 6 - 7;9 -10,5-x,8-");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{1, 2, 3, 5, 6, 8, 9}));
}

TEST_F(RangeTest, DeleteAndRecallReadTheSameList) {
    dispatch_parameter(session, "DELETE:2 - 3, 5x-6");
    std::string marks;
    for (uint32_t p = 0; p < 10; ++p) {
        const std::optional<uint8_t> mark = read_mark_byte(session.table(), p);
        ASSERT_TRUE(mark);
        marks += static_cast<char>(*mark);
    }
    EXPECT_EQ(marks, " ** **    ");
    dispatch_parameter(session, "RECALL:1 - 5");
    marks.clear();
    for (uint32_t p = 0; p < 10; ++p) {
        const std::optional<uint8_t> mark = read_mark_byte(session.table(), p);
        ASSERT_TRUE(mark);
        marks += static_cast<char>(*mark);
    }
    EXPECT_EQ(marks, "     *    ");
}

TEST_F(RangeTest, EntriesPastTheViewAreSkippedAndHugeRangesCostNothing) {
    dispatch_parameter(session, "RANGE:9-2000000000,20,2");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{8, 9, 1}));
    EXPECT_EQ(session.range_list.entries->size(), 3u);
}

// Eight bytes of a little-endian double, and of the order-preserving big-endian
// form of level 7 doubles.
std::string level7_double_bytes(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    bits = value < 0 ? ~(bits | (uint64_t{1} << 63)) : bits | (uint64_t{1} << 63);
    std::string bytes;
    for (int i = 7; i >= 0; --i) bytes += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return bytes;
}

// The order that /ORDER builds over a one-field table holding `values`.
std::vector<uint32_t> order_of(const testing_support::FieldLayout& field, const std::vector<std::string>& values, bool descending) {
    TableLayout layout;
    layout.fields = {field};
    for (const std::string& value : values) layout.records.push_back(make_record(layout, {value}));
    OpenedTable t(layout);
    t.table.options.descending = descending;
    EXPECT_TRUE(order_table(t.table, field.name));
    if (!t.table.order_list) return {};
    return std::vector<uint32_t>(t.table.order_list->begin(), t.table.order_list->end());
}

std::vector<uint32_t> reversed(std::vector<uint32_t> order) {
    std::reverse(order.begin(), order.end());
    return order;
}

TEST(OrderTable, IntegersOrderByTheirWholeValue) {
    // Negative numbers of ten digits take eleven characters.
    std::vector<std::string> values;
    for (int32_t v : {-1000000000, -999999999, INT_MIN, 5, INT_MAX, -2147483647, 0, -1000000001})
        values.push_back(le32(static_cast<uint32_t>(v)));
    const std::vector<uint32_t> ascending = {2, 5, 7, 0, 1, 6, 3, 4};
    for (char type : {'I', '+'}) {
        EXPECT_EQ(order_of({"N", type, 4}, values, false), ascending) << type;
        EXPECT_EQ(order_of({"N", type, 4}, values, true), reversed(ascending)) << type;
    }
}

TEST(OrderTable, DoublesWiderThanTheirColumnOrderByTheirWholeValue) {
    std::vector<std::string> values;
    for (double v : {1e30, 5e25, -1e30, -5e25, 3.5, 0.0, 1e19, 12345678901234567.0}) values.push_back(double_bytes(v));
    const std::vector<uint32_t> ascending = {2, 3, 5, 4, 7, 6, 1, 0};
    EXPECT_EQ(order_of({"D", 'B', 8, 2}, values, false), ascending);
    EXPECT_EQ(order_of({"D", 'B', 8, 2}, values, true), reversed(ascending));

    values.clear();
    for (double v : {1e12, -1e12, 5e11, 1.5, -2.25, 0.0}) values.push_back(level7_double_bytes(v));
    EXPECT_EQ(order_of({"D", 'O', 8}, values, false), (std::vector<uint32_t>{1, 4, 5, 3, 2, 0}));
}

TEST(OrderTable, CharacterFieldsKeyByAllTheirStoredBytes) {
    // Zero bytes key as spaces: "ab\0cd" keys as "ab cd", not as "ab" filled with spaces.
    TableLayout layout;
    layout.fields = {{"CODE", 'C', 5}};
    for (const std::string& value : {std::string("ab\0cd", 5), std::string("ab\0aa", 5), std::string("ab x "),
                                    std::string("ab   "), std::string("  b\0a", 5)})
        layout.records.push_back(" " + value);
    // A left trim drops the leading spaces of "  b a", so that it keys as "b a".
    const std::vector<uint32_t> untrimmed = {4, 3, 1, 0, 2}, left_trimmed = {3, 1, 0, 2, 4};
    for (int trim = 0; trim <= 3; ++trim) {
        OpenedTable t(layout);
        t.table.options.trim_mode = static_cast<TrimMode>(trim);
        ASSERT_TRUE(order_table(t.table, "CODE"));
        EXPECT_EQ(t.table.order_list, trim & 2 ? left_trimmed : untrimmed) << "trim mode " << trim;
    }
}

} // namespace
