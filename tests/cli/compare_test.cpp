#include <gtest/gtest.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// a.dbf: ID N(3), NAME C(25), CITY C(8), EXTRA C(4), 3 records.
// b.dbf: ID N(3), NAME C(30) (another size), CITY N(8) (another type), ONLY C(5), 5 records.
void write_tables(const TempDir& dir, int a_records = 3, int b_records = 5) {
    TableLayout a;
    a.fields = {{"ID", 'N', 3}, {"NAME", 'C', 25}, {"CITY", 'C', 8}, {"EXTRA", 'C', 4}};
    const char* names[] = {"Ann", "A very long name indeed!", "Carl", "Dora", "Emil"};
    for (int i = 0; i < a_records; ++i)
        a.records.push_back(make_record(a, {std::to_string(i + 1), names[i], "12", "x"}));
    TableLayout b;
    b.version = 0xF5;
    b.fields = {{"id", 'N', 3}, {"NAME", 'C', 30}, {"CITY", 'N', 8}, {"ONLY", 'C', 5}};
    for (int i = 0; i < b_records; ++i) {
        std::string name = i == 1 ? "A very long name, other" : names[i];
        b.records.push_back(make_record(b, {std::to_string(i == 2 ? 7 : i + 1), name + "  ", "12", "y"}));
    }
    write_file(dir / "a.dbf", build_table(a));
    write_file(dir / "b.dbf", build_table(b));
}

TEST(CompareCli, HeaderStructureAndRecordReports) {
    TempDir dir;
    write_tables(dir);
    RunResult r = run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/CMP:isc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "File: a.dbf                          | File: b.dbf                         \n"
              "Type: dBase III                      | Type: FoxPro                        \n"
              "Last updated: 02.29.2016             | Last updated: 02.29.2016\n"
              "File size:           285             | File size:           397\n"
              "Header size:         161             | Header size:         161\n"
              "Record count:          3             | Record count:          5\n"
              "Field count:           4             | Field count:           4\n"
              "Record length:        41             | Record length:        47\n"
              "\n"
              "ID          Numeric         3  0  |==| id          Numeric         3  0\n"
              "NAME        Character      25     |~=| NAME        Character      30   \n"
              "CITY        Character       8     |<>| CITY        Numeric         8  0\n"
              "EXTRA       Character       4     |--| -                             \n"
              "-                                 |--| ONLY        Character       5   \n"
              // A number against a text of the same name compares the text forms.
              "  a.dbf            0: CITY       (C) '12'\n"
              "<>b.dbf            0: CITY       (N) '      12'\n"
              "\n"
              "  a.dbf            1: NAME       (C) 'A very long name ind'\n"
              "<>b.dbf            1: NAME       (C) 'A very long name, ot'\n"
              "\n"
              "  a.dbf            1: CITY       (C) '12'\n"
              "<>b.dbf            1: CITY       (N) '      12'\n"
              "\n"
              "  a.dbf            2: ID         (N) 3.000000\n"
              "<>b.dbf            2: id         (N) 7.000000\n"
              "\n"
              "  a.dbf            2: CITY       (C) '12'\n"
              "<>b.dbf            2: CITY       (N) '      12'\n"
              "\n"
              "EOF found: a.dbf\n");
}

