#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TableLayout people_table() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}};
    layout.records = {make_record(layout, {"John", "42"}), make_record(layout, {"Joan", "25"}),
                    make_record(layout, {"Mary", "31"}, true)};
    return layout;
}

const char* const kUsage =
    "ORTA Command Line utility. Version 1.40\n"
    "Use:\n"
    "  RORArodi <filename.dbf|pattern> <parameter|@filename.lst|+filename.dbf>\n"
    "  Parameters (first character can be '/' or '-') :\n"
    "\t/ANSI\t\t\t\t/OEM\n"
    "\t/ASC\t\t\t\t/DESC\n"
    "\t/CDX\t\t\t\t/CPZERO\n"
    "\t/CHECK\t\t\t\t/CLEAR\n"
    "\t/PACK:[dbf|memo]\t\t/ZAP\n"
    "\t/DELETED[+|-]\t\t\t/DEL[+|-]\n"
    "\t/CASE[+|-]\t\t\t/PSW[:password]\n"
    "\t/ENCODE:password\t\t/DECODE:password\n"
    "\t/TRUNC:N\t\t\t/BLANK\n"
    "\t/COUNT\t\t\t\t/VERSION\n"
    "\t/BROWSE\t\t\t\t/FIELDS\n"
    "\t/NAME[+|-]\t\t\t/CALC:condition\n"
    "\t/APPEND[:N|blank]\t\t/RANGE:N1,N2-N3,all\n"
    "\t/FILTER:condition\t\t/MAKE:filename.dbf\n"
    "\t/DELETE:N1,N2-N3,all\t\t/RECALL:N1,N2-N3,all\n"
    "\t/DATE:mdy|dmy|ymd|asis|char\t/UPDATE\n"
    "\t/TRIM:left|right|all\t\t/HDR[+|-]\n"
    "\t/SORT:field1;field2;...\t\t/ORDER:field1;field2;...\n"
    "\t/SELECT:field1;field2;...\t/MEMO[:text]\n"
    "\t/SUM:field1;field2;...\t\t/AVG:field1;field2;...\n"
    "\t/VERBOSE\t\t\t/BAK[+|-]\n"
    "\t/TYPE:db3|db4|fox|vfp|db7\t/SQL2000\n"
    "\t/2ANSI\t\t\t\t/2OEM\n"
    "\t/UTF8\n"
    "\t/OEM2ANSI\t\t\t/ANSI2OEM\n"
    "\t/FIELD:field1=value;field2=value;...\n"
    "\t/IGNOREQUOTES\t\t\t/DELDUPES\n"
    "\t/QUOTES:[single|double]\t\t/ESCAPE:char\n"
    "\t/CREATE:struct.txt file.dbf\t/MODIFY:struct.txt\n"
    "\t/CRLF:[keep|kill]\t\t/DELETEDONLY\n"
    "\t/STRUCT:file.txt|file.dbf|file.sql|file.prg|file.fox\n"
    "\t/OUT:file.txt|file.dbf|file.sql|file.prg|file.htm|file.csv\n"
    "\t/CMP:file.dbf [/filter] [/order] /CMP[:[i][s][c]]\n"
    "\t/OUT:file.xml|.json|.jsonl|.sqlite /SQL:postgres|sqlite CodePages=OEM,ANSI\n";

TEST(Driver, UsageTextAndSinglePurposeForms) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"a.dbf"}, {"/?"}, {"-?"}, {"/hdr"}, {"/h"}, {"--help"}}) {
        RunResult r = run_rorarodi(dir, args);
        EXPECT_EQ(r.output, kUsage) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(r.status, 0);
    }
    // Upper-case /HDR as the first argument starts the parameters: no pattern, nothing done.
    RunResult hdr = run_rorarodi(dir, {"/HDR", "/COUNT"});
    EXPECT_EQ(hdr.output, "");
    EXPECT_EQ(hdr.status, 0);

    RunResult version = run_rorarodi(dir, {"/version"});
    EXPECT_EQ(version.output.rfind("Version 1.40 compiled at ", 0), 0u);
    EXPECT_EQ(version.output.size(), std::string("Version 1.40 compiled at Jul 16 2016 17:09:43\n").size());
    EXPECT_EQ(version.status, 0);
    RunResult long_option = run_rorarodi(dir, {"--version"});
    EXPECT_EQ(long_option.output, version.output);
    EXPECT_EQ(long_option.status, 0);
    // /VERSION as a parameter prints the same line for every file.
    RunResult again = run_rorarodi(dir, {"a.dbf", "/VERSIONX"});
    EXPECT_EQ(again.output, version.output);
}

