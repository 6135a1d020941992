#include <gtest/gtest.h>

#include "cli_support.h"
#include "expr/filter.h"
#include "table/table.h"
#include "opened_table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

TableLayout people_table() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"CITY", 'C', 8}, {"BORN", 'D', 8}};
    layout.records = {
        make_record(layout, {"John", "42", "Paris", "19800512"}),
        make_record(layout, {"Joan", "25", "Rome", "19991231"}),
        make_record(layout, {"Mary", "31", "Paris", "19750101"}, true),
        make_record(layout, {"Peter", "", "Oslo", "20010704"}),
        make_record(layout, {"john", "30", "Rome", "19800101"}),
    };
    return layout;
}

// The physical indexes of the view after the filters, in view order.
std::vector<uint32_t> view_of(const DbfTable& table) {
    if (table.filter.view_list) return *table.filter.view_list;
    std::vector<uint32_t> all;
    for (uint32_t i = 0; i < table.record_count(); ++i) all.push_back(i);
    return all;
}

std::vector<uint32_t> filtered(const std::string& condition, bool case_insensitive = false) {
    OpenedTable t(people_table());
    t.table.options.case_insensitive = case_insensitive;
    apply_filter(t.table, condition);
    return view_of(t.table);
}

using View = std::vector<uint32_t>;

TEST(SplitCondition, JoinersAndBalance) {
    EXPECT_EQ(split_condition("A=1&B=2|C=3"), (std::vector<size_t>{3, 7}));
    EXPECT_EQ(split_condition("'a&b'=x"), (std::vector<size_t>{2}));
    EXPECT_EQ(split_condition("A=1"), std::vector<size_t>{});
    EXPECT_EQ(split_condition("(A=1|B=2)&C=3"), (std::vector<size_t>{4, 9}));
    EXPECT_FALSE(split_condition("(A=1"));
    EXPECT_TRUE(split_condition("A=1)|(B=2"));  // balanced in total is enough
    EXPECT_TRUE(split_condition(")A=1("));
}

TEST(LayOutPiece, GroupingParentheses) {
    const struct {
        const char* piece;
        const char* opening;
        const char* condition;
        const char* closing;
    } cases[] = {
        {"A=1", "", "A=1", ""},
        {"(A=1)", "", "(A=1)", ""},
        {"(A=1", "(", "A=1", ""},
        {"((A=1", "((", "A=1", ""},
        {"x((A=1", "x((", "A=1", ""},
        {"(X=(1)", "(", "X=(1)", ""},
        {"C=3)", "", "C=3", ")"},
        {"C=3))", "", "C=3", "))"},
        {"C=(3))", "", "C=(3)", ")"},
        {"C=3) x", "", "C=3", ") x"},
    };
    for (const auto& c : cases) {
        PieceLayout layout = lay_out_piece(c.piece);
        EXPECT_EQ(layout.opening, c.opening) << c.piece;
        EXPECT_EQ(layout.condition, c.condition) << c.piece;
        EXPECT_EQ(layout.closing, c.closing) << c.piece;
    }
}

TEST(StripUnbalancedParens, RemovesOnlyOuterUnmatched) {
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"", ""},          {"abc", "abc"},   {"(abc", "abc"},     {"((abc)", "(abc)"}, {"abc))", "abc"},
        {"(abc))", "(abc)"}, {"x(", "x("},   {"(", ""},           {")", ""},           {"((", ""},
        {")x", ")x"},      {"(a)(b", "a)(b"}, {"(1+2", "1+2"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        strip_unbalanced_parens(text);
        EXPECT_EQ(text, c.result) << c.text;
    }
}

