#include <gtest/gtest.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TableLayout people_table() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"CITY", 'C', 8}, {"BORN", 'D', 8}, {"NOTE", 'C', 6}};
    layout.records = {
        make_record(layout, {"John", "42", "Paris", "19800512", "a&b"}),
        make_record(layout, {"Joan", "25", "Rome", "19991231", "x"}),
        make_record(layout, {"Mary", "31", "Paris", "19750101", "x"}),
        make_record(layout, {"Peter", "", "Oslo", "20010704", "x"}),
        make_record(layout, {"john", "30", "Rome", "19800101", "x"}),
    };
    return layout;
}

// The output of the program run on a fresh people table with `parameters`, which
// ends with exit status `status`; a condition that names no field is said on
// standard error (`no_field`) and makes the status 2.
std::string run_on_people(const std::vector<std::string>& parameters, int status = 0, const char* no_field = nullptr) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(people_table()));
    std::vector<std::string> arguments = {"t.dbf"};
    arguments.insert(arguments.end(), parameters.begin(), parameters.end());
    RunResult r = run_rorarodi(dir, arguments,
                               no_field ? "rorarodi: the condition " + std::string(no_field) + " names no field of t.dbf\n"
                                        : std::string());
    EXPECT_EQ(r.status, no_field ? 2 : status);
    return r.output;
}

struct CountCase {
    const char* filter;
    const char* count;
    const char* no_field = nullptr;  // the piece said to name no field
};

void expect_counts(const CountCase* begin, const CountCase* end, const std::vector<std::string>& before = {}) {
    for (const CountCase* c = begin; c != end; ++c) {
        std::vector<std::string> parameters = before;
        parameters.push_back(std::string("/FILTER:") + c->filter);
        parameters.push_back("/COUNT");
        EXPECT_EQ(run_on_people(parameters, 0, c->no_field), std::string(c->count) + "\n") << c->filter;
    }
}

TEST(FilterCli, NumericComparisonsAndOperatorPairs) {
    // Ages 42, 25, 31, blank (0), 30.
    const CountCase cases[] = {
        {"AGE}30", "2"},  {"AGE}=30", "3"}, {"AGE>=30", "3"}, {"AGE=}30", "3"}, {"AGE~}30", "3"},
        {"AGE{30", "2"},  {"AGE{=30", "3"}, {"AGE={30", "3"}, {"AGE~{30", "3"}, {"AGE{{30", "2"},
        {"AGE}}30", "2"}, {"AGE=30", "1"},  {"AGE==30", "1"}, {"AGE~30", "1"},  {"AGE^30", "1"},
        {"AGE{}30", "4"}, {"AGE}{30", "4"}, {"AGE~=30", "0"}, {"AGE=0", "1"},   {"AGE{1", "1"},
        {"AGE*2}10", "0"}, {"AGE}AGE*2", "0"}, {"60}AGE*2", "2"}, {"AGE}x", "0"}, {"AGE}(20+10)", "2"},
    };
    expect_counts(std::begin(cases), std::end(cases));
}

TEST(FilterCli, TextComparisonsAndOperatorPairs) {
    const CountCase cases[] = {
        {"NAME=Jo", "2"},     {"NAME==Jo", "0"},   {"NAME==John      ", "1"}, {"NAME~ohn", "2"},
        {"NAME^ohn", "3"},    {"NAME}K", "3"},     {"NAME}}K", "3"},         {"NAME{K", "2"},
        {"NAME{{K", "2"},     {"NAME}=John", "4"}, {"NAME=}John", "4"},      {"NAME{=John", "2"},
        {"NAME={John", "2"},  {"NAME{}John", "4"}, {"NAME}{John", "4"},      {"NAME~{John", "0"},
        {"NAME~}John", "0"},  {"NAME~=John", "0"}, {"NAME=jo", "1"},         {"CITY=Ro", "2"},
        {"NAME='Jo'", "2"},   {"NAME=\"Jo\"", "2"}, {"'NAME'=NA", "5", "'NAME'=NA"},      {"NAME=UPPER(j)o", "2"},
    };
    expect_counts(std::begin(cases), std::end(cases));
}

TEST(FilterCli, CaseInsensitiveComparison) {
    const CountCase cases[] = {{"NAME=jo", "3"}, {"NAME~OHN", "2"}, {"NAME==JOHN      ", "2"}};
    expect_counts(std::begin(cases), std::end(cases), {"/CASE"});
    EXPECT_EQ(run_on_people({"/CASE-", "/FILTER:NAME=jo", "/COUNT"}), "1\n");
    // /CASE given after the filter does not change it.
    EXPECT_EQ(run_on_people({"/FILTER:NAME=jo", "/CASE", "/COUNT"}), "1\n");
}

TEST(FilterCli, JoinersGroupingAndParentheses) {
    const CountCase cases[] = {
        {"CITY=Paris;CITY=Rome", "4"},
        {"CITY=Paris|CITY=Rome", "4"},
        {"CITY=Paris&AGE}35", "1"},
        {"(AGE=42|AGE=25)&CITY=Rome", "1"},
        {"AGE=42|AGE=25&CITY=Rome", "2"},
        {"AGE=25&CITY=Rome|AGE=42", "2"},
        {"((AGE=42|AGE=25)&(CITY=Rome|CITY=Oslo))", "1"},
        {"(AGE=42|AGE=30)&(CITY=Rome|NAME=Jo)", "2"},
        {"(AGE=42", "0"},
        {"AGE=42)", "0"},
        {"(AGE=42)", "0"},
        {"(AGE=42)&CITY=Paris", "0"},
        {"(AGE=42)|CITY=Paris", "2"},
        {"NOTE=a&b", "0", "b"},
        {"NOTE='a&b'", "0", "b'"},
        {"NOTE==a", "0"},
        {"AGE=42&", "0"},
        {"AGE=42|", "1"},
    };
    expect_counts(std::begin(cases), std::end(cases));
}