TEST(Driver, PatternsExpandInByteOrderIgnoringCase) {
    TempDir dir;
    TableLayout one = people_table();
    TableLayout two = people_table();
    two.records.pop_back();
    write_file(dir / "B.DBF", build_table(one));
    write_file(dir / "a.dbf", build_table(two));
    write_file(dir / "c.txt", "not a table");
    ::mkdir((dir / "d.dbf.dir").c_str(), 0755);
    RunResult r = run_rorarodi(dir, {"*.dbf", "/NAME", "/COUNT"});
    EXPECT_EQ(r.output, "       3|B.DBF\n       2|a.dbf\n");
    EXPECT_EQ(r.status, 0);

    // A name without wildcards differing in letter case still finds the file.
    RunResult exact = run_rorarodi(dir, {"b.dbf", "/COUNT"});
    EXPECT_EQ(exact.output, "3\n");

    // Two patterns, one matching nothing: no message.
    RunResult none = run_rorarodi(dir, {"zz*.dbf", "a.dbf", "/COUNT"});
    EXPECT_EQ(none.output, "2\n");
    EXPECT_EQ(none.status, 0);

    // Absolute paths are patterns, not parameters.
    RunResult absolute = run_rorarodi(dir, {dir / "a.dbf", "/COUNT"});
    EXPECT_EQ(absolute.output, "2\n");
    RunResult absolute_pattern = run_rorarodi(dir, {dir / "*.DBF", "-count"});
    EXPECT_EQ(absolute_pattern.output, "3\n2\n");
}

TEST(Driver, FatalMessagesStopTheRun) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    write_file(dir / "b.dbf", "not a table\n");
    write_file(dir / "c.dbf", build_table(people_table()));
    write_file(dir / "empty.dbf", "");
    TableLayout bad_fields;
    bad_fields.fields = {{"A", 'C', 2}, {"P", 'P', 2}, {"Q", 'Z', 2}};
    write_file(dir / "fields.dbf", build_table(bad_fields));
    ::mkdir((dir / "folder.dbf").c_str(), 0755);

    RunResult header = run_rorarodi(dir, {"*.dbf", "/COUNT"});
    EXPECT_EQ(header.output, "3\nInvalid header... b.dbf");
    EXPECT_EQ(header.status, 1);
    EXPECT_EQ(read_file(dir / "c.dbf"), build_table(people_table()));

    RunResult empty = run_rorarodi(dir, {"empty.dbf", "/COUNT"});
    EXPECT_EQ(empty.output, "Invalid header... empty.dbf");
    EXPECT_EQ(empty.status, 1);

    RunResult fields = run_rorarodi(dir, {"fields.dbf", "/COUNT"});
    EXPECT_EQ(fields.output, "Field definition error... fields.dbf");
    EXPECT_EQ(fields.status, 1);

    RunResult folder = run_rorarodi(dir, {"folder.dbf", "/COUNT"});
    EXPECT_EQ(folder.output, "Can't open folder.dbf");
    EXPECT_EQ(folder.status, 1);

    // A header cut short, and descriptors cut short.
    write_file(dir / "short.dbf", build_table(people_table()).substr(0, 20));
    RunResult short_header = run_rorarodi(dir, {"short.dbf", "/COUNT"});
    EXPECT_EQ(short_header.output, "Invalid header... short.dbf");
    EXPECT_EQ(short_header.status, 1);
    // Nothing after the header is a field error; a file cut inside a descriptor opens
    // with the descriptors read whole and no records.
    write_file(dir / "bare.dbf", build_table(people_table()).substr(0, 32));
    RunResult bare = run_rorarodi(dir, {"bare.dbf", "/COUNT"});
    EXPECT_EQ(bare.output, "Field definition error... bare.dbf");
    EXPECT_EQ(bare.status, 1);
    write_file(dir / "cut.dbf", build_table(people_table()).substr(0, 70));
    RunResult cut = run_rorarodi(dir, {"cut.dbf", "/COUNT"});
    EXPECT_EQ(cut.output, "0\n");
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(read_file(dir / "cut.dbf"), build_table(people_table()).substr(0, 70));

    if (::geteuid() != 0) {
        write_file(dir / "locked.dbf", build_table(people_table()));
        ::chmod((dir / "locked.dbf").c_str(), 0);
        RunResult locked = run_rorarodi(dir, {"locked.dbf", "/COUNT"});
        EXPECT_EQ(locked.output, "Can't open locked.dbf");
        EXPECT_EQ(locked.status, 1);
    }
}

