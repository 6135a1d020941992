#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "expr/calculator.h"

using namespace rorarodi;

namespace {

struct Case {
    const char* text;
    std::optional<double> value;  // nullopt: an error
};

TEST(Calculator, ValuesAndErrors) {
    const Case cases[] = {
        // Precedence and grouping.
        {"1+2*3", 7},
        {"(1+2)*3", 9},
        {"2^3^2", 512},
        {"-2^2", 4},
        {"2^-1", 0.5},
        {"2*-3", -6},
        {"10/4", 2.5},
        {"10-4-3", 3},
        {"100/10/5", 2},
        {"-(2+3)", -5},
        {"-sqrt(4)", -2},
        {"1-2", -1},
        {"1--2", 3},
        {"1---2", std::nullopt},
        // Division by zero and empty input.
        {"1/0", std::nullopt},
        {"-1/0", std::nullopt},
        {"0/0", std::nullopt},
        {"1E300/1E-300", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"--2", std::nullopt},
        {"+2", std::nullopt},
        {"2+", std::nullopt},
        {"(1", std::nullopt},
        {"1)", std::nullopt},
        {"()", std::nullopt},
        // Functions.
        {"sqrt(16)", 4},
        {"SQRT(16)", 4},
        {"SQRT 16", std::nullopt},
        {"SQRT", std::nullopt},
        {"POW10(2)", 1024},
        {"SQR(3)", 9},
        {"ROUND(2.5)", 3},
        {"ROUND(-2.5)", -2},
        {"TRUNC(-2.7)", -2},
        {"TRUNC(2.7)", 2},
        {"ROUND(-2.7)", -2},
        {"ABS(-3)", 3},
        {"ABSX", std::nullopt},
        {"ABS(-3)X", std::nullopt},
        {"EXP(0)", 1},
        {"LOG(1)", 0},
        {"LOG10(1000)", 3},
        {"COSH(0)", 1},
        {"COS(0)", 1},
        {"SINH(0)", 0},
        {"SIN(0)", 0},
        {"TANH(0)", 0},
        {"TAN(0)", 0},
        {"ACOS(1)", 0},
        {"ASIN(0)", 0},
        {"ATAN(0)", 0},
        {"Q(1)", std::nullopt},
        {"ABS(1", std::nullopt},
        // Numbers.
        {"1.5E3", 1500},
        {"1e3", 1000},
        {"1E+2", 100},
        {"1E-2", 0.01},
        {".5", 0.5},
        {"5.", 5},
        {".", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1E1234", std::nullopt},
        {"1E123", 1e123},
        {"1E", 1},
        // White space and other characters.
        {"1 + 2", 3},
        {" 1+2 ", 3},
        {"1\t+2", std::nullopt},
        {"5:3", std::nullopt},
        {":", std::nullopt},
        {"2#3", std::nullopt},
        {"1,5", std::nullopt},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        bool ok = true;
        double value = calculate(text, ok);
        if (c.value) {
            EXPECT_TRUE(ok) << c.text;
            EXPECT_NEAR(value, *c.value, 1e-9 * std::max(1.0, std::fabs(*c.value))) << c.text;
        } else {
            EXPECT_FALSE(ok) << c.text;
            EXPECT_EQ(value, 0) << c.text;
        }
    }
}

TEST(Calculator, ParseStackHoldsThirtyEntries) {
    // 27 nested groups fit: the base entry, 27 '(' entries, the value and the ')'.
    std::string fits = std::string(27, '(') + "1" + std::string(27, ')');
    bool ok = true;
    EXPECT_EQ(calculate(fits, ok), 1);
    EXPECT_TRUE(ok);
    for (int depth : {28, 30, 40}) {
        std::string deep = std::string(depth, '(') + "1" + std::string(depth, ')');
        ok = true;
        EXPECT_EQ(calculate(deep, ok), 0);
        EXPECT_FALSE(ok) << depth;
    }
}

TEST(Calculator, LongExpressionsAreEvaluatedWhole) {
    std::string text = "1";
    for (int i = 0; i < 500; ++i) text += "+1";
    bool ok = true;
    EXPECT_EQ(calculate(text, ok), 501);
    EXPECT_TRUE(ok);
}

TEST(Calculator, SuccessUpperCasesTheTextAndKeepsTheFlag) {
    std::string text = "sqrt(4)+1e1";
    bool ok = true;
    EXPECT_EQ(calculate(text, ok), 12);
    EXPECT_TRUE(ok);
    EXPECT_EQ(text, "SQRT(4)+1E1");

    std::string bad = "sqrt(";
    EXPECT_EQ(calculate(bad, ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(bad, "sqrt(");
    // A later success does not set the flag again.
    std::string good = "1";
    EXPECT_EQ(calculate(good, ok), 1);
    EXPECT_FALSE(ok);
}

TEST(Calculator, DomainErrorsAreValues) {
    std::string text = "SQRT(-1)";
    bool ok = true;
    EXPECT_TRUE(std::isnan(calculate(text, ok)));
    EXPECT_TRUE(ok);
    text = "LOG(0)";
    EXPECT_EQ(calculate(text, ok), -HUGE_VAL);
    EXPECT_TRUE(ok);
    // A quotient of negative infinity is not an error.
    text = "-1E300/1E-300";
    EXPECT_EQ(calculate(text, ok), -HUGE_VAL);
    EXPECT_TRUE(ok);
}

TEST(Calculator, RoundAndTruncOutsideTheIntegerRange) {
    std::string text = "TRUNC(3E9)";
    bool ok = true;
    EXPECT_EQ(calculate(text, ok), -2147483648.0);
    text = "ROUND(2147483646.9)";
    EXPECT_EQ(calculate(text, ok), 2147483647.0);
    EXPECT_TRUE(ok);
}

} // namespace
