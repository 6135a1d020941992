#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

std::string zeros(size_t count) { return std::string(count, '\0'); }

// Today's UTC date as header bytes.
std::string today() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return {static_cast<char>(utc.tm_year), static_cast<char>(utc.tm_mon + 1), static_cast<char>(utc.tm_mday)};
}

// `expected` with the date bytes the program stamped into `actual`, which must be today's.
std::string stamped(std::string expected, const std::string& actual) {
    EXPECT_EQ(actual.substr(1, 3), today()) << "header date";
    expected.replace(1, 3, actual.substr(1, 3));
    return expected;
}

TableLayout people() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"PRICE", 'N', 6, 1}};
    const char* names[] = {"Ann", "Bob", "Cid", "Dee"};
    const char* prices[] = {"1.5", "2.0", "", "-4.0"};
    for (int i = 0; i < 4; ++i) layout.records.push_back(make_record(layout, {names[i], prices[i]}, i == 1));
    return layout;
}

// The people as a dBase III table whose records all reference one memo, "text",
// held in `memo`.
TableLayout people_with_memo(std::string& memo) {
    TableLayout layout = people();
    layout.version = 0x83;
    layout.fields.push_back({"NOTE", 'M', 10});
    std::vector<uint32_t> blocks;
    memo = build_dbase3_memo({"text"}, blocks);
    for (std::string& record : layout.records) record += memo_reference_text(blocks[0]);
    return layout;
}

TEST(Maintenance, ZapTruncAndRefusals) {
    TempDir dir;
    TableLayout layout = people();
    const std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);

    // Under a view or an order nothing is cut; a count that is no whole number the
    // header can hold is refused.
    RunResult under_view = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/FILTER:NAME=Ann", "/ZAP", "/TRUNC:1", "/CLEAR",
                                              "/ORDER:NAME", "/PACK", "/CLEAR"},
                                        "rorarodi: /ZAP: t.dbf has a filter or an order; /CLEAR first\n"
                                        "rorarodi: /TRUNC: t.dbf has a filter or an order; /CLEAR first\n"
                                        "rorarodi: /PACK: t.dbf has a filter or an order; /CLEAR first\n");
    EXPECT_NE(under_view.output.find("Enter Zap\nLeave Zap\n"), std::string::npos);
    EXPECT_EQ(under_view.status, 2);
    RunResult refused = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/TRUNC:4294967296",
                                           "/TRUNC:99999999999999999999", "/TRUNC:1.5", "/TRUNC:2x", "/TRUNC:-1",
                                           "/TRUNC:abc", "/TRUNC:"});
    size_t refusals = 0;
    for (size_t at = 0; (at = refused.output.find("Invalid trunc parameter...", at)) != std::string::npos; ++at)
        ++refusals;
    EXPECT_EQ(refusals, 6u);
    EXPECT_NE(refused.output.find("Enter Trunc\nInvalid trunc parameter...\nLeave Trunc\n"
                                  "Processing of parameter [/TRUNC:abc]\nEnter Trunc\nInvalid trunc parameter...\n"
                                  "Leave Trunc\nProcessing of parameter [/TRUNC:]\nEnter Trunc\n"
                                  "Parameter required for trunc...\nLeave Trunc\n"),
              std::string::npos);
    EXPECT_EQ(read_file(dir / "t.dbf"), original);

    RunResult cut = run_rorarodi(dir, {"t.dbf", "/TRUNC:2", "/COUNT"});
    EXPECT_EQ(cut.output, "2\n");
    TableLayout two = layout;
    two.records.resize(2);
    std::string after = read_file(dir / "t.dbf");
    EXPECT_EQ(after, stamped(build_table(two), after));

    // Lengthening adds blank records, as /APPEND:blank makes them.
    run_rorarodi(dir, {"t.dbf", "/TRUNC:4"});
    two.records.push_back(make_record(layout, {}));
    two.records.push_back(make_record(layout, {}));
    after = read_file(dir / "t.dbf");
    EXPECT_EQ(after, stamped(build_table(two), after));

    run_rorarodi(dir, {"t.dbf", "/ZAP"});
    TableLayout empty = layout;
    empty.records.clear();
    after = read_file(dir / "t.dbf");
    EXPECT_EQ(after, stamped(build_table(empty), after));
}