TEST(EvaluateSimpleCondition, TextOperators) {
    DbfTable table;
    const struct {
        const char* piece;
        char result;
    } cases[] = {
        {"abc=ab", '1'},    {"ab=abc", '1'},    {"abc=abd", '0'},   {"abc==ab", '0'},   {"abc==abc", '1'},
        {"abc~bc", '1'},    {"abc~x", '0'},     {"abc^bc", '0'},    {"abc^x", '1'},     {"abc<abd", '1'},
        {"abd<abc", '0'},   {"abc<<abd", '1'},  {"abd>abc", '1'},   {"abd>>abc", '1'},  {"abc<=abc", '1'},
        {"abc=<abd", '1'},  {"abd<=abc", '0'},  {"abd>=abc", '1'},  {"abc=>abc", '1'},  {"abc>=abd", '0'},
        {"abc<>abd", '1'},  {"abc><abd", '1'},  {"abc<>ab", '0'},   {"abc~<abd", '0'},  {"abc~>a", '0'},
        {"abc~=abc", '0'},  {"a+b", '0'},       {"a-a", '0'},       {"a*a", '0'},       {"a/a", '0'},
        {"(abc=abc)", '0'}, {"abc", '0'},       {"", '0'},          {"abc=''", '1'},    {"abc==abc)", '1'},
        {"a\xe9>az", '1'},  {"a=b=c", '0'},     {"b=b=c", '1'},     {"'a=b'=a", '1'},   {"x=~y", '0'},
        // String functions apply to the operands after the operator is found.
        {"AB==UPPER(ab)", '1'}, {"'LEFT(abc,2)'==ab", '1'}, {"TRIM(ab)==ab", '0'},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate_simple_condition(table, c.piece), c.result) << c.piece;
}

// Upper-cases the way a Normal=/Uppercase= pair would: here only 'a' to 'z' and 'e acute'.
void upper_with_table(unsigned char* text) {
    for (; *text; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = static_cast<unsigned char>(*text - 32);
        if (*text == 0xE9) *text = 0xC9;
    }
}

TEST(EvaluateSimpleCondition, CaseFoldingUsesTheHookWhenInstalled) {
    DbfTable table;
    EXPECT_EQ(evaluate_simple_condition(table, "abc=ABC"), '0');
    table.options.case_insensitive = true;
    table.options.upper_case_hook = upper_with_table;
    EXPECT_EQ(evaluate_simple_condition(table, "abc=ABC"), '1');
    EXPECT_EQ(evaluate_simple_condition(table, "\xe9=\xc9"), '1');
}

TEST(EvaluateSimpleCondition, CaseFoldingWithoutHookUsesTheAnsiPage) {
    DbfTable table;
    table.options.case_insensitive = true;
    table.options.ansi = false;  // also for a table marked OEM
    EXPECT_EQ(evaluate_simple_condition(table, "abc=ABC"), '1');
    EXPECT_EQ(evaluate_simple_condition(table, "abc~B"), '1');
}

TEST(EvaluateSimpleCondition, NumericOperators) {
    OpenedTable t(people_table());
    ASSERT_TRUE(read_view_record(t.table, 0));  // AGE 42
    const struct {
        const char* piece;
        char result;
    } cases[] = {
        {"AGE=42", '1'},   {"AGE==42", '1'},   {"AGE~42", '1'},    {"AGE^42", '1'},    {"AGE^41", '0'},
        {"AGE<50", '1'},   {"AGE<<50", '1'},   {"AGE<42", '0'},    {"AGE>30", '1'},    {"AGE>>30", '1'},
        {"AGE>42", '0'},   {"AGE<=42", '1'},   {"AGE=<42", '1'},   {"AGE~<42", '1'},   {"AGE<=41", '0'},
        {"AGE>=42", '1'},  {"AGE=>42", '1'},   {"AGE~>42", '1'},   {"AGE>=43", '0'},   {"AGE<>41", '1'},
        {"AGE><42", '0'},  {"AGE~=42", '0'},   {"AGE+1>2", '0'},   {"AGE>x", '0'},     {"AGE>(20+1)", '1'},
        {"AGE>20+1)", '1'}, {"AGE=42.0", '1'}, {"AGE=' 42'", '1'}, {"age=6*7", '1'},   {"AGE>", '0'},
        {"(AGE=42)", '0'}, {"NAME=AGE", '0'},  {"84=AGE*2", '1'},  {"AGE*2=84", '0'},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate_simple_condition(t.table, c.piece), c.result) << c.piece;
}

