#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// A layout dated today (UTC), as the program dates the tables it writes.
TableLayout dated_today(TableLayout layout) {
    stamp_today(layout);
    return layout;
}

TableLayout goods() {
    TableLayout layout;
    layout.code_page_mark = 0x65;
    layout.fields = {{"NAME", 'C', 10}, {"PRICE", 'N', 6, 1}, {"QTY", 'N', 3}, {"OLDCODE", 'C', 4}, {"CODE", 'C', 5}};
    layout.records = {make_record(layout, {"Anna", "12.5", "3", "x1", "A1"}),
                      make_record(layout, {"  Boris", "1.0", "10", "x2", "B2"}, true),
                      make_record(layout, {"Ivan", "", "", "x3", "C3"})};
    return layout;
}

// The memo a FoxPro memo reference (right-aligned block number) points at.
std::string foxpro_memo(const std::string& memo_file, const std::string& reference) {
    const size_t block_size = (static_cast<uint8_t>(memo_file[6]) << 8) | static_cast<uint8_t>(memo_file[7]);
    const size_t start = std::stoul(reference) * block_size;
    auto be = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(memo_file.at(at + i));
        return v;
    };
    return memo_file.substr(start + 8, be(start + 4));
}

TEST(Restructure, ModifyChangesDropsRenamesInsertsAndComputes) {
    TempDir dir;
    const TableLayout source = goods();
    const std::string original = build_table(source);
    write_file(dir / "t.dbf", original);
    write_file(dir / "s.txt",
               "NAME C 30\nPRICE N(12,2)\n-OLDCODE\r\nCODE=ITEMCODE\nID N 6 INC:100\n"
               "TOTAL N 12 2 EXP:PRICE*QTY\nSHORT C 10 EXP:TRIM(NAME)\nNOTE/PRICE C 20\n\n   \n");
    RunResult r = run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt", "/FILTER:ID=101", "/COUNT"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "1\n");

    TableLayout expected = dated_today(TableLayout{});
    expected.code_page_mark = 0x65;
    expected.fields = {{"NAME", 'C', 30},    {"NOTE", 'C', 20}, {"PRICE", 'N', 12, 2}, {"QTY", 'N', 3},
                       {"ITEMCODE", 'C', 5}, {"ID", 'N', 6},    {"TOTAL", 'N', 12, 2}, {"SHORT", 'C', 10}};
    expected.records = {make_record(expected, {"Anna", "", "12.50", "3", "A1", "100", "37.50", "Anna"}),
                        make_record(expected, {"  Boris", "", "1.00", "10", "B2", "101", "10.00", "Boris"}, true),
                        make_record(expected, {"Ivan", "", "0.00", "", "C3", "102", "0.00", "Ivan"})};
    const std::string first = read_file(dir / "t.dbf");
    EXPECT_EQ(first, build_table(expected));
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    EXPECT_FALSE(file_exists(dir / "$temp$.dbf"));

    // An expression that fails for a record rolls the whole parameter back.
    write_file(dir / "s.txt", "-NOTE\nTAG C 4 INC:7\nBAD N 5 EXP:PRICE/0\nSHORT EXP:UPPER(SHORT)\n");
    RunResult failed = run_rorarodi(dir, {"t.dbf", "/DELETED-", "/MODIFY:s.txt", "/COUNT"});
    EXPECT_EQ(failed.output, "Error in:        12.50/0\nError in:         0.00/0\nt.dbf is unchanged\n2\n");
    EXPECT_EQ(failed.status, 2);
    EXPECT_EQ(read_file(dir / "t.dbf"), first);
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    EXPECT_FALSE(file_exists(dir / "$temp$.dbf"));

    // Only the view is copied; a second /MODIFY replaces the backup. A counter on a
    // character field stores its digits; an entry without a type keeps the field's
    // definition.
    write_file(dir / "s.txt", "-NOTE\nTAG C 4 INC:7\nSHORT EXP:UPPER(SHORT)\n");
    RunResult again = run_rorarodi(dir, {"t.dbf", "/DELETED-", "/MODIFY:s.txt", "/COUNT"});
    EXPECT_EQ(again.output, "2\n");
    EXPECT_EQ(read_file(dir / "t.bak"), first);
    TableLayout second = dated_today(TableLayout{});
    second.code_page_mark = 0x65;
    second.fields = {{"NAME", 'C', 30}, {"PRICE", 'N', 12, 2}, {"QTY", 'N', 3}, {"ITEMCODE", 'C', 5}, {"ID", 'N', 6},
                     {"TOTAL", 'N', 12, 2}, {"SHORT", 'C', 10}, {"TAG", 'C', 4}};
    second.records = {make_record(second, {"Anna", "12.50", "3", "A1", "100", "37.50", "ANNA", "7"}),
                      make_record(second, {"Ivan", "0.00", "", "C3", "102", "0.00", "IVAN", "8"})};
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(second));
}