TEST(Maintenance, AppendForms) {
    TempDir dir;
    TableLayout layout = people();
    layout.records.resize(1);
    write_file(dir / "t.dbf", build_table(layout));
    // The buffer is blank after opening; /FIELD applies once before the copies, not
    // to the blank form; a filter's view grows by the appended records (the filter
    // left the last record read, a blank one, in the buffer).
    RunResult r = run_rorarodi(dir, {"t.dbf", "/APPEND:2", "/APPEND:0", "/APPEND:-3", "/APPEND:x", "/APPENDX",
                                     "/FIELD:NAME='Zed';PRICE=PRICE+1", "/APPEND:2", "/APPEND", "/APPEND:BLANK",
                                     "/FILTER:NAME=Zed", "/APPEND", "/COUNT"});
    EXPECT_EQ(r.output, "4\n");
    TableLayout expected = layout;
    const std::string blank = make_record(layout, {});
    expected.records.insert(expected.records.end(), {blank, blank});
    expected.records.insert(expected.records.end(), 2, make_record(layout, {"Zed", "1.0"}));
    expected.records.push_back(make_record(layout, {"Zed", "2.0"}));
    expected.records.push_back(blank);
    expected.records.push_back(make_record(layout, {"Zed", "1.0"}));
    const std::string after = read_file(dir / "t.dbf");
    EXPECT_EQ(after, stamped(build_table(expected), after));
}

TEST(Maintenance, HeaderBytesWrittenOnlyOnChange) {
    TempDir dir;
    TableLayout layout = people();
    layout.code_page_mark = 201;
    std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    RunResult same = run_rorarodi(dir, {"t.dbf", "/BAK", "/CPZERO:201", "/CPZERO:457", "/CDX", "/CHECK", "/PACK:memo"});
    EXPECT_EQ(same.output, "");
    EXPECT_FALSE(file_exists(dir / "t.bak")) << "no change, no backup";
    EXPECT_EQ(read_file(dir / "t.dbf").substr(0, 4), original.substr(0, 4));

    original[28] = 1;
    write_file(dir / "t.dbf", original);
    run_rorarodi(dir, {"t.dbf", "/BAK", "/CDX", "/CPZERO:259"});
    EXPECT_FALSE(file_exists(dir / "t.bak")) << "header writes make no backup";
    std::string expected = original;
    expected[28] = 0;
    expected[29] = 3;
    std::string after = read_file(dir / "t.dbf");
    EXPECT_EQ(after, stamped(expected, after));
    run_rorarodi(dir, {"t.dbf", "/CPZERO"});
    EXPECT_EQ(read_file(dir / "t.dbf")[29], 0);

    // /CHECK after each kind of header problem writes the count and version computed.
    struct Case {
        uint8_t version;
        uint32_t header_count;
        char type;
        uint8_t written_version;
    };
    for (const Case& c : {Case{0x00, 4, 'C', 0x03}, Case{0x03, 9, 'C', 0x03}, Case{0x03, 4, 'P', 0x03}}) {
        TableLayout damaged = people();
        damaged.fields.push_back({"MORE", 'C', 1});
        damaged.fields.push_back({"PIC", c.type, 1});
        for (std::string& record : damaged.records) record += "xy";
        damaged.version = c.version;
        damaged.header_record_count = c.header_count;
        write_file(dir / "d.dbf", build_table(damaged));
        run_rorarodi(dir, {"d.dbf", "/CHECK"});
        TableLayout repaired = damaged;
        repaired.version = c.written_version;
        repaired.header_record_count.reset();
        after = read_file(dir / "d.dbf");
        EXPECT_EQ(after, stamped(build_table(repaired), after)) << c.type << c.header_count;
    }
}

TEST(Maintenance, BackupOnceBeforeTheFirstChange) {
    TempDir dir;
    const std::string original = build_table(people());
    write_file(dir / "t.dbf", original);
    run_rorarodi(dir, {"t.dbf", "/BAK", "/APPEND", "/PACK", "/ZAP"});
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    // Without /BAK (or after /BAK-) no copy is made.
    write_file(dir / "u.dbf", original);
    run_rorarodi(dir, {"u.dbf", "/BAK-", "/ZAP"});
    EXPECT_FALSE(file_exists(dir / "u.bak"));
}

