#include <gtest/gtest.h>

#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <tuple>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

struct People {
    TableLayout layout;
    std::string memo;
};

// dBase III with a memo file; deleted records, ties, negatives and a blank number.
People people() {
    People p;
    p.layout.version = 0x83;
    p.layout.code_page_mark = 0x65;
    p.layout.fields = {{"NAME", 'C', 8}, {"AGE", 'N', 5}, {"BORN", 'D', 8}, {"NOTES", 'M', 10}};
    std::vector<uint32_t> blocks;
    p.memo = build_dbase3_memo({"first", "second", "third"}, blocks);
    const std::vector<std::vector<std::string>> rows = {
        {"Olga", "30", "19900105", memo_reference_text(blocks[0])},
        {"anna", "-10", "20010101", ""},
        {"Ivan", "5", "19851231", memo_reference_text(blocks[1])},
        {"Boris", "-2", "19700101", ""},
        {"Anna", "12", "20000229", memo_reference_text(blocks[2])},
        {"Petr", "", "19500615", ""},
        {"Ivan", "5", "19851230", ""},
        {"Zoya", "-100", "19991231", ""}};
    for (size_t i = 0; i < rows.size(); ++i) p.layout.records.push_back(make_record(p.layout, rows[i], i == 1 || i == 7));
    return p;
}

// The layout with its records in the order given (physical numbers from 1), dated today.
TableLayout reordered(TableLayout layout, const std::vector<int>& order) {
    std::vector<std::string> records;
    for (int k : order) records.push_back(layout.records[static_cast<size_t>(k - 1)]);
    layout.records = records;
    stamp_today(layout);
    return layout;
}