TEST(Driver, UnknownParametersAndDispatchOrder) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    RunResult r = run_rorarodi(dir, {"a.dbf", "/H", "/", "", "/ENCODE", "/xyz", "-count", "/S"});
    EXPECT_EQ(r.output,
              "Unknown function: [H].\n"
              "Unknown function: [].\n"
              "Unknown function: [].\n"
              "Unknown function: [ENCODE].\n"
              "Unknown function: [xyz].\n"
              "3\n"
              "Unknown function: [S].\n");
    EXPECT_EQ(r.status, 2);

    // Keywords matched by prefix in table order: none of these is unknown.
    RunResult known = run_rorarodi(dir, {"a.dbf", "/FIELDS", "/FIELD:NAME=1", "/S:NAME", "/SQL2000", "/SUM:AGE",
                                         "/SELECT:NAME", "/DEL-", "/DESC", "/VERBOSEX", "/MEMO:x", "/CASE+",
                                         "/BAK-", "/HDR", "/ASC", "/OEM", "/ANSI", "/2OEM", "/2ANSI", "/ESCAPE:\\",
                                         "/QUOTES:double", "/IGNOREQUOTES", "/BROWSE", "/CLEAR"});
    EXPECT_EQ(known.output.find("Unknown function"), std::string::npos) << known.output;

    // Settings handlers and their messages.
    RunResult settings = run_rorarodi(
        dir, {"a.dbf", "/TYPE:FOX", "/TYPE:abc", "/TYPE", "/DATE:xyz", "/DATE", "/DATE:DMY", "/OUT:x.doc", "/OUT:ab",
              "/OUT:list.CSV", "/OUT", "/FILTER:AGE>", "/FILTER:", "/FILTER:AGE", "/CALC:2*3", "/CALC:1/0"});
    EXPECT_EQ(settings.output,
              "Invalid memo type...\n"
              "Unknown date format: xyz.\n"
              "Unknown date format: .\n"
              "Invalid output format...\n"
              "Invalid output format...\n"
              "Invalid filter...\n"
              "Invalid filter...\n"
              "Invalid filter...\n"
              "6.000000\n"
              "Error\n");
}