TEST(Maintenance, ReadOnlyTablesAreNeverWritten) {
    TempDir dir;
    std::string memo;
    TableLayout layout = people_with_memo(memo);
    layout.code_page_mark = 7;
    std::string original = build_table(layout);
    original[28] = 1;  // a flags byte that /CDX would clear
    write_file(dir / "t.dbf", original);
    write_file(dir / "t.dbt", memo);
    RunResult r = run_rorarodi(dir, {"#t.dbf", "/BAK", "/DELETE:1", "/RECALL:2", "/FIELD:NOTE='new';PRICE=1", "/UPDATE",
                                     "/APPEND:2", "/PACK", "/ZAP", "/TRUNC:1", "/CPZERO:5", "/CDX", "/CHECK",
                                     "/APPEND:blank", "/COUNT"},
                                 "rorarodi: /DELETE: t.dbf is open read-only\nrorarodi: /RECALL: t.dbf is open read-only\n"
                                 "rorarodi: /UPDATE: t.dbf is open read-only\nrorarodi: /APPEND: t.dbf is open read-only\n"
                                 "rorarodi: /PACK: t.dbf is open read-only\nrorarodi: /ZAP: t.dbf is open read-only\n"
                                 "rorarodi: /TRUNC: t.dbf is open read-only\nrorarodi: /CPZERO: t.dbf is open read-only\n"
                                 "rorarodi: /CDX: t.dbf is open read-only\nrorarodi: /CHECK: t.dbf is open read-only\n"
                                 "rorarodi: /APPEND: t.dbf is open read-only\n");
    EXPECT_EQ(r.output, "4\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
    EXPECT_EQ(read_file(dir / "t.dbt"), memo);
    EXPECT_FALSE(file_exists(dir / "t.bak"));
    EXPECT_FALSE(file_exists(dir / "t.~bt"));
}

TEST(Maintenance, BackupThatCannotBeMadeStopsEveryWrite) {
    TempDir dir;
    std::string memo;
    TableLayout layout = people_with_memo(memo);
    layout.records.push_back(layout.records[0]);  // a duplicate for /DELDUPES
    const std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    write_file(dir / "t.dbt", memo);
    // A directory holding a file where the backup would go: no copy can be created.
    ASSERT_EQ(::mkdir((dir / "t.bak").c_str(), 0755), 0);
    write_file(dir / "t.bak/keep", "x");
    RunResult r = run_rorarodi(dir, {"t.dbf", "/BAK", "/FIELD:PRICE=7", "/UPDATE", "/APPEND:2", "/APPEND",
                                     "/APPEND:blank", "/DELETE:1", "/RECALL:2", "/ENCODE:key", "/PACK", "/PACK:memo",
                                     "/DELDUPES", "/TRUNC:1", "/ZAP", "/COUNT"});
    // Every parameter that would have changed the table says why it did not.
    std::string refusals;
    for (int i = 0; i < 12; ++i)
        refusals += "Can't make the backup t.bak: Is a directory\nCan't rename t.bak: Is a directory; t.dbf is unchanged\n";
    EXPECT_EQ(r.output, refusals + "5\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
    EXPECT_EQ(read_file(dir / "t.dbt"), memo);
    EXPECT_FALSE(file_exists(dir / "t.~bt"));
}

TEST(Maintenance, MakeCopiesTheStructure) {
    TempDir dir;
    TableLayout layout = people();
    layout.version = 0xF5;
    layout.code_page_mark = 0x65;
    layout.fields.push_back({"NOTE", 'M', 10});
    for (std::string& record : layout.records) record += std::string(10, ' ');
    std::vector<uint32_t> blocks;
    const std::string memo_file = build_foxpro_memo({"kept"}, blocks);
    write_file(dir / "t.dbf", build_table(layout));
    write_file(dir / "t.fpt", memo_file);
    // Neither the open table nor its memo file is replaced by a new one.
    RunResult r = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/MAKE:", "/MAKE:copy.dbf", "/MAKE:t.dbf", "/MAKE:t.dbc",
                                     "/MAKE:none/x.dbf", "/MAKE:t.xyz"});
    EXPECT_EQ(r.output,
              "Processing of parameter [/MAKE:]\nEnter Make\nFilename required for make...\nLeave Make\n"
              "Processing of parameter [/MAKE:copy.dbf]\nEnter Make\nLeave Make\n"
              "Processing of parameter [/MAKE:t.dbf]\nEnter Make\nCan't create \"t.dbf\"\nLeave Make\n"
              "Processing of parameter [/MAKE:t.dbc]\nEnter Make\nLeave Make\n"
              "Processing of parameter [/MAKE:none/x.dbf]\nEnter Make\nCan't create \"none/x.dbf\"\nLeave Make\n"
              "Processing of parameter [/MAKE:t.xyz]\nEnter Make\nCan't create \"t.xyz\"\nLeave Make\n");
    TableLayout empty = layout;
    empty.records.clear();
    empty.end_marker = false;
    std::string copy = read_file(dir / "copy.dbf");
    // New descriptors carry the field offsets in bytes 12 and 13, as the builder writes them.
    EXPECT_EQ(copy, stamped(build_table(empty), copy));
    EXPECT_EQ(read_file(dir / "copy.fpt"), be32(4) + zeros(2) + std::string("\x00\x80", 2) + zeros(504));
    EXPECT_TRUE(file_exists(dir / "t.dct"));
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
    EXPECT_EQ(read_file(dir / "t.fpt"), memo_file);
}

