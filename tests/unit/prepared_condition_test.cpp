#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "expr/filter.h"
#include "expr/prepared_condition.h"
#include "opened_table.h"
#include "random_values.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// Stored values that the prepared forms read directly and ones they must leave to
// substitution: odd numbers, zero bytes, parentheses, operator characters, high bytes.
std::string random_text(Random& random, size_t width) {
    static const std::string kTexts[] = {
        "John", "joan", "Jo", "Smith (Jr)", "=abc", "<x", ">=", "TRIM(ab", "  lead", "a&b", "ab)", "PARIS",
        "paris", "Rome", "", std::string("ab\0cd", 5), "\x80\xA0\xE4\xFF", "\xA8\xE0x", "x\x28", "1980", "12"};
    std::string value = one_of(random, kTexts);
    if (chance(random, 20)) value += static_cast<char>('a' + pick(random, 26));
    std::string field = fit(value, width, false);
    if (chance(random, 5)) field.back() = '\0';
    return field;
}

std::string random_number(Random& random, size_t width, unsigned decimals) {
    static const char* const kOdd[] = {"12,5", "1e3", "abc", "-", ".", "007", "+5", "1.5", "12.345", "-0.00",
                                       "123456789012345678", "  \t7", "", "5 5", "0x10", "inf", "-.5"};
    if (chance(random, 25)) return fit(one_of(random, kOdd), width, true);
    long long cents = static_cast<long long>(pick(random, 200000)) - 50000;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", static_cast<int>(decimals), static_cast<double>(cents) / 100.0);
    return fit(text, width, true);
}

std::string random_date(Random& random) {
    static const char* const kDates[] = {"19800512", "19991231", "20000229", "19000229", "20230230",
                                         "        ", "abcdefgh", "1980 101", "00000000", "20011301"};
    std::string value = one_of(random, kDates);
    if (chance(random, 5)) value[3] = '\0';
    return value;
}

TableLayout random_table(Random& random) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 12}, {"CITY", 'C', 6},   {"AGE", 'N', 4},  {"PRICE", 'N', 8, 2},
                     {"RATE", 'F', 6, 3}, {"BORN", 'D', 8}, {"FLAG", 'L', 1}, {"QTY", 'I', 4},
                     {"CASH", 'Y', 8},  {"NOTES", 'M', 10}};
    const size_t records = 6 + pick(random, 10);
    for (size_t r = 0; r < records; ++r) {
        std::vector<std::string> values = {random_text(random, 12), random_text(random, 6),
                                           random_number(random, 4, 0), random_number(random, 8, 2),
                                           random_number(random, 6, 3), random_date(random)};
        values.push_back(std::string(1, "TF? =\0"[pick(random, 6)]));
        values.push_back(little_endian(static_cast<uint32_t>(random()), 4));
        values.push_back(little_endian(chance(random, 20) ? random() * 0x10000000ull : pick(random, 10000000), 8));
        values.push_back(fit(chance(random, 50) ? "5" : "", 10, true));
        layout.records.push_back(make_record(layout, values, chance(random, 20)));
    }
    return layout;
}

std::string random_operand(Random& random) {
    static const char* const kFields[] = {"NAME", "name", "CITY", "AGE", "PRICE", "RATE", "BORN", "FLAG", "QTY",
                                          "CASH", "NOTES", "Age"};
    static const char* const kConstants[] = {
        "Jo",       "JO",       "john", "'Jo'",   "\"a b\"", "Smith (", "(Jo",   "Jo)",      "TRIM( Jo )",
        "UPPER(jo)", "LEFT(Joan,2)", "DTOS(19800512)", "1980", "19800512", "30",  "-3",    "12.50", "1e2",
        "0",        ".5",       "",     " ",      "=x",      "PARIS",   "'('",   "\x80\xA0", "99999999999"};
    static const char* const kArithmetic[] = {"*2", "+1", "-AGE", "/2", "^2", "+PRICE"};
    switch (pick(random, 4)) {
    case 0: return one_of(random, kConstants);
    case 1: {
        std::string operand = one_of(random, kFields);
        if (chance(random, 25)) operand += one_of(random, kArithmetic);
        if (chance(random, 10)) operand = " " + operand + " ";
        if (chance(random, 10)) operand = "ABS(" + operand + ")";
        return operand;
    }
    default: return chance(random, 50) ? one_of(random, kFields) : one_of(random, kConstants);
    }
}