TEST(Restructure, ModifyCarriesMemosAndKeepsBothBackups) {
    TempDir dir;
    const std::string with_zero("first\0second", 12);
    const std::string memo = write_foxpro_memo_table(dir.path(), 6, "NOTES", {with_zero, "plain text"},
                                                     {{"Anna", 0}, {"Boris", 1}, {"Ivan"}});
    const std::string original = read_file(dir / "t.dbf");
    write_file(dir / "s.txt", "NAME C 8\nCOPY M EXP:NAME\n");

    RunResult r = run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt", "/COUNT"});
    EXPECT_EQ(r.output, "3\n");
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    EXPECT_EQ(read_file(dir / "t.bam"), memo);
    const std::string table = read_file(dir / "t.dbf");
    const std::string new_memo = read_file(dir / "t.fpt");
    ASSERT_EQ(table.size(), 32u + 3 * 32 + 1 + 3 * 29 + 1);
    EXPECT_EQ(table[0], '\xF5');
    EXPECT_EQ(new_memo.substr(4, 4), std::string("\0\0\1\0", 4));  // block size 256
    const size_t records = 32 + 3 * 32 + 1;
    EXPECT_EQ(foxpro_memo(new_memo, table.substr(records + 9, 10)), with_zero);
    EXPECT_EQ(foxpro_memo(new_memo, table.substr(records + 29 + 9, 10)), "plain text");
    EXPECT_EQ(table.substr(records + 58 + 9, 10), std::string(10, ' '));
    EXPECT_EQ(foxpro_memo(new_memo, table.substr(records + 19, 10)), "Anna    ");

    // On an enciphered table with its password given, the new records are written
    // enciphered and the reopened table keeps the password.
    write_file(dir / "s.txt", "CITY C 5 EXP:'Oslo'\n");
    RunResult enciphered =
        run_rorarodi(dir, {"t.dbf", "/ENCODE:pw", "/PSW:pw", "/MODIFY:s.txt", "/FILTER:CITY=Oslo", "/COUNT"});
    EXPECT_EQ(enciphered.output, "3\n");
    EXPECT_EQ(read_file(dir / "t.bam"), new_memo);
    EXPECT_EQ(read_file(dir / "t.dbf").find("Oslo"), std::string::npos);
    EXPECT_EQ(read_file(dir / "t.dbf").find("Boris"), std::string::npos);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/FILTER:CITY=Oslo", "/COUNT"}).output, "0\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/DECODE:pw", "/FILTER:NAME=Boris", "/COUNT"}).output, "1\n");
}