TEST(Sort, RewritesTheFileInOrderWithABackup) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<int> order;
        std::vector<int> backup_order = {};  // empty: the original file
    };
    const std::vector<Case> cases = {
        {{"/SORT:AGE"}, {8, 2, 4, 6, 3, 7, 5, 1}},
        {{"/SORT:NAME"}, {5, 4, 3, 7, 1, 6, 8, 2}},
        {{"/DESC", "/SORT:NAME"}, {2, 8, 6, 1, 7, 3, 4, 5}},
        {{"/CASE", "/SORT:name;BORN"}, {5, 2, 4, 7, 3, 1, 6, 8}},
        {{"/DATE:dmy", "/SORT:BORN"}, {6, 4, 7, 3, 1, 8, 5, 2}},
        {{"/FILTER:AGE}0", "/ORDER:NAME", "/SORT:AGE"}, {8, 2, 4, 6, 3, 7, 5, 1}},
        {{"/SORT:NAME", "/SORT:AGE NAME"}, {8, 2, 4, 6, 3, 7, 5, 1}, {5, 4, 3, 7, 1, 6, 8, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        TempDir dir;
        People p = people();
        const std::string original = build_table(p.layout);
        write_file(dir / "t.dbf", original);
        write_file(dir / "t.dbt", p.memo);
        write_file(dir / "t.bak", "an older backup");
        std::vector<std::string> arguments = {"t.dbf"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        RunResult r = run_rorarodi(dir, arguments);
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(dir / "t.dbf"), build_table(reordered(p.layout, c.order)));
        EXPECT_EQ(read_file(dir / "t.bak"),
                  c.backup_order.empty() ? original : build_table(reordered(p.layout, c.backup_order)));
        EXPECT_EQ(read_file(dir / "t.dbt"), p.memo);  // memo references keep pointing at it
        EXPECT_FALSE(file_exists(dir / "t.tmp"));
    }
}

TEST(Sort, MessagesAndRefusals) {
    TempDir dir;
    People p = people();
    const std::string original = build_table(p.layout);
    write_file(dir / "t.dbf", original);
    // A list naming a field the table lacks stops the run before anything changes.
    RunResult stopped = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/SORT:", "/SORT:XYZ;NAME", "/SORT:AGE,XYZ", "/SORT:NAME"},
                                     "t.dbf: nothing was changed\n");
    EXPECT_EQ(stopped.output, "Field[s] required for sort...\nInvalid field[s]...\nInvalid field[s]...\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
    RunResult r = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/SORT:NAME"});
    EXPECT_EQ(r.output, "Processing of parameter [/SORT:NAME]\nEnter Sort\nEnter Clear\nLeave Clear\nLeave Sort\n");
    EXPECT_EQ(read_file(dir / "t.bak"), original);

    // Names past the 22nd are ignored: records equal in the first 22 fields keep their order.
    TableLayout wide;
    std::string names;
    for (int i = 1; i <= 23; ++i) {
        wide.fields.push_back({"F" + std::to_string(i), 'C', 1});
        names += "F" + std::to_string(i) + ";";
    }
    wide.records = {make_record(wide, std::vector<std::string>(22, "x")), make_record(wide, std::vector<std::string>(22, "x"))};
    wide.records[0].back() = 'b';
    wide.records[1].back() = 'a';
    write_file(dir / "wide.dbf", build_table(wide));
    EXPECT_EQ(run_rorarodi(dir, {"wide.dbf", "/SORT:" + names}).output, "");
    EXPECT_EQ(read_file(dir / "wide.dbf"), build_table(reordered(wide, {1, 2})));
    EXPECT_EQ(run_rorarodi(dir, {"wide.dbf", "/SORT:F23"}).output, "");
    EXPECT_EQ(read_file(dir / "wide.dbf"), build_table(reordered(wide, {2, 1})));

    // Read-only tables, and tables that are their own temporary file or backup, stay as they were.
    for (const char* name : {"u.tmp", "u.bak"}) {
        write_file(dir / name, original);
        RunResult own = run_rorarodi(dir, {name, "/SORT:NAME"});
        EXPECT_EQ(own.output, std::string("Can't create \"") + name + "\"\n");
        EXPECT_EQ(read_file(dir / name), original);
    }
    write_file(dir / "v.dbf", original);
    EXPECT_EQ(run_rorarodi(dir, {"#v.dbf", "/SORT:NAME", "/COUNT"}, "rorarodi: /SORT: v.dbf is open read-only\n").output, "8\n");
    EXPECT_EQ(read_file(dir / "v.dbf"), original);
    EXPECT_FALSE(file_exists(dir / "v.bak"));

    // A temporary name that cannot be created: the message, the table untouched.
    write_file(dir / "w.dbf", original);
    ASSERT_EQ(::mkdir((dir / "w.tmp").c_str(), 0755), 0);
    RunResult blocked = run_rorarodi(dir, {"w.dbf", "/SORT:NAME", "/COUNT"});
    EXPECT_EQ(blocked.output, "Can't create \"w.tmp\"\n8\n");
    EXPECT_EQ(read_file(dir / "w.dbf"), original);
    EXPECT_FALSE(file_exists(dir / "w.bak"));
    struct stat status {};
    EXPECT_TRUE(::stat((dir / "w.tmp").c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

TEST(Sort, ReopenedTableKeepsItsOptions) {
    TempDir dir;
    People p = people();
    const std::string original = build_table(p.layout);
    write_file(dir / "t.dbf", original);
    // Hide-deleted rebuilds the view at once, case folding and descending stay in force.
    RunResult r = run_rorarodi(dir, {"t.dbf", "/DELETED-", "/CASE", "/SORT:NAME", "/COUNT", "/FILTER:NAME=anna", "/COUNT"});
    EXPECT_EQ(r.output, "6\n1\n");

    // /BAK: the backup the sort made (the table before it) is not replaced by a later write.
    write_file(dir / "t.dbf", original);
    run_rorarodi(dir, {"t.dbf", "/BAK", "/DESC", "/SORT:NAME", "/ORDER:AGE", "/DELETE:1"});
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    TableLayout expected = reordered(p.layout, {2, 8, 6, 1, 7, 3, 4, 5});
    expected.records[3][0] = '*';  // Olga, the largest age
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(expected));

    // The date format: texts of the reopened table show dates as asked.
    write_file(dir / "t.dbf", original);
    TableLayout other;
    other.fields = {{"BORN", 'D', 8}};
    other.records = {make_record(other, {"19000101"})};
    write_file(dir / "u.dbf", build_table(other));
    RunResult dates = run_rorarodi(dir, {"t.dbf", "/DATE:dmy", "/SORT:NAME", "/CMP:u.dbf", "/CMP:c"});
    EXPECT_NE(dates.output.find("'29.02.2000'"), std::string::npos) << dates.output;
}

TEST(Sort, PasswordCarriedOver) {
    TempDir dir;
    People p = people();
    write_file(dir / "t.dbf", build_table(p.layout));
    write_file(dir / "t.dbt", p.memo);
    run_rorarodi(dir, {"t.dbf", "/ENCODE:secret"});
    const std::string enciphered = read_file(dir / "t.dbf");
    // Sorted by the plain names, written enciphered, and read with the password after.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/PSW:secret", "/SORT:NAME", "/FILTER:NAME=Ivan", "/COUNT"}).output, "2\n");
    EXPECT_EQ(read_file(dir / "t.bak"), enciphered);
    run_rorarodi(dir, {"t.dbf", "/DECODE:secret"});
    TableLayout sorted = reordered(p.layout, {5, 4, 3, 7, 1, 6, 8, 2});
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(sorted));

    // The table appended to itself under its password appends its plain records.
    run_rorarodi(dir, {"t.dbf", "/ENCODE:secret"});
    run_rorarodi(dir, {"t.dbf", "/PSW:secret", "+t.dbf", "/PSW", "/DECODE:secret"});
    const size_t count = sorted.records.size();
    for (size_t i = 0; i < count; ++i) sorted.records.push_back(sorted.records[i]);
    // The copies' memos are new memos (blocks 4, 5 and 6) of the same memo file.
    const size_t notes = 1 + 8 + 5 + 8;
    for (const auto& [position, block] : {std::pair{8u, 4u}, std::pair{10u, 5u}, std::pair{12u, 6u}})
        sorted.records[position].replace(notes, 10, memo_reference_text(block));
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(sorted));
    EXPECT_EQ(read_file(dir / "t.dbt").substr(4 * 512, 5), "third");
}

// A Visual FoxPro header as another program leaves it: autoincrement version,
// index and memo flags, a counter's flags and next value, a database backlink.
std::string with_visual_foxpro_header(std::string bytes) {
    bytes[28] = 3;
    bytes[32 + 18] = 0x0C;
    bytes[32 + 19] = 4;
    bytes[32 + 23] = 1;
    const std::string backlink = "..\\data\\shop.dbc";
    bytes.replace(32 + 3 * 32 + 1, backlink.size(), backlink);
    return bytes;
}

TEST(Sort, HeadersOfEveryKind) {
    // The table's own header stays whole; only the record order and the date change.
    TempDir dir;
    TableLayout vfp;
    vfp.version = 0x31;
    vfp.extra_header = 263;
    vfp.fields = {{"ID", 'I', 4}, {"NOTE", 'M', 4}, {"NAME", 'C', 6}};
    const std::vector<std::vector<std::string>> rows = {
        {std::string("\x03\0\0\0", 4), std::string("\x08\0\0\0", 4), "c"},
        {std::string("\xFE\xFF\xFF\xFF", 4), std::string("\0\0\0\0", 4), "a"},
        {std::string("\x01\0\0\0", 4), std::string("\x09\0\0\0", 4), "b"}};
    for (const auto& row : rows) vfp.records.push_back(make_record(vfp, row));
    write_file(dir / "t.dbf", with_visual_foxpro_header(build_table(vfp)));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/SORT:ID"}).output, "");
    EXPECT_EQ(read_file(dir / "t.dbf"), with_visual_foxpro_header(build_table(reordered(vfp, {2, 3, 1}))));

    // Tables whose layout creation would change keep their own header: a one-field
    // level 7 table (its new empty file would read as a standard one), a date of
    // width 10, a dBase III date-time of 8 bytes.
    TableLayout level7;
    level7.version = 0x04;
    level7.level7 = true;
    level7.fields = {{"A_LONG_FIELD_NAME", 'C', 4}};
    level7.records = {make_record(level7, {"x"}), make_record(level7, {"z"}, true), make_record(level7, {"y"})};
    TableLayout odd;
    odd.fields = {{"D", 'D', 10}, {"T", 'T', 8}};
    odd.records = {make_record(odd, {"20240101", "bbbbbbbb"}), make_record(odd, {"19990101", "aaaaaaaa"}),
                   make_record(odd, {"20240101", "cccccccc"})};
    for (const auto& [layout, key, order] :
         {std::tuple{level7, "a_long_field_name", std::vector<int>{1, 3, 2}}, std::tuple{odd, "D", std::vector<int>{2, 1, 3}}}) {
        TempDir dir;
        write_file(dir / "t.dbf", build_table(layout));
        EXPECT_EQ(run_rorarodi(dir, {"t.dbf", std::string("/SORT:") + key}).output, "");
        EXPECT_EQ(read_file(dir / "t.dbf"), build_table(reordered(layout, order)));
        EXPECT_EQ(read_file(dir / "t.bak"), build_table(layout));
    }
}

} // namespace