std::string random_piece(Random& random) {
    static const char* const kOperators[] = {"=", "==", "<", ">", "<=", ">=", "<>", "~", "^", "=<",
                                             "=>", "><", "~<", "~>", "~=", "<<", ">>", "+"};
    static const char* const kCommon[] = {"=", "==", "<", ">", "<=", ">=", "<>", "~", "^"};
    static const char* const kNumericFields[] = {"AGE", "PRICE", "rate", "QTY", "CASH"};
    static const char* const kTextFields[] = {"NAME", "city", "BORN", "FLAG", "NOTES"};
    static const char* const kNumbers[] = {"30", "-3", "12.50", "0", " 7 ", "1e2", "-0"};
    static const char* const kTexts[] = {"Jo", "JO", "'jo'", "Smith", "PAR", "1980", "19800512", "T", "Full", ""};
    const char* op = chance(random, 60) ? one_of(random, kCommon) : one_of(random, kOperators);
    // Half the pieces compare a field with a constant of its kind, as most filters do.
    if (chance(random, 50)) {
        const bool numeric = chance(random, 50);
        std::string field = numeric ? one_of(random, kNumericFields) : one_of(random, kTextFields);
        std::string constant = numeric ? one_of(random, kNumbers) : one_of(random, kTexts);
        return chance(random, 80) ? field + op + constant : constant + op + field;
    }
    return random_operand(random) + op + random_operand(random);
}

std::string random_condition(Random& random, int depth) {
    if (depth == 0 || chance(random, 35)) return random_piece(random);
    std::string joined = random_condition(random, depth - 1) + (chance(random, 50) ? "&" : "|") +
                         random_condition(random, depth - 1);
    if (chance(random, 50)) joined = "(" + joined + ")";
    if (chance(random, 3)) joined += ")";
    return joined;
}

// Translation-table hooks as the run loop installs them: byte-for-byte maps.
void install_random_hooks(Random& random, DbfTable& table) {
    table.options.upper_case_hook = nullptr;
    table.options.from_oem_hook = nullptr;
    if (chance(random, 20))
        table.options.upper_case_hook = [](unsigned char* text) {
            for (; *text; ++text)
                if ((*text >= 'a' && *text <= 'z') || *text == 0xA0) *text = static_cast<unsigned char>(*text - 32);
        };
    if (chance(random, 20))
        table.options.from_oem_hook = [](unsigned char* text, size_t length) {
            for (size_t i = 0; i < length; ++i)
                if (text[i] == 0x80) text[i] = '(';
                else if (text[i] == 0xA8) text[i] = 'e';
        };
}