TEST(Restructure, FailedRenamesLeaveTheTableAsItWas) {
    TempDir dir;
    const std::string memo = write_foxpro_memo_table(dir.path(), 6, "NOTES", {"memo"}, {{"Anna", 0}});
    const std::string original = read_file(dir / "t.dbf");
    write_file(dir / "s.txt", "NAME C 8\n");
    // A directory holding a file stands where a backup is to go: it cannot be replaced.
    for (const char* blocked : {"t.bak", "t.bam"}) {
        SCOPED_TRACE(blocked);
        ASSERT_EQ(::mkdir((dir / blocked).c_str(), 0755), 0);
        write_file(dir / blocked + "/keep", "x");
        RunResult r = run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt", "/COUNT"});
        EXPECT_EQ(r.output, std::string("Unable to replace t.dbf by the new table\nCan't rename ") + blocked +
                                ": Is a directory; t.dbf is unchanged\n1\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(read_file(dir / "t.dbf"), original);
        EXPECT_EQ(read_file(dir / "t.fpt"), memo);
        EXPECT_FALSE(file_exists(dir / "$temp$.dbf"));
        EXPECT_FALSE(file_exists(dir / "$temp$.fpt"));
        ::unlink((dir / blocked + "/keep").c_str());
        ::rmdir((dir / blocked).c_str());
    }
}

// A Visual FoxPro table keeps its version byte, its backlink, the flags and counter
// of a field kept as it was and its null-flags field with their values; a
// redefined and a new field start without flags.
TEST(Restructure, ModifyKeepsAVisualFoxProHeader) {
    TempDir dir;
    TableLayout vfp;
    vfp.version = 0x32;
    vfp.extra_header = 263;
    vfp.fields = {{"ID", 'I', 4, 0, 0x0C}, {"NAME", 'V', 6, 0, 0x02}, {"_NullFlags", '0', 1, 0, 0x05}};
    // No bit set in _NullFlags: NAME holds its full width, not null.
    vfp.records = {make_record(vfp, {std::string("\x05\0\0\0", 4), "ab", std::string(1, '\0')})};
    std::string bytes = build_table(vfp);
    bytes[32 + 19] = 6;  // the counter's next value
    bytes[32 + 23] = 1;  // and step
    const std::string backlink = "shop.dbc";
    bytes.replace(32 + 3 * 32 + 1, backlink.size(), backlink);
    write_file(dir / "t.dbf", bytes);
    write_file(dir / "s.txt", "NAME V 8\nNEW N 3\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt"}).output, "");
    const std::string result = read_file(dir / "t.dbf");
    const size_t area = 32 + 4 * 32 + 1;
    ASSERT_EQ(result.size(), area + 263 + 1 + 4 + 8 + 1 + 3 + 1);
    EXPECT_EQ(static_cast<uint8_t>(result[0]), 0x32);
    EXPECT_EQ(result.substr(32 + 18, 6), std::string("\x0C\x06\0\0\0\x01", 6));  // ID kept
    EXPECT_EQ(result.substr(64 + 16, 3), std::string("\x08\0\0", 3));            // NAME redefined
    EXPECT_EQ(result.substr(96, 11), std::string("_NullFlags\0", 11));
    EXPECT_EQ(result[96 + 18], '\x05');
    EXPECT_EQ(result.substr(128, 4), std::string("NEW\0", 4));
    EXPECT_EQ(result[128 + 18], '\0');
    EXPECT_EQ(result.substr(area, backlink.size()), backlink);
    // NAME keeps its six characters in the wider field: its length bit and byte say so.
    EXPECT_EQ(result.substr(area + 263), std::string(" \x05\0\0\0ab     \x06\x01   \x1A", 18));
}

TEST(Restructure, CreateEveryKind) {
    TempDir dir;
    write_file(dir / "s.txt", "NAME C 20\nBORN D 10\nNOTES M\nOK L 5\n");
    RunResult fox = run_rorarodi(dir, {"/CREATE:s.txt", "f.dbf"});
    EXPECT_EQ(fox.status, 0);
    EXPECT_EQ(fox.output, "");
    TableLayout expected = dated_today(TableLayout{});
    expected.version = 0xF5;
    expected.fields = {{"NAME", 'C', 20}, {"BORN", 'D', 8}, {"NOTES", 'M', 10}, {"OK", 'L', 1}};
    std::string image = build_table(expected);
    image.pop_back();  // a new table has no end-of-file byte
    EXPECT_EQ(read_file(dir / "f.dbf"), image);
    std::string fpt(512, '\0');
    fpt[3] = 2;
    fpt[6] = 1;  // 256-byte blocks, the first free one after the 512-byte header
    EXPECT_EQ(read_file(dir / "f.fpt"), fpt);

    struct Case {
        const char* kind;
        const char* name;
        char version;
        const char* memo;
        size_t header_length;
    };
    for (const Case& c : {Case{"dbase3", "a.dbf", '\x83', "a.dbt", 161}, Case{"DBASE4", "b.dbf", '\x8B', "b.dbt", 161},
                          Case{"vfp", "c.dbf", '\x30', "c.fpt", 161 + 263}, Case{"smt", "d.dbf", '\xE5', "d.smt", 161},
                          Case{"level7", "e.dbf", '\x8C', "e.dbt", 68 + 4 * 48 + 1},
                          Case{"other", "g.dbf", '\xF5', "g.fpt", 161}}) {
        SCOPED_TRACE(c.kind);
        RunResult r = run_rorarodi(dir, {std::string("/CREATE:s.txt,") + c.kind, c.name});
        EXPECT_EQ(r.status, 0);
        const std::string bytes = read_file(dir / c.name);
        ASSERT_GE(bytes.size(), 12u);
        EXPECT_EQ(bytes[0], c.version);
        EXPECT_EQ(bytes.substr(8, 2), le16(static_cast<uint16_t>(c.header_length)));
        EXPECT_EQ(bytes.size(), c.header_length);
        EXPECT_TRUE(file_exists(dir / c.memo));
    }
    EXPECT_EQ(read_file(dir / "c.dbf").substr(28, 2), "\2\3");

    // Without memo fields, no memo file; without a table name, a message and status 2.
    write_file(dir / "n.txt", "ID N 5\n");
    EXPECT_EQ(run_rorarodi(dir, {"/CREATE:n.txt", "n.dbf"}).output, "");
    EXPECT_EQ(read_file(dir / "n.dbf")[0], '\x03');
    EXPECT_FALSE(file_exists(dir / "n.fpt"));
    RunResult no_name = run_rorarodi(dir, {"/CREATE:n.txt"});
    EXPECT_EQ(no_name.output, "No name was specified.\n");
    EXPECT_EQ(no_name.status, 2);
    RunResult missing = run_rorarodi(dir, {"/CREATE:nosuch.txt", "x.dbf"});
    EXPECT_EQ(missing.output, "Unable to open ini file nosuch.txt");
    EXPECT_EQ(missing.status, 2);
    EXPECT_FALSE(file_exists(dir / "x.dbf"));
}