namespace {

TEST(Sort, FullDiskLeavesTheTableAsItWas) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 100}};
    for (int i = 0; i < 1000; ++i) layout.records.push_back(make_record(layout, {std::to_string(1000 - i)}));
    const std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    write_file(dir / "s.dbf", original);
    run_rorarodi(dir, {"t.dbf", "/COUNT"});  // makes the program's link in the directory
    // A file size limit stands in for a full disk: the sorted copy cannot be written,
    // and appending stops with the header counting the records that reached the file.
    // (The limit counts blocks of 512 bytes.)
    auto run_limited = [&](const char* blocks, const char* parameters) {
        RunResult r = run_command(
            "/bin/sh", {"-c", std::string("ulimit -f ") + blocks + "; trap '' XFSZ; exec ./rorarodi t.dbf " + parameters},
            dir.path());
        EXPECT_EQ(r.errors, "");
        return r.output;
    };
    const std::string too_large = "Can't write t.tmp: File too large; t.dbf is unchanged\n";
    EXPECT_EQ(run_limited("150", "/SORT:NAME /COUNT +s.dbf /COUNT"),
              "Can't create \"t.tmp\"\n" + too_large + "1000\nCan't write t.dbf: File too large; t.dbf is unchanged\n1000\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);  // the end marker too
    EXPECT_FALSE(file_exists(dir / "t.tmp"));
    EXPECT_FALSE(file_exists(dir / "t.bak"));

    // Appending as many records again does not fit either: nothing of it stays.
    EXPECT_EQ(run_limited("300", "+s.dbf /COUNT"), "Can't write t.dbf: File too large; t.dbf is unchanged\n1000\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
}

} // namespace

