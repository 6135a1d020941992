#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "table/field_text.h"

using namespace rorarodi;

namespace {

// The quick text is "%*.*f" of the number, ties and signs included, wherever it
// is given; outside its range it declines.
TEST(FixedNumber, QuickTextIsPrintfText) {
    std::mt19937_64 random(42);
    std::vector<double> numbers = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, -0.005, 1.005, 2.675, 1e15 + 0.5,
                                   52345.67 + 1, 99999.995, -0.0049, 1125899906842623.5};
    for (int i = 0; i < 20000; ++i) {
        const double magnitude = std::pow(10.0, static_cast<int>(random() % 16) - 4);
        numbers.push_back((static_cast<double>(random() % 2000001) - 1000000.0) / 1000000.0 * magnitude);
        numbers.push_back(static_cast<double>(static_cast<int64_t>(random() % 20000001) - 10000000) / 8.0);
    }
    int quick = 0;
    for (double number : numbers) {
        for (int decimals = 0; decimals <= 6; ++decimals) {
            char expected[400], got[80];
            std::snprintf(expected, sizeof expected, "%*.*f", 12, decimals, number);
            const int length = print_fixed_quickly(got, number, 12, decimals);
            if (length < 0) {
                EXPECT_GE(std::fabs(number) * std::pow(10.0, decimals), 2251799813685248.0 / 2) << number;
                continue;
            }
            ++quick;
            EXPECT_EQ(std::string(got, static_cast<size_t>(length)), expected) << number << " " << decimals;
        }
    }
    EXPECT_GT(quick, 200000);
    char out[80];
    EXPECT_EQ(print_fixed_quickly(out, NAN, 8, 2), -1);
    EXPECT_EQ(print_fixed_quickly(out, 1.0, 8, 23), -1);
    EXPECT_EQ(print_fixed_quickly(out, 3e15, 8, 0), -1);
}

} // namespace
