// Boundaries of the newer code: the last value that fits and the first that does
// not, bytes beyond an end marker or a zero byte, fields at other offsets.
#include <gtest/gtest.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TEST(Boundaries, CreateTakesARecordOf65535BytesAndNoMore) {
    TempDir dir;
    write_file(dir / "fits.txt", "A C 60000\nB C 5534\n");
    write_file(dir / "over.txt", "A C 60000\nB C 5535\n");
    RunResult fits = run_rorarodi(dir, {"/CREATE:fits.txt", "fits.dbf"});
    EXPECT_EQ(fits.output, "");
    EXPECT_EQ(read_file(dir / "fits.dbf").substr(10, 2), le16(65535));
    RunResult over = run_rorarodi(dir, {"/CREATE:over.txt", "over.dbf"});
    EXPECT_EQ(over.output, "Unable to create the target file [over.dbf]");
    EXPECT_FALSE(file_exists(dir / "over.dbf"));
}

TEST(Boundaries, AppendFromAnotherTable) {
    TempDir dir;
    TableLayout source;
    source.fields = {{"BIG", 'N', 16}, {"NAME", 'C', 10}};
    source.records = {make_record(source, {"9007199254740993", "abcdefghij"})};
    write_file(dir / "s.dbf", build_table(source));
    // BIG arrives as stored into a field of the same form, and through its number
    // into another; NAME is cut to five bytes, and the field after it stays blank.
    TableLayout target;
    target.fields = {{"BIG", 'N', 16}, {"NAME", 'C', 5}, {"OTHER", 'C', 4}};
    TableLayout text_target;
    text_target.fields = {{"BIG", 'N', 17}};
    write_file(dir / "t.dbf", build_table(target));
    write_file(dir / "u.dbf", build_table(text_target));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "+s.dbf"}).output, "");
    EXPECT_EQ(run_rorarodi(dir, {"u.dbf", "+s.dbf"}).output, "");
    const std::string appended = read_file(dir / "t.dbf").substr(32 * 4 + 1, 26);
    EXPECT_EQ(appended, " 9007199254740993abcde    ");
    EXPECT_EQ(read_file(dir / "u.dbf").substr(32 * 2 + 1, 18), "  9007199254740992");
}

TEST(Boundaries, InPlaceMemoConversionStopsAtTheEndMarker) {
    TempDir dir;
    std::vector<uint32_t> blocks;
    std::string memo = build_dbase3_memo({"abc"}, blocks);
    memo.replace(blocks[0] * 512 + 3, 5, "\x1A\x1A\xC0\xC1\xC2");
    TableLayout layout;
    layout.version = 0x83;
    layout.fields = {{"NOTE", 'M', 10}};
    layout.records = {make_record(layout, {memo_reference_text(blocks[0])})};
    write_file(dir / "t.dbf", build_table(layout));
    write_file(dir / "t.dbt", memo);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/ANSI2OEM"}).output, "");
    EXPECT_TRUE(read_file(dir / "t.dbt") == memo);
}

TEST(Boundaries, Restructure) {
    TempDir dir;
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.fields = {{"A", 'C', 2}, {"B", 'C', 2}, {"Q", 'Q', 6}};
    const std::string binary("\0\x01(\0)\xFF", 6);
    for (int i = 0; i < 3; ++i) layout.records.push_back(make_record(layout, {"a", "b", binary}));
    const std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    // A rename onto the name of a later field that the file leaves alone.
    write_file(dir / "dup.txt", "A=B\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/MODIFY:dup.txt"}).output, "Duplicate field name: B\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
    // A counter whose last value fills the field exactly; binary bytes unchanged; the
    // Q field brings the null-flags field, every bit clear.
    write_file(dir / "inc.txt", "N N 3 INC:98\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/MODIFY:inc.txt", "/S:N"}).output,
              " 98\n 99\n100\n");
    const std::string table = read_file(dir / "t.dbf");
    EXPECT_EQ(table.substr(table.size() - 15), "a b " + binary + "100" + std::string(1, '\0') + "\x1A");
}

TEST(Boundaries, ExportedValues) {
    TempDir dir;
    std::vector<uint32_t> blocks;
    write_file(dir / "t.fpt", build_foxpro_memo({std::string("ab\0cd", 5)}, blocks));
    TableLayout layout;
    layout.version = 0xF5;
    layout.fields = {{"NAME", 'C', 4}, {"OK", 'L', 1}, {"NOTE", 'M', 10}};
    layout.records = {make_record(layout, {"a\\b", "Y", memo_reference_text(blocks[0])})};
    write_file(dir / "t.dbf", build_table(layout));
    const struct {
        std::vector<std::string> parameters;
        const char* file;
        const char* expected;
    } cases[] = {
        {{"/OUT:a.sql", "/ESCAPE:\\", "/S:NAME"}, "a.sql", "values (\"a\\\\b \");\n"},
        {{"/OUT:b.sql", "/S:OK"}, "b.sql", "values (TRUE );\n"},
        {{"/OUT:c.sql", "/SQL2000", "/S:OK"}, "c.sql", "values (1);\n"},
        {{"/OUT:d.xml", "/MEMO:text", "/S:NOTE"}, "d.xml", "<NOTE>ab</NOTE>\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"t.dbf"};
        arguments.insert(arguments.end(), c.parameters.begin(), c.parameters.end());
        EXPECT_EQ(run_rorarodi(dir, arguments).output, "");
        EXPECT_NE(read_file(dir / c.file).find(c.expected), std::string::npos) << read_file(dir / c.file);
    }
    // No decimals for a character field too wide for a number.
    TableLayout wide;
    wide.fields = {{"W", 'C', 300}};
    wide.records = {make_record(wide, {"12"}), make_record(wide, {"3"})};
    write_file(dir / "w.dbf", build_table(wide));
    EXPECT_EQ(run_rorarodi(dir, {"w.dbf", "/SUM:W"}).output, std::string(299, ' ') + "0|\n");
}

TEST(Boundaries, Comparisons) {
    TempDir dir;
    TableLayout a;
    a.fields = {{"ID", 'N', 2}, {"NAME", 'C', 6}};
    a.records = {make_record(a, {"1", "'x'"}), make_record(a, {"2", "b"}), make_record(a, {"3", "c"})};
    TableLayout b;
    b.fields = {{"PAD", 'C', 1}, {"ID", 'N', 2}, {"NAME", 'C', 6}};
    b.records = {make_record(b, {"", "1", "'x'"}), make_record(b, {"", "2", "b"}), make_record(b, {"", "3", "z"})};
    write_file(dir / "a.dbf", build_table(a));
    write_file(dir / "b.dbf", build_table(b));
    // Fields of the same form at other offsets.
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/CMP:s"}).output,
              "ID          Numeric         2  0  |= | ID          Numeric         2  0\n"
              "NAME        Character       6     |= | NAME        Character       6   \n"
              "-                                 |--| PAD         Character       1   \n");
    // A difference names the record the order put there.
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/DESC", "/ORDER:ID", "/CMP:c"}).output.substr(0, 92),
              "  a.dbf            2: ID         (N) 3.000000\n<>b.dbf            0: ID         (N) 1.000000\n");
    // Quotes ignored in the condition for the compared table too: both keep 'x'.
    EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "/CMP:b.dbf", "/IGNOREQUOTES", "/FILTER:NAME='x'", "/CMP:c", "/COUNT"}).output,
              "1\n");
}

} // namespace