TEST(Restructure, BadStructureFilesChangeNothing) {
    TempDir dir;
    const std::string original = build_table(goods());
    write_file(dir / "t.dbf", original);
    write_file(dir / "empty.txt", "");
    write_file(dir / "binary.txt", std::string("\x01\x02\0NAME C 5\xff\xfe", 13));
    struct Case {
        std::string structure;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"X Z 5\n", "Invalid field definition: X Z 5\n"},
        {"X C 0\n", "Invalid field definition: X C 0\n"},
        {"X N 256\n", "Invalid field definition: X N 256\n"},
        {"X C 70000\n", "Invalid field definition: X C 70000\n"},
        {"X N 4 4\n", "Invalid field definition: X N 4 4\n"},
        {"X\n", "Invalid field definition: X\n"},
        {"QTY=NAME\n", "Duplicate field name: NAME\n"},
        {"X C 5\nx N 3\n", "Duplicate field name: x\n"},
        {"-NAME\n-PRICE\n-QTY\n-OLDCODE\n-CODE\n", "No fields defined...\n"},
        {std::string(5000, 'Q') + " C 5\n", "Invalid field definition: " + std::string(259, 'Q') + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        write_file(dir / "s.txt", c.structure);
        RunResult r = run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt"});
        EXPECT_EQ(r.output, c.output);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(read_file(dir / "t.dbf"), original);
        EXPECT_FALSE(file_exists(dir / "t.bak"));
        EXPECT_FALSE(file_exists(dir / "$temp$.dbf"));
    }
    RunResult messages = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/MODIFY:", "/MODIFY:nosuch.txt", "/MODIFY:binary.txt"});
    EXPECT_EQ(messages.output,
              "Processing of parameter [/MODIFY:]\nEnter Modify\nFilename required for modify...\nLeave Modify\n"
              "Processing of parameter [/MODIFY:nosuch.txt]\nEnter Modify\nUnable to open ini file nosuch.txtLeave Modify\n"
              "Processing of parameter [/MODIFY:binary.txt]\nEnter Modify\n"
              "Invalid field definition: \x01\x02\nLeave Modify\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
    RunResult read_only = run_rorarodi(dir, {"#t.dbf", "/MODIFY:empty.txt"});
    EXPECT_EQ(read_only.output, "Can't modify a table opened read-only: t.dbf\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);

    // An empty structure file copies the table as it is; a line longer than 259
    // characters counts as several lines, while an expression runs to its line's end.
    write_file(dir / "s.txt", "A C 2" + std::string(300, ' ') + "B N 4\nSUM N 5 EXP:QTY*0" +
                                  [] { std::string e; for (int i = 0; i < 150; ++i) e += "+1"; return e; }() + "\n");
    RunResult r = run_rorarodi(dir, {"t.dbf", "/MODIFY:empty.txt", "/MODIFY:s.txt", "/FILTER:SUM=150", "/COUNT"});
    EXPECT_EQ(r.output, "3\n");
    const std::string modified = read_file(dir / "t.dbf");
    EXPECT_EQ(modified.substr(32 + 5 * 32, 4), std::string("A\0\0\0", 4));
    EXPECT_EQ(modified.substr(32 + 6 * 32, 4), std::string("B\0\0\0", 4));

    // A dropped field's values go nowhere, even when a renamed field takes its name.
    write_file(dir / "s.txt", "-CODE\nNAME=CODE\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt", "/FILTER:CODE=Anna", "/COUNT"}).output,
              "1\n");
}

} // namespace