namespace {

// Past a tiny sorting budget the keys go through runs on disk: the orders, the
// sorted file and the duplicates found are those of the in-memory path, and no
// run file is left beside the table.
TEST(Sort, SpilledRunsGiveTheInMemoryOrder) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"AGE", 'N', 4}};
    for (int i = 0; i < 600; ++i)
        layout.records.push_back(make_record(layout, {std::string(1, "cAbBa"[i % 5]) + std::to_string(i % 7),
                                                      std::to_string(i % 11 - 5)},
                                             i % 13 == 0));
    const std::string table = build_table(layout);
    auto run = [&](const std::string& budget, const std::vector<std::string>& arguments) {
        TempDir dir;
        write_file(dir / "t.dbf", table);
        std::vector<std::string> all = {"RORARODI_SORT_MEMORY=" + budget, "./rorarodi", "t.dbf"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        (void)run_rorarodi(dir, {"/VERSION"});  // makes the link to the program
        RunResult r = run_command("/usr/bin/env", all, dir.path());
        EXPECT_EQ(r.errors, "");
        DIR* listing = ::opendir(dir.path().c_str());
        while (dirent* entry = listing ? ::readdir(listing) : nullptr) {
            const std::string name = entry->d_name;
            EXPECT_TRUE(name == "." || name == ".." || name == "t.dbf" || name == "t.bak" || name == "rorarodi")
                << name << " left beside the table";
        }
        if (listing) ::closedir(listing);
        return r.output + read_file(dir / "t.dbf");
    };
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"/ORDER:NAME", "/S:*"}, {"/DELETED-", "/F:AGE}-3", "/ORDER:AGE,NAME", "/S:*"},
          {"/CASE-", "/DESC", "/ORDER:NAME", "/S:*"}, {"/SORT:AGE"}, {"/DELETED-", "/SORT:NAME"}, {"/DELDUPES"},
          {"/F:AGE}-3", "/DESC", "/ORDER:NAME", "/DELDUPES", "/S:*"}}) {
        const std::string in_memory = run("512", arguments);
        EXPECT_TRUE(run("1K", arguments) == in_memory) << arguments[0];
    }
}

} // namespace