TEST(FilterCli, TwoFiltersNarrow) {
    EXPECT_EQ(run_on_people({"/FILTER:AGE{40", "/COUNT", "/F:NAME=J", "/COUNT"}), "4\n1\n");
    // The joined text is "CITY=Paris|CITY=Rome&AGE<40": the new condition joins the
    // last piece, and Paris passes whatever its age.
    EXPECT_EQ(run_on_people({"/FILTER:CITY=Paris;CITY=Rome", "/COUNT", "/FILTER:AGE{40", "/COUNT"}), "4\n4\n");
    // Parentheses keep the earlier condition together.
    EXPECT_EQ(run_on_people({"/FILTER:(CITY=Paris;CITY=Rome)", "/FILTER:AGE{40", "/COUNT"}), "3\n");
    // What the earlier filter decided is not reused once /CASE or an append changed it.
    EXPECT_EQ(run_on_people({"/CASE+", "/F:NAME=john", "/CASE-", "/F:AGE}0", "/COUNT"}), "1\n");
    EXPECT_EQ(run_on_people({"/F:AGE}0", "/APPEND:2", "/F:AGE}0", "/COUNT"}), "6\n");
    // A filter applies again to every matched file.
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    write_file(dir / "b.dbf", build_table(people_table()));
    RunResult r = run_rorarodi(dir, {"a.dbf", "b.dbf", "/FILTER:AGE}30", "/COUNT"});
    EXPECT_EQ(r.output, "2\n2\n");
}

TEST(FilterCli, ManyFiltersCostEachPieceOnce) {
    // 2,000 filters from a list file, each narrowing the view the one before left
    // (their joined text at once keeps Joan); a record changed between two filters
    // is tested on the earlier pieces again.
    TempDir dir;
    write_file(dir / "t.dbf", build_table(people_table()));
    std::string list, joined;
    for (int i = 0; i < 2000; ++i) {
        const std::string condition = "AGE}" + std::to_string(25 + i % 20) + (i % 2 ? ";NAME=J" : ";CITY=Paris");
        list += "/FILTER:" + condition + "\n";
        joined += (i ? "&" : "") + condition;
        if (i == 1000) list += "/COUNT\n";
    }
    write_file(dir / "f.lst", list);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "@f.lst", "/S:NAME"}).output, "3\nJohn      \nMary      \njohn      \n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/FILTER:" + joined, "/S:NAME"}).output,
              "John      \nJoan      \nMary      \njohn      \n");
    EXPECT_EQ(run_on_people({"/FILTER:AGE}30", "/FIELD:AGE=10", "/UPDATE", "/FILTER:AGE{50", "/COUNT"}), "0\n");
}

TEST(FilterCli, DatesCompareAsText) {
    const CountCase cases[] = {{"BORN}1980", "2"}, {"BORN}=1980", "4"}, {"BORN=19800512", "1"},
                               {"BORN{1980", "1"}, {"BORN~1231", "1"}};
    expect_counts(std::begin(cases), std::end(cases));
    // The /DATE layout does not change the substituted text.
    expect_counts(std::begin(cases), std::end(cases), {"/DATE:dmy"});
}

TEST(FilterCli, IgnoredQuotesAreOrdinaryCharacters) {
    EXPECT_EQ(run_on_people({"/IGNOREQUOTES", "/FILTER:NAME='Jo'", "/COUNT"}), "0\n");
    EXPECT_EQ(run_on_people({"/IGNOREQUOTES", "/FILTER:'J=J'", "/COUNT"}, 2, "'J=J'"), "0\n");
    EXPECT_EQ(run_on_people({"/FILTER:'J=J'", "/COUNT"}, 2, "'J=J'"), "0\n");
}

TEST(FilterCli, InvalidFilter) {
    EXPECT_EQ(run_on_people({"/FILTER:AGE}", "/COUNT"}, 2), "Invalid filter...\n5\n");
    EXPECT_EQ(run_on_people({"/FILTER:", "/COUNT"}, 2), "Invalid filter...\n5\n");
    EXPECT_EQ(run_on_people({"/FILTER:NAME", "/COUNT"}, 2), "Invalid filter...\n5\n");
}

TEST(FilterCli, InvalidFilterKeepsTheView) {
    EXPECT_EQ(run_on_people({"/FILTER:AGE}30", "/FILTER:x", "/COUNT"}, 2), "Invalid filter...\n2\n");
}

TEST(FilterCli, Calculator) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(people_table()));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/CALC:2*3"}).output, "6.000000\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/CALC:1/0"}).output, "Error\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/CALC:sqrt(2)"}).output, "1.414214\n");
    RunResult single = run_rorarodi(dir, {"/CALC:2*3"});
    EXPECT_EQ(single.output, "6.000000\n");
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(run_rorarodi(dir, {"-calc:(1+2)*3", "t.dbf"}).output, "9.000000\n");
    EXPECT_EQ(run_rorarodi(dir, {"/CALC:--2"}).output, "Error\n");
}

} // namespace
