#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/text.h"

using namespace rorarodi;

namespace {

TEST(Text, LeadingIntegersAsAtoiReadsThem) {
    struct Case {
        std::string text;
        std::optional<int64_t> value;
        int32_t as_int32;
    };
    const Case cases[] = {
        {"42", 42, 42},
        {" \t\n\v\f\r-17xyz", -17, -17},
        {"+8", 8, 8},
        {"12 34", 12, 12},
        {"", std::nullopt, 0},
        {"  -", std::nullopt, 0},
        {"x1", std::nullopt, 0},
        {"- 1", std::nullopt, 0},
        {"2147483648", 2147483648LL, INT32_MAX},
        {"-2147483648", -2147483648LL, INT32_MIN},
        {"-99999999999", -99999999999LL, INT32_MIN},
        {"9223372036854775807", INT64_MAX, INT32_MAX},
        {"99999999999999999999999", INT64_MAX, INT32_MAX},
        {"-9223372036854775808", INT64_MIN, INT32_MIN},
        {"-99999999999999999999999", INT64_MIN, INT32_MIN},
        {std::string("5\0" "7", 3), 5, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_leading_integer(c.text), c.value) << c.text;
        EXPECT_EQ(leading_int32(c.text), c.as_int32) << c.text;
    }
}

TEST(Text, AsciiCaseOnly) {
    EXPECT_TRUE(equals_ignoring_case("Filter:", "fILTER:"));
    EXPECT_FALSE(equals_ignoring_case("filter", "filters"));
    EXPECT_FALSE(equals_ignoring_case("\xE0", "\xC0"));  // bytes beyond ASCII are not folded
    EXPECT_TRUE(starts_with_ignoring_case("ALLx", "all"));
    EXPECT_FALSE(starts_with_ignoring_case("al", "all"));
    EXPECT_TRUE(ends_with_ignoring_case("list.CSV", ".csv"));
    EXPECT_FALSE(ends_with_ignoring_case("csv", ".csv"));
    EXPECT_EQ(ascii_upper('z'), 'Z');
    EXPECT_EQ(ascii_lower('['), '[');
}

} // namespace