TEST(CompareCli, OptionsFiltersAndEndsOfFile) {
    TempDir dir;
    write_tables(dir, 5, 3);
    // Without ':' only the header report; upper-case letters choose nothing.
    RunResult only_headers = run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/CMP"});
    EXPECT_EQ(only_headers.output.rfind("File: a.dbf", 0), 0u);
    EXPECT_EQ(only_headers.output.find("|=="), std::string::npos);
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/CMP:ISC", "/COUNT"}).output, "5\n");
    // A second /CMP with nothing pending does nothing.
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP", "/COUNT"}).output, "5\n");
    // The comparison table has fewer records: its name after the loop stops.
    std::string records = run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/CMP:c"}).output;
    EXPECT_EQ(records.substr(records.rfind("EOF")), "EOF found: b.dbf\n");
    // A filter between the two acts on both tables, position by position.
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/FILTER:ID}3", "/CMP:c"}).output,
              "  a.dbf            0: ID         (N) 4.000000\n"
              "<>b.dbf            0: id         (N) 7.000000\n"
              "\n"
              "  a.dbf            0: NAME       (C) 'Dora'\n"
              "<>b.dbf            0: NAME       (C) 'Carl'\n"
              "\n"
              "  a.dbf            0: CITY       (C) '12'\n"
              "<>b.dbf            0: CITY       (N) '      12'\n"
              "\n"
              "EOF found: b.dbf\n");
    // A missing comparison table is fatal.
    RunResult missing = run_rorarodi(dir, {"a.dbf", "/CMP:none.dbf", "/COUNT"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "Can't open none.dbf");
    // Comparing changes neither table.
    std::string a_before = read_file(dir / "a.dbf"), b_before = read_file(dir / "b.dbf");
    run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/CMP:isc"});
    EXPECT_EQ(read_file(dir / "a.dbf"), a_before);
    EXPECT_EQ(read_file(dir / "b.dbf"), b_before);
}

TEST(CompareCli, MemosAgainstMemosAndAgainstText) {
    TempDir dir;
    auto memo_table = [&](const std::string& name, const std::vector<std::string>& memos) {
        TableLayout layout;
        layout.version = 0xF5;
        layout.fields = {{"NOTE", 'M', 10}};
        std::vector<uint32_t> blocks;
        write_file(dir / (name + ".fpt"), build_foxpro_memo(memos, blocks));
        for (uint32_t block : blocks) layout.records.push_back(make_record(layout, {memo_reference_text(block)}));
        layout.records.push_back(make_record(layout, {""}));  // no memo
        write_file(dir / (name + ".dbf"), build_table(layout));
    };
    memo_table("a", {"same", "first text that is rather long", "only here"});
    memo_table("b", {"same", "second text", "also"});
    TableLayout text;
    text.fields = {{"NOTE", 'C', 5}};
    for (int i = 0; i < 3; ++i) text.records.push_back(make_record(text, {"x"}));
    write_file(dir / "c.dbf", build_table(text));
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/CMP:c"}).output,
              "  a.dbf       : NOTE - 'first text that is r'\n"
              "<> b.dbf       : NOTE - 'second text'\n"
              "\n"
              "  a.dbf       : NOTE - 'only here'\n"
              "<> b.dbf       : NOTE - 'also'\n"
              "\n");
    // A memo against a character field: one message however many records follow.
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP:c.dbf", "/CMP:c"}).output,
              "Can't compare a.dbf: NOTE (Memo) with c.dbf: NOTE (Character)\n\nEOF found: c.dbf\n");
}

} // namespace

namespace {

// 2^31 + 5 records of two bytes: a header, then a hole that ftruncate makes, so the
// table takes no room. Counts and sizes show unsigned.
TEST(CompareCli, CountsAndSizesPastTwoGibibytes) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"C", 'C', 1}};
    const uint64_t count = (uint64_t{1} << 31) + 5;
    layout.header_record_count = static_cast<uint32_t>(count);
    layout.end_marker = false;
    write_file(dir / "big.dbf", build_table(layout));
    const uint64_t size = 65 + 2 * count;
    ASSERT_EQ(::truncate((dir / "big.dbf").c_str(), static_cast<off_t>(size)), 0);
    RunResult r = run_rorarodi(dir, {"big.dbf", "/COUNT", "/NAME", "/COUNT", "/CMP:big.dbf", "/CMP", "/STRUCT"});
    EXPECT_EQ(r.status, 0);
    const std::string n = std::to_string(count), bytes = std::to_string(size);
    for (const std::string& line : {n + "\n" + n + "|big.dbf\n", "File size:    " + bytes + "             | File size:    " + bytes,
                                    "Record count: " + n + "             | Record count: " + n,
                                    "File size\t\t:\t" + bytes + "\n", "Record count\t\t:\t" + n + "\n"})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << " in\n" << r.output;
}

} // namespace