TEST(Driver, VerboseTraceAndLeaveLines) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    write_file(dir / "b.dbf", build_table(people_table()));
    RunResult r = run_rorarodi(dir, {"a.dbf", "/VERBOSE", "/DELETE:", "/RECALL:", "/RANGE:", "/FILTER:x", "/DATE:xy",
                                     "/ORDER:", "/QUOTES:single", "/CRLF:kill", "/TRIM:all", "/COUNT", "/CALC:1/0",
                                     "/OUT:a.bad", "/CLEAR", "/TYPE:x"});
    std::string expected =
        "Processing of parameter [/DELETE:]\n"
        "Enter Delete\n"
        "Parameter required for delete...\n"
        "Processing of parameter [/RECALL:]\n"
        "Enter Recall\n"
        "Parameter required for recall...\n"
        "Processing of parameter [/RANGE:]\n"
        "Enter Range\n"
        "Parameter required for range...\n"
        "Leave Range\n"
        "Processing of parameter [/FILTER:x]\n"
        "Enter Filter\n"
        "Invalid filter...\n"
        "Processing of parameter [/DATE:xy]\n"
        "Enter Date\n"
        "Unknown date format: xy.\n"
        "Processing of parameter [/ORDER:]\n"
        "Enter Order\n"
        "Field[s] required for order...\n"
        "Leave Order\n"
        "Processing of parameter [/QUOTES:single]\n"
        "Enter SetQuotes\n"
        "Leave SetQuotes\n"
        "Processing of parameter [/CRLF:kill]\n"
        "Enter Crlf\n"
        "Leave Crlf\n"
        "Processing of parameter [/TRIM:all]\n"
        "Enter Trim\n"
        "Leave Trim\n"
        "Processing of parameter [/COUNT]\n"
        "Enter Count\n"
        "3\n"
        "Leave Count\n"
        "Processing of parameter [/CALC:1/0]\n"
        "Enter Calc\n"
        "Error\n"
        "Leave Calc\n"
        "Processing of parameter [/OUT:a.bad]\n"
        "Enter Out\n"
        "Invalid output format...\n"
        "Processing of parameter [/CLEAR]\n"
        "Enter Clear\n"
        "Leave Clear\n"
        "Processing of parameter [/TYPE:x]\n"
        "Invalid memo type...\n";
    EXPECT_EQ(r.output, expected);

    // Verbose given last traces nothing for this file, but the next file from its INI file on.
    write_file(dir / "empty.lst", "");
    RunResult two = run_rorarodi(dir, {"a.dbf", "b.dbf", "/COUNT", "@empty.lst", "/VERBOSE"});
    EXPECT_EQ(two.output,
              "3\n"
              "Processing INI-file " + (dir / "rorarodi.ini") + "\n"
              "Processing of command line\n"
              "Processing of parameter [/COUNT]\n"
              "Enter Count\n"
              "3\n"
              "Leave Count\n"
              "Processing of parameter [/empty.lst]\n"
              "Processing of parameter [/VERBOSE]\n");
}

TEST(Driver, ListFilesAndIni) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    write_file(dir / "inner.lst", "/COUNT\r\n");
    write_file(dir / "steps.lst",
               "; a comment\n"
               "\n"
               " /ZAP\n"
               "\t/COUNT\n"
               "@inner.lst\n"
               "@nowhere.lst\n"
               "-count\n"
               "COUNT");
    RunResult r = run_rorarodi(dir, {"a.dbf", "@steps.lst"});
    EXPECT_EQ(r.output,
              "Unknown function: [\t/COUNT].\n"
              "3\n"
              "Can't open file: nowhere.lst\n"
              "3\n"
              "3\n");
    EXPECT_EQ(read_file(dir / "a.dbf"), build_table(people_table()));

    // A list file that includes itself stops at a fixed depth.
    write_file(dir / "self.lst", "/COUNT\n@self.lst\n");
    RunResult self = run_rorarodi(dir, {"a.dbf", "@self.lst"});
    EXPECT_EQ(self.status, 2);
    EXPECT_NE(self.output.find("Can't open file: self.lst\n"), std::string::npos);
    EXPECT_LT(self.output.size(), 2000u);

    // The INI file beside the program is applied to every table first.
    write_file(dir / "rorarodi.ini", "; settings\n/NAME\n");
    RunResult ini = run_rorarodi(dir, {"a.dbf", "/COUNT"});
    EXPECT_EQ(ini.output, "       3|a.dbf\n");

    // An INI file whose name differs only in letter case is found too.
    std::remove((dir / "rorarodi.ini").c_str());
    write_file(dir / "RORARODI.INI", "/NAME\r\n");
    RunResult upper = run_rorarodi(dir, {"a.dbf", "/COUNT"});
    EXPECT_EQ(upper.output, "       3|a.dbf\n");
    std::remove((dir / "RORARODI.INI").c_str());

    // A long line is read in pieces of 1023 characters.
    write_file(dir / "rorarodi.ini", std::string(1023, 'x') + "COUNT\n");
    RunResult pieces = run_rorarodi(dir, {"a.dbf", "/HDR"});
    EXPECT_EQ(pieces.output, "Unknown function: [" + std::string(1023, 'x') + "].\n3\n");
}

