#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TEST(AppendFrom, FieldsMatchedByNameChangeTypeOnTheWay) {
    TempDir dir;
    const std::string zero_memo("ab\0cd", 5);
    std::vector<uint32_t> blocks;
    TableLayout source;
    source.version = 0xF5;
    source.fields = {{"name", 'C', 10}, {"PRICE", 'N', 8, 2}, {"DIGITS", 'C', 5}, {"FLAG", 'L', 1},
                     {"BORN", 'D', 8},  {"SEEN", 'D', 8},     {"NOTE", 'M', 10},  {"NOTE2", 'M', 10},
                     {"QTY", 'I', 4},   {"CMT", 'C', 20},     {"EXTRA", 'C', 3}};
    write_file(dir / "s.fpt", build_foxpro_memo({zero_memo, "noted"}, blocks, 64));
    source.records = {
        make_record(source, {"Olga", "12.50", "123", "T", "20240131", "20240131", memo_reference_text(blocks[0]),
                             memo_reference_text(blocks[0]), std::string("\x2A\0\0\0", 4), "500 apples", "zzz"}),
        // Deleted; a memo reference that leads nowhere.
        make_record(source, {"Ivan", "-3.25", "abc", "F", "19991231", "19991231", memo_reference_text(999), "",
                             std::string("\xF9\xFF\xFF\xFF", 4), "x", "q"},
                    true)};
    write_file(dir / "s.dbf", build_table(source));

    TableLayout target;
    target.version = 0xF5;
    target.fields = {{"NAME", 'C', 10}, {"PRICE", 'C', 8}, {"DIGITS", 'N', 5}, {"FLAG", 'C', 3},
                     {"BORN", 'D', 8},  {"SEEN", 'C', 10}, {"NOTE", 'M', 10},  {"NOTE2", 'C', 6},
                     {"QTY", 'N', 6},   {"CMT", 'M', 10},  {"MISSING", 'C', 4}};
    target.records = {make_record(target, {"Keep"})};
    write_file(dir / "t.dbf", build_table(target));
    write_file(dir / "t.fpt", build_foxpro_memo({}, blocks, 64));

    RunResult r = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "+S.DBF"});
    EXPECT_EQ(r.output, "Processing of parameter [/S.DBF]\nEnter Append From\nLeave Append From\n");

    // Numbers arrive as text without blanks, digits as numbers (letters as 0), a
    // logical value as its letter, dates as dates or text; the memo whole, its zero
    // byte included, into a memo and up to the zero byte into a text; a text into
    // a memo field as the whole text (its number would name bytes beyond it).
    target.records.push_back(make_record(target, {"Olga", "12.50", "123", "T", "20240131", "20240131",
                                                  memo_reference_text(8), "ab", "42", memo_reference_text(9), ""}));
    target.records.push_back(make_record(
        target, {"Ivan", "-3.25", "0", "F", "19991231", "19991231", "", "", "-7", memo_reference_text(10), ""}, true));
    stamp_today(target);
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(target));
    // A text field's text form keeps its trailing blanks; the file ends after the last memo.
    std::string memo = build_foxpro_memo({zero_memo, "500 apples          ", "x                   "}, blocks, 64);
    memo.resize(blocks[2] * 64 + 8 + 20);
    EXPECT_EQ(read_file(dir / "t.fpt"), memo);
}

// A source laid out as the target is copied as stored, in large blocks, deleted
// records included; a record whose character field holds a zero byte takes the
// text before it, as a field by field copy does, wherever it lies in a block.
TEST(AppendFrom, SameLayoutCopiesStoredRecords) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"N", 'N', 5}, {"C", 'C', 2}};
    layout.records = {make_record(layout, {"1", "zz"})};
    write_file(dir / "t.dbf", build_table(layout));
    TableLayout source = layout;
    source.records.clear();
    // Records of 8 bytes: the copy reads 131,072 of them at a time, so the second
    // zero byte lies in the second block.
    const int zero_at[] = {70000, 131075};
    for (int i = 0; i < 140000; ++i) {
        const bool zero = i == zero_at[0] || i == zero_at[1];
        source.records.push_back(make_record(source, {std::to_string(i), zero ? std::string("a\0", 2) : "ab"}, i == 5));
    }
    write_file(dir / "s.dbf", build_table(source));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "+s.dbf"}).status, 0);
    for (int i : zero_at) source.records[static_cast<size_t>(i)] = make_record(source, {std::to_string(i), "a"});
    layout.records.insert(layout.records.end(), source.records.begin(), source.records.end());
    stamp_today(layout);
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
}

TEST(AppendFrom, ItselfMissingAndDamagedSources) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"N", 'N', 3}};
    layout.records = {make_record(layout, {"a", "1"}), make_record(layout, {"b", "2"}, true),
                      make_record(layout, {"c", "3"})};
    const std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    write_file(dir / "bad.dbf", "not a table at all");

    // Missing and damaged sources append nothing; the table itself, under another
    // spelling of its path, appends its three records once, and a filtered view
    // takes the new records at its end.
    RunResult r = run_rorarodi(dir, {"t.dbf", "+missing.dbf", "+bad.dbf", "+", "/FILTER:NAME=c", "+./t.dbf", "/COUNT"});
    EXPECT_EQ(r.output, "4\n");
    TableLayout doubled = layout;
    doubled.records.insert(doubled.records.end(), layout.records.begin(), layout.records.end());
    stamp_today(doubled);
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(doubled));

    // A table opened read-only takes nothing.
    write_file(dir / "t.dbf", original);
    EXPECT_EQ(run_rorarodi(dir, {"#t.dbf", "+t.dbf", "/COUNT"}, "rorarodi: +t.dbf: t.dbf is open read-only\n").output, "3\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
}

} // namespace
