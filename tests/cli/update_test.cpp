#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TableLayout goods() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"CITY", 'C', 5}, {"PRICE", 'N', 7, 2}, {"ZONE", 'N', 2}};
    const char* rows[][3] = {{"pear", "Paris", "1.50"}, {"fig", "Rome", "2.00"}, {"apple", "Paris", "-3.25"}};
    for (const auto& row : rows) layout.records.push_back(make_record(layout, {row[0], row[1], row[2], ""}));
    return layout;
}

std::string with_records(TableLayout layout, const std::vector<std::vector<std::string>>& rows) {
    layout.records.clear();
    for (const auto& row : rows) layout.records.push_back(make_record(layout, row));
    return build_table(layout);
}

TEST(Update, AssignmentsOverRangeViewAndOrder) {
    TempDir dir;
    const TableLayout layout = goods();
    write_file(dir / "t.dbf", build_table(layout));
    // Self-reference, then a field used after an earlier assignment changed it; only
    // records 1 and 3 of the range; the header is not rewritten by /UPDATE.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/UPDATE", "/FIELD:NAME"}, "t.dbf: nothing was changed\n").output,
              "Fields must be specified...\nInvalid condition...\n");
    RunResult r = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/RANGE:1,3",
                                     "/FIELD:PRICE=PRICE*2;NAME=UPPER(NAME);ZONE=PRICE", "/UPDATE", "/RANGE:all",
                                     "/FILTER:CITY=Paris", "/FIELD:CITY=NAME;NAME=CITY", "/UPDATE"});
    EXPECT_EQ(r.output,
              "Processing of parameter [/RANGE:1,3]\nEnter Range\nLeave Range\n"
              "Processing of parameter [/FIELD:PRICE=PRICE*2;NAME=UPPER(NAME);ZONE=PRICE]\nEnter Field\nLeave Field\n"
              "Processing of parameter [/UPDATE]\nEnter Update\nLeave Update\n"
              "Processing of parameter [/RANGE:all]\nEnter Range\nLeave Range\n"
              "Processing of parameter [/FILTER:CITY=Paris]\nEnter Filter\nLeave Filter\n"
              "Processing of parameter [/FIELD:CITY=NAME;NAME=CITY]\nEnter Field\nLeave Field\n"
              "Processing of parameter [/UPDATE]\nEnter Update\nLeave Update\n");
    // ZONE gets the doubled price without decimals.
    EXPECT_EQ(read_file(dir / "t.dbf"), with_records(layout, {{"PEAR", "PEAR", "3.00", "3"},
                                                             {"fig", "Rome", "2.00", ""},
                                                             {"APPLE", "APPLE", "-6.50", "-6"}}));

    // Errors are printed once per record processed, in the order of the view, and
    // the parameter is rolled back; an assignment naming no field stops the run.
    write_file(dir / "t.dbf", build_table(layout));
    RunResult errors = run_rorarodi(dir, {"t.dbf", "/ORDER:NAME", "/FIELD:ZONE=NAME;PRICE=1/0;CITY='x'", "/UPDATE"});
    EXPECT_EQ(errors.output,
              "Error in: apple \nError in: 1/0\nError in: fig   \nError in: 1/0\nError in: pear  \nError in: 1/0\n"
              "t.dbf is unchanged\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/FIELD:NOSUCH=1;CITY='x'", "/UPDATE"}, "t.dbf: nothing was changed\n").output,
              "Invalid field: NOSUCH\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
}

// Numbers computed from number fields: canonical texts (read directly), texts
// with leading zeros and blank fields (read through their text form), negative
// values after an operator, and a minus that cannot follow another.
TEST(Update, NumbersFromNumberFields) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"A", 'N', 8, 2}, {"B", 'N', 6}, {"R", 'N', 12, 3}};
    const std::vector<std::vector<std::string>> rows = {{"12.50", "-3", ""}, {"-0.75", "008", ""}, {"", "", ""}};
    write_file(dir / "t.dbf", with_records(layout, rows));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/FIELD:R=A*B-(B+A)/5", "/UPDATE"}).status, 0);
    EXPECT_EQ(read_file(dir / "t.dbf"), with_records(layout, {{"12.50", "-3", "-39.400"},
                                                             {"-0.75", "008", "-7.450"},
                                                             {"", "", "0.000"}}));
    // "- -0.75" does not parse: the whole parameter is rolled back.
    RunResult minus = run_rorarodi(dir, {"t.dbf", "/FIELD:R=-A^2", "/UPDATE"});
    EXPECT_EQ(minus.output, "Error in: -   -0.75^2\nt.dbf is unchanged\n");
    EXPECT_EQ(minus.status, 2);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/RANGE:1", "/FIELD:R=-A^2+B", "/UPDATE"}).status, 0);
    EXPECT_EQ(read_file(dir / "t.dbf"), with_records(layout, {{"12.50", "-3", "153.250"},
                                                             {"-0.75", "008", "-7.450"},
                                                             {"", "", "0.000"}}));
}

TEST(Update, MemoFieldsAndBackup) {
    TempDir dir;
    TableLayout layout;
    layout.version = 0x83;
    layout.fields = {{"NAME", 'C', 4}, {"NOTE", 'M', 10}};
    layout.records = {" ann " + std::string(10, ' '), " bob " + std::string(10, ' ')};
    const std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    std::vector<uint32_t> blocks;
    write_file(dir / "t.dbt", build_dbase3_memo({}, blocks));
    // An assignment that leaves every record as it was writes nothing: no backup.
    run_rorarodi(dir, {"t.dbf", "/BAK", "/FIELD:NAME=NAME", "/UPDATE"});
    EXPECT_FALSE(file_exists(dir / "t.bak"));
    run_rorarodi(dir, {"t.dbf", "/BAK", "/FIELD:NOTE=NAME'!'", "/UPDATE"});
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    layout.records = {" ann " + memo_reference_text(1), " bob " + memo_reference_text(2)};
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
    // Each memo ends with two end markers.
    std::string memo = le32(3) + std::string(508, '\0') + "ann !\x1A\x1A" + std::string(505, '\0') + "bob !\x1A\x1A";
    EXPECT_EQ(read_file(dir / "t.dbt"), memo);

    // A next free block past the end of the memo file: new memos go at its end.
    memo.replace(0, 4, le32(0x01000000));
    write_file(dir / "t.dbt", memo);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/FIELD:NOTE='new'", "/RANGE:2", "/UPDATE"}).status, 0);
    memo.replace(0, 4, le32(4));
    EXPECT_EQ(read_file(dir / "t.dbt"), memo + std::string(505, '\0') + "new\x1A\x1A");
    layout.records[1] = " bob " + memo_reference_text(3);
    const std::string updated = build_table(layout);
    EXPECT_EQ(read_file(dir / "t.dbf"), updated);

    // A memo that cannot be written leaves the old reference, says so, and fails.
    ASSERT_EQ(std::rename((dir / "t.dbt").c_str(), (dir / "kept.dbt").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "t.dbt").c_str(), 0755), 0);
    RunResult failed = run_rorarodi(dir, {"t.dbf", "/FIELD:NOTE='lost'", "/UPDATE"});
    EXPECT_EQ(failed.output, "Can't write t.dbt\n");
    EXPECT_EQ(failed.status, 2);
    EXPECT_EQ(read_file(dir / "t.dbf"), updated);
}

} // namespace