TEST(Maintenance, AppendAtAFullDiskChangesNothing) {
    TempDir dir;
    TableLayout layout = people();
    write_file(dir / "t.dbf", build_table(layout));
    run_rorarodi(dir, {"t.dbf", "/COUNT"});  // makes the program's link in the directory
    // A file size limit stands in for a full disk.
    RunResult r = run_command("/bin/sh", {"-c", "ulimit -f 40; trap '' XFSZ; exec ./rorarodi t.dbf /APPEND:100000 /COUNT"},
                              dir.path());
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.output, "Can't write t.dbf: File too large; t.dbf is unchanged\n4\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
    EXPECT_FALSE(file_exists(dir / "t.dbf.journal"));
}

} // namespace

namespace {

// A table whose header record length (6) is one more than its field's width (5):
// records padded by a byte, as some programs write them.
std::string padded_table(uint16_t header_record_length, size_t record_bytes) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 4}};
    for (const char* name : {"bb", "aa", "bb"})
        layout.records.push_back(make_record(layout, {name}) + std::string(record_bytes - 5, '.'));
    layout.header_record_length = header_record_length;
    std::string bytes = build_table(layout);
    bytes[28] = 1;
    return bytes;
}

TEST(Maintenance, HeaderRecordLengthThatDisagreesWithTheFields) {
    TempDir dir;
    const std::string padded = padded_table(6, 6);
    // Header-only commands change their byte and the date, nothing else.
    for (const auto& [parameter, offset, value] : {std::tuple{"/CPZERO:101", 29, '\x65'}, std::tuple{"/CDX", 28, '\0'}}) {
        write_file(dir / "t.dbf", padded);
        RunResult r = run_rorarodi(dir, {"t.dbf", parameter});
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(r.status, 0);
        std::string expected = padded;
        expected[static_cast<size_t>(offset)] = value;
        EXPECT_EQ(read_file(dir / "t.dbf"), stamped(expected, read_file(dir / "t.dbf"))) << parameter;
    }
    // Commands that would write records refuse, naming both lengths; /CHECK too when
    // the data fits the header's length. Reading goes on as before.
    const std::string refusal = "Record length 6 in the header differs from 5, the sum of the field widths: t.dbf not changed\n";
    write_file(dir / "s.txt", "NAME C 6\n");
    for (const char* parameter : {"/APPEND", "/APPEND:blank", "/DELETE:1", "/RECALL:all", "/PACK", "/ZAP", "/TRUNC:1",
                                  "/SORT:NAME", "/UPDATE", "+t.dbf", "/ENCODE:x", "/DELDUPES", "/OEM2ANSI",
                                  "/MODIFY:s.txt", "/CHECK"}) {
        write_file(dir / "t.dbf", padded);
        RunResult r = run_rorarodi(dir, {"t.dbf", "/FIELD:NAME='x'", parameter, "/COUNT"});
        EXPECT_EQ(r.output, refusal + "3\n") << parameter;
        EXPECT_EQ(r.status, 2) << parameter;
        EXPECT_EQ(read_file(dir / "t.dbf"), padded) << parameter;
    }
    // A table output into such a table is refused too.
    write_file(dir / "o.dbf", padded);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/OUT:o.dbf", "/S:NAME"}).output,
              "Record length 6 in the header differs from 5, the sum of the field widths: o.dbf not changed\n"
              "Can't open o.dbf\n");
    EXPECT_EQ(read_file(dir / "o.dbf"), padded);

    // Records of the fields' length under a header that states 7: /CHECK repairs the
    // header, which then counts the records.
    const std::string wrong = padded_table(7, 5);
    write_file(dir / "t.dbf", wrong);
    RunResult repaired = run_rorarodi(dir, {"t.dbf", "/CHECK", "/APPEND:blank", "/COUNT"});
    EXPECT_EQ(repaired.output, "4\n");
    EXPECT_EQ(repaired.status, 0);
    std::string expected = wrong.substr(0, wrong.size() - 1) + " " + std::string(4, ' ') + "\x1A";
    expected[4] = 4;
    expected[10] = 5;
    EXPECT_EQ(read_file(dir / "t.dbf"), stamped(expected, read_file(dir / "t.dbf")));
}

} // namespace