TEST(Driver, ListFileAlreadyBeingReadIsNotOpenedAgain) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    // Three inclusions of itself, under its own name and under other names for the
    // same file; a nested file that names its includer; and a file read twice in a
    // row, which is not an inclusion of itself.
    write_file(dir / "s.lst", "@s.lst\n@./s.lst\n@sub/../s.lst\n@n.lst\n@n.lst\n/COUNT\n");
    write_file(dir / "n.lst", "@s.lst\n/NAME\n");
    RunResult r = run_rorarodi(dir, {"a.dbf", "@s.lst"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output,
              "Can't open file: s.lst\n"
              "Can't open file: ./s.lst\n"
              "Can't open file: sub/../s.lst\n"
              "Can't open file: s.lst\n"
              "Can't open file: s.lst\n"
              "       3|a.dbf\n");

    // The INI file is a list file too.
    write_file(dir / "rorarodi.ini", "@rorarodi.ini\n@s.lst\n");
    write_file(dir / "s.lst", "@rorarodi.ini\n/COUNT\n");
    r = run_rorarodi(dir, {"a.dbf", "/HDR"});
    EXPECT_EQ(r.output, "Can't open file: rorarodi.ini\nCan't open file: rorarodi.ini\n3\n");
}

TEST(Driver, LongSkippedListLinesSkipTheirContinuation) {
    TempDir dir;
    const std::string table = build_table(people_table());
    write_file(dir / "a.dbf", table);
    const std::string filler(1022, 'x');
    // A comment, a line beginning with a space and a nested file name, each with a
    // parameter right after its first 1023-byte piece: no piece of them is a
    // parameter. A parameter line still goes in pieces.
    write_file(dir / "s.lst", ";" + filler + "DELETE:all\n" + " " + filler + "DELETE:all\r\n" + "@" + filler +
                                  "DELETE:all\n" + std::string(1023, 'y') + "COUNT\n");
    RunResult r = run_rorarodi(dir, {"a.dbf", "@s.lst"});
    EXPECT_EQ(r.output, "Can't open file: " + filler + "\n" + "Unknown function: [" +
                            std::string(1023, 'y') + "].\n3\n");
    EXPECT_EQ(read_file(dir / "a.dbf"), table);
}

TEST(Driver, FlagFormsAndReadOnlyPatterns) {
    TempDir dir;
    std::string bytes = build_table(people_table());
    write_file(dir / "c.dbf", bytes);
    RunResult names = run_rorarodi(dir, {"c.dbf", "/NAME-", "/COUNT", "/NAME+", "/COUNT", "/NAMEX", "/COUNT", "/NAME",
                                         "/COUNT"});
    EXPECT_EQ(names.output, "3\n       3|c.dbf\n3\n       3|c.dbf\n");

    // A '#' pattern opens read-only: writes fail and the file stays as it was.
    RunResult ro = run_rorarodi(dir, {"#c.dbf", "/DELETE:1", "/ZAP", "/COUNT"},
                                "rorarodi: /DELETE: c.dbf is open read-only\nrorarodi: /ZAP: c.dbf is open read-only\n");
    EXPECT_EQ(ro.output, "3\n");
    EXPECT_EQ(read_file(dir / "c.dbf"), bytes);
}

} // namespace