TEST(RecordPasses, DeletedRecordsResetMarkerAndLogic) {
    OpenedTable t(people_table());
    ASSERT_TRUE(read_view_record(t.table, 2));  // Mary, deleted
    EXPECT_TRUE(record_passes(t.table, kResetMarker));
    EXPECT_TRUE(record_passes(t.table, FilterCondition("CITY=Paris")));
    t.table.options.hide_deleted = true;
    EXPECT_FALSE(record_passes(t.table, kResetMarker));
    EXPECT_FALSE(record_passes(t.table, FilterCondition("CITY=Paris")));
    t.table.options.hide_deleted = false;
    EXPECT_FALSE(record_passes(t.table, FilterCondition("(CITY=Paris")));
    EXPECT_TRUE(record_passes(t.table, FilterCondition("CITY=Rome|AGE=31")));
    EXPECT_FALSE(record_passes(t.table, FilterCondition("CITY=Rome&AGE=31")));
    EXPECT_FALSE(record_passes(t.table, FilterCondition("CITY=Paris&")));
    EXPECT_TRUE(record_passes(t.table, FilterCondition("CITY=Paris|")));
}

TEST(RecordPasses, CompiledConditionAgreesWithTheDirectWalk) {
    OpenedTable t(people_table());
    const char* conditions[] = {
        "AGE>30",           "NAME=Jo",          "NAME==Jo",          "(AGE=42|AGE=25)&CITY=Rome",
        "AGE=42|AGE=25&CITY=Rome", "(AGE=42",   "(AGE=42)",          "(AGE=42)&CITY=Paris",
        "((AGE>1|AGE<0)&(CITY=Rome|CITY=Oslo))", "NAME='a&b'", "AGE>QTY*2", "AGE*2>10",
        "BORN>1980",        "x((AGE=1|AGE=42)", "AGE=42) x|AGE=25", "CITY~o&CITY^R",  "",
        "&",                "|AGE=25",          "AGE=25|",           "NAME=J|NAME=M|NAME=P",
    };
    FilterWork work;
    for (const char* condition : conditions) {
        CompiledCondition compiled = compile_condition(t.table, FilterCondition(condition));
        for (bool hide : {false, true}) {
            t.table.options.hide_deleted = hide;
            for (uint32_t j = 0; j < t.table.record_count(); ++j) {
                ASSERT_TRUE(read_view_record(t.table, j));
                EXPECT_EQ(record_passes(t.table, compiled, work), record_passes(t.table, FilterCondition(condition)))
                    << condition << " record " << j;
            }
        }
    }
}

TEST(ApplyFilter, ComparisonsAndJoiners) {
    EXPECT_EQ(filtered("AGE>30"), (View{0, 2}));
    EXPECT_EQ(filtered("AGE>=30"), (View{0, 2, 4}));
    EXPECT_EQ(filtered("AGE<1"), (View{3}));  // a blank number is 0
    EXPECT_EQ(filtered("NAME=Jo"), (View{0, 1}));
    EXPECT_EQ(filtered("NAME==Jo"), View{});
    EXPECT_EQ(filtered("NAME==John      "), (View{0}));
    EXPECT_EQ(filtered("NAME=jo"), (View{4}));
    EXPECT_EQ(filtered("NAME=jo", true), (View{0, 1, 4}));
    EXPECT_EQ(filtered("NAME~ohn"), (View{0, 4}));
    EXPECT_EQ(filtered("NAME^ohn"), (View{1, 2, 3}));
    EXPECT_EQ(filtered("CITY=Paris|CITY=Rome"), (View{0, 1, 2, 4}));
    EXPECT_EQ(filtered("(AGE=42|AGE=25)&CITY=Rome"), (View{1}));
    EXPECT_EQ(filtered("AGE=42|AGE=25&CITY=Rome"), (View{0, 1}));
    EXPECT_EQ(filtered("(AGE=42"), View{});
    EXPECT_EQ(filtered("(AGE=42)"), View{});
    EXPECT_EQ(filtered("(AGE=42)&CITY=Paris"), View{});
    EXPECT_EQ(filtered("BORN>1980"), (View{1, 3}));
    EXPECT_EQ(filtered("BORN>=1980"), (View{0, 1, 3, 4}));
    EXPECT_EQ(filtered("BORN=19800512"), (View{0}));
}

