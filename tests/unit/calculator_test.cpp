#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

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

// A compiled calculation gives what calculate() gives for the joined text, for
// every sign of its numbers, and fails where it fails; texts whose numbers would
// run on into the text beside them, or that do not parse, are not compiled
// (`compiles` false: for no sign pattern).
TEST(CompiledCalculation, AgreesWithTheJoinedText) {
    struct Case {
        std::vector<const char*> texts;  // nullptr marks a number
        bool compiles;
    } cases[] = {
        {{nullptr, "+1"}, true},
        {{nullptr, "*-1.5+", nullptr, "/3"}, true},
        {{"-", nullptr, "^2"}, true},
        {{"sqrt(", nullptr, ")+1E2-(", nullptr, ")"}, true},
        {{nullptr, "/(", nullptr, "-5)"}, true},
        {{"ROUND(", nullptr, "*100)/100^", nullptr}, true},
        {{"(", nullptr}, false},          // does not parse
        {{"1", nullptr}, false},          // digits run on
        {{"LOG", nullptr}, false},        // "LOG10.5" would be another name
        {{nullptr, "E2"}, false},         // an exponent
        {{nullptr, ".5"}, false},
        {{nullptr, nullptr}, false},
        {{nullptr, "+2E", "+3"}, false},  // texts side by side scan as one
    };
    const char* numbers[] = {"12.50", "0.00", "5", ".75", "123456789012345"};
    for (const Case& c : cases) {
        size_t count = 0;
        for (const char* text : c.texts) count += text == nullptr;
        for (size_t signs = 0; signs < (size_t{1} << count); ++signs) {
            for (const char* number : numbers) {
                std::vector<CalculationPiece> pieces;
                std::vector<double> values;
                std::string joined;
                size_t k = 0;
                for (const char* text : c.texts) {
                    CalculationPiece piece;
                    if (text) {
                        piece.text = text;
                        joined += text;
                    } else {
                        piece.number = true;
                        piece.negative = (signs >> k++) & 1;
                        joined += std::string("  ") + (piece.negative ? "-" : "") + number;
                        values.push_back(std::strtod(number, nullptr));
                    }
                    pieces.push_back(piece);
                }
                SCOPED_TRACE(joined);
                const std::optional<CompiledCalculation> compiled = compile_calculation(pieces);
                bool ok = true;
                const double expected = calculate(joined, ok);
                if (!c.compiles) {
                    EXPECT_FALSE(compiled.has_value());
                }
                // A sign pattern that does not parse ("- -12.50") is not compiled either.
                if (!compiled) {
                    EXPECT_TRUE(!c.compiles || !ok);
                    continue;
                }
                double got = 0;
                ASSERT_EQ(compiled->evaluate(values.data(), got), ok);
                if (!ok) continue;
                if (std::isnan(expected)) {
                    EXPECT_TRUE(std::isnan(got));
                } else {
                    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0);
                }
            }
        }
    }
}

} // namespace