TEST(PreparedCondition, AgreesWithSubstitutionOnRandomConditions) {
    Random random(12);
    int compared = 0;
    for (int round = 0; round < 40; ++round) {
        OpenedTable t(random_table(random));
        DbfTable& table = t.table;
        for (int c = 0; c < 60; ++c) {
            const std::string condition = random_condition(random, 3);
            table.options.case_insensitive = chance(random, 30);
            table.options.trim_mode = static_cast<TrimMode>(pick(random, 4));
            table.options.ansi = chance(random, 30);
            table.options.hide_deleted = chance(random, 20);
            table.options.date_mode = static_cast<DateMode>(pick(random, 4));
            table.options.expression_quotes = chance(random, 10) ? std::array<char, 2>{0, 0} : std::array<char, 2>{'"', '\''};
            install_random_hooks(random, table);
            CompiledCondition compiled = compile_condition(table, condition);
            FilterWork work;
            std::vector<uint32_t> passing;
            for (uint32_t j = 0; j < table.record_count(); ++j) {
                ASSERT_TRUE(read_view_record(table, j));
                const bool passes = record_passes(table, FilterCondition(condition));
                ASSERT_EQ(record_passes(table, compiled, work), passes)
                    << condition << " record " << j << " case " << table.options.case_insensitive << " trim "
                    << static_cast<int>(table.options.trim_mode) << " ansi " << table.options.ansi;
                if (passes) passing.push_back(j);
                ++compared;
            }
            // The whole filter, reading the records where the block holds them.
            table.filter = RecordFilter{};
            apply_filter(table, condition);
            ASSERT_EQ(*table.filter.view_list, passing) << condition;
            table.filter = RecordFilter{};
        }
    }
    EXPECT_GT(compared, 20000);
}

// A zero byte or a parenthesis in the last bytes of a character field, past the
// first eight, decides as the general path does.
TEST(PreparedCondition, ZeroByteOrParenthesisAtTheEndOfTheField) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10}};
    layout.records = {make_record(layout, {std::string("ABCDEFGH\0X", 10)}), make_record(layout, {"ABCDEFGH(X"}),
                      make_record(layout, {"ABCDEFGHI)"})};
    OpenedTable t(layout);
    for (const char* condition : {"NAME=ABCDEFGH", "NAME==ABCDEFGH", "NAME>ABCDEFGH", "NAME~X", "NAME==ABCDEFGHI"}) {
        CompiledCondition compiled = compile_condition(t.table, FilterCondition(condition));
        FilterWork work;
        for (uint32_t j = 0; j < 3; ++j) {
            ASSERT_TRUE(read_view_record(t.table, j));
            EXPECT_EQ(record_passes(t.table, compiled, work), record_passes(t.table, FilterCondition(condition)))
                << condition << " record " << j;
        }
    }
}

// The common comparisons take a prepared form; what it cannot read stays general.
TEST(PreparedCondition, FormsOfCommonComparisons) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"BORN", 'D', 8}, {"RATE", 'O', 8}};
    layout.records = {make_record(layout, {"John", "42", "19800512", std::string(8, '\0')})};
    OpenedTable t(layout, true);
    const struct {
        const char* condition;
        PreparedForm form;
    } cases[] = {
        {"AGE>30", PreparedForm::numeric},   {"30<=AGE", PreparedForm::numeric}, {"NAME=Jo", PreparedForm::text},
        {"BORN>1980", PreparedForm::text},   {"NAME~oh", PreparedForm::text},    {"AGE>x", PreparedForm::fixed},
        {"NAME", PreparedForm::fixed},       {"AGE*2>10", PreparedForm::fixed},  {"AGE>NAME", PreparedForm::general},
        {"AGE+1>2", PreparedForm::fixed},    {"AGE>QTY*2", PreparedForm::fixed}, {"RATE>1", PreparedForm::general},
        {"NAME=BORN", PreparedForm::text},   {"NAME=NAME", PreparedForm::general}, {"NAME>=NAME", PreparedForm::text},
        {"NAME=(NAME", PreparedForm::general}, {"TRIM(NAME)=Jo", PreparedForm::fixed},
    };
    std::shared_ptr<const TextByteMaps> maps;
    for (const auto& c : cases) {
        PreparedComparison prepared = prepare_comparison(t.table, plan_substitution(t.table, c.condition), maps);
        EXPECT_EQ(prepared.form, c.form) << c.condition;
    }
    PreparedComparison direct = prepare_comparison(t.table, plan_substitution(t.table, "NAME=Jo"), maps);
    EXPECT_TRUE(direct.direct);
    PreparedWork work;
    EXPECT_EQ(evaluate_prepared(t.table, direct, work), 1);
}

} // namespace