TEST(ApplyFilter, FiltersNarrowJoinAndDropTheOrder) {
    OpenedTable t(people_table());
    t.table.order_list = std::vector<uint32_t>{4, 3, 2, 1, 0};
    apply_filter(t.table, std::string("CITY=Paris|CITY=Rome"));
    EXPECT_FALSE(t.table.order_list);
    EXPECT_EQ(view_of(t.table), (View{0, 1, 2, 4}));
    apply_filter(t.table, std::string("AGE<40"));
    EXPECT_EQ(*t.table.filter.filter_text, "CITY=Paris|CITY=Rome&AGE<40");
    // The joined text binds the new condition to the last piece only.
    EXPECT_EQ(view_of(t.table), (View{0, 1, 2, 4}));
    apply_filter(t.table, std::string("NAME=J"));
    EXPECT_EQ(*t.table.filter.filter_text, "CITY=Paris|CITY=Rome&AGE<40&NAME=J");
    EXPECT_EQ(view_of(t.table), (View{0, 1, 2}));
    // The record buffer holds the last record read.
    EXPECT_EQ(t.table.record_buffer[1], 'j');
}

TEST(ApplyFilter, ResetMarkerHidesDeletedAndKeepsTheView) {
    OpenedTable t(people_table());
    apply_filter(t.table, std::string("CITY=Paris"));
    EXPECT_EQ(view_of(t.table), (View{0, 2}));
    t.table.options.hide_deleted = true;
    apply_filter(t.table, kResetMarker);
    EXPECT_EQ(view_of(t.table), (View{0}));
    EXPECT_EQ(*t.table.filter.filter_text, "CITY=Paris");
    t.table.options.hide_deleted = false;
    apply_filter(t.table, kResetMarker);
    EXPECT_EQ(view_of(t.table), (View{0}));

    OpenedTable fresh(people_table());
    fresh.table.options.hide_deleted = true;
    apply_filter(fresh.table, kResetMarker);
    EXPECT_EQ(view_of(fresh.table), (View{0, 1, 3, 4}));
    EXPECT_FALSE(fresh.table.filter.filter_text);
    apply_filter(fresh.table, std::string("CITY=Paris"));
    EXPECT_EQ(view_of(fresh.table), (View{0}));
}

int hook_calls = 0;

// Stands for a deciphering hook: every '1' of the record reads as '7'.
void ones_read_as_sevens(DbfTable& table) {
    ++hook_calls;
    for (uint32_t i = 0; i < table.record_length(); ++i)
        if (table.record_buffer[i] == '1') table.record_buffer[i] = '7';
}

TEST(ApplyFilter, EveryRecordPassesTheReadHookOnce) {
    TableLayout layout;
    layout.fields = {{"ID", 'N', 5}};
    for (int i = 0; i < 3000; ++i) layout.records.push_back(make_record(layout, {std::to_string(i)}));
    OpenedTable t(layout);
    t.table.after_record_read = ones_read_as_sevens;
    auto seen = [](int i) {
        std::string text = std::to_string(i);
        for (char& c : text)
            if (c == '1') c = '7';
        return std::stoi(text);
    };
    hook_calls = 0;
    apply_filter(t.table, std::string("ID<800"));
    EXPECT_EQ(hook_calls, 3000);
    View expected;
    for (int i = 0; i < 3000; ++i)
        if (seen(i) < 800) expected.push_back(static_cast<uint32_t>(i));
    EXPECT_EQ(view_of(t.table), expected);
    // The last record read stays in the buffer and the file position after it.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.table.record_buffer.data()), 6), "  2999");
    EXPECT_EQ(t.table.table_handle.position(), t.table.header_length() + 3000u * 6u);

    // A sparse view: every record of it is read once more.
    hook_calls = 0;
    apply_filter(t.table, std::string("ID>200"));
    EXPECT_EQ(hook_calls, static_cast<int>(expected.size()));
    View narrowed;
    for (uint32_t i : expected)
        if (seen(static_cast<int>(i)) > 200) narrowed.push_back(i);
    EXPECT_EQ(view_of(t.table), narrowed);
}

TEST(ApplyFilter, LongConditionsAreEvaluatedWhole) {
    // No age between 43 and 342; a logic text of some six hundred characters.
    std::string condition = "AGE=43";
    for (int age = 44; age <= 342; ++age) condition += "|AGE=" + std::to_string(age);
    condition += "|NAME=" + std::string(2000, 'x') + "|CITY=Oslo";
    EXPECT_EQ(filtered(condition), (View{3}));
}

} // namespace
