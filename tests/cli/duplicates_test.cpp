#include <gtest/gtest.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// Repeats of records 1 and 2, and two equal deleted records that repeat record 1 but for the mark.
TableLayout repeats() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"N", 'N', 3}};
    const std::vector<std::pair<std::string, bool>> rows = {{"a", false}, {"b", false}, {"a", false}, {"a", true},
                                                            {"a", true},  {"c", false}, {"a", false}, {"b", false}};
    for (const auto& [name, deleted] : rows)
        layout.records.push_back(make_record(layout, {name, name == "a" ? "1" : "2"}, deleted));
    return layout;
}

// The physical record numbers (from 1) whose mark byte is '*'.
std::string marks(const std::string& bytes, const TableLayout& layout) {
    const size_t header = 32 + layout.fields.size() * 32 + 1;
    const size_t length = record_length(layout);
    std::string out;
    for (size_t i = 0; header + (i + 1) * length <= bytes.size(); ++i)
        if (bytes[header + i * length] == '*') out += std::to_string(i + 1) + " ";
    return out;
}

TEST(Deldupes, MarksLaterRepeatsOfLiveRecords) {
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
        std::string marks;
    };
    const std::vector<Case> cases = {
        {{"/VERBOSE", "/DELDUPES", "/DELDUPES"},
         "Processing of parameter [/DELDUPES]\n3 records have been deleted.\n"
         "Processing of parameter [/DELDUPES]\nDuplicated records not found.\n",
         "3 4 5 7 8 "},
        {{"/NAME", "/FILTER:NAME=b", "/DELDUPES"}, "t.dbf              : 1 record has been deleted.\n", "4 5 8 "},
        // The first of a group in the order stays: equal records come in reverse under /DESC.
        {{"/DESC", "/ORDER:NAME", "/DELDUPES"}, "3 records have been deleted.\n", "1 2 3 4 5 "},
        {{"/FILTER:NAME=c", "/DELDUPES"}, "", "4 5 "},
        {{"/DELETED-", "/FILTER:NAME=a", "/DELDUPES"}, "2 records have been deleted.\n", "3 4 5 7 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back() + " after " + c.arguments.front());
        TempDir dir;
        TableLayout layout = repeats();
        const std::string original = build_table(layout);
        write_file(dir / "t.dbf", original);
        std::vector<std::string> arguments = {"t.dbf"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        RunResult r = run_rorarodi(dir, arguments);
        EXPECT_EQ(r.output, c.output);
        const std::string after = read_file(dir / "t.dbf");
        EXPECT_EQ(marks(after, layout), c.marks);
        EXPECT_EQ(after.size(), original.size());
    }
}

TEST(Deldupes, BackupAndReadOnlyTables) {
    TempDir dir;
    TableLayout layout = repeats();
    const std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    EXPECT_EQ(run_rorarodi(dir, {"#t.dbf", "/DELDUPES"}, "rorarodi: /DELDUPES: t.dbf is open read-only\n").output, "");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/BAK", "/DELDUPES"}).output, "3 records have been deleted.\n");
    EXPECT_EQ(read_file(dir / "t.bak"), original);

    // Two records that differ only in the mark; a single record prints nothing.
    layout.records = {make_record(layout, {"x", "1"}), make_record(layout, {"x", "1"}, true)};
    write_file(dir / "u.dbf", build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"u.dbf", "/DELDUPES"}).output, "Duplicated records not found.\n");
    layout.records.resize(1);
    write_file(dir / "v.dbf", build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"v.dbf", "/DELDUPES"}).output, "");
}

} // namespace
