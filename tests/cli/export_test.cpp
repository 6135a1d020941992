#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "random_values.h"

using namespace testing_support;

namespace {

std::string le64(uint64_t v) { return le32(static_cast<uint32_t>(v)) + le32(static_cast<uint32_t>(v >> 32)); }

// Julian day number of 29 February 2016 and the milliseconds of 12:34:56.
constexpr uint32_t kLeapDay = 2457448;
constexpr uint32_t kAfternoon = 45296000;

// A Visual FoxPro table with every type it knows and a memo file: a plain record,
// a deleted one of blank values, and one whose texts need quoting.
void write_mixed_table(const TempDir& dir, const std::string& name = "mix") {
    std::vector<uint32_t> blocks;
    std::string memo = build_foxpro_memo({"line one\r\nsay \"hi\" <b>&", "x"}, blocks, 64);
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.fields = {{"NAME", 'C', 8},  {"PRICE", 'N', 7, 2}, {"OK", 'L', 1},   {"BORN", 'D', 8},
                     {"NOTE", 'M', 4},  {"QTY", 'I', 4},      {"CASH", 'Y', 8}, {"RATIO", 'B', 8, 2},
                     {"STAMP", 'T', 8}};
    layout.records = {
        make_record(layout, {"O'Brien", "12.50", "T", "20160229", le32(blocks[0]), le32(42), le64(123456),
                             double_bytes(3.25), le32(kLeapDay) + le32(kAfternoon)}),
        make_record(layout, {"", "", "F", "", le32(0), le32(static_cast<uint32_t>(-7)), le64(0), double_bytes(0),
                             le64(0)},
                    true),
        make_record(layout, {"Ann,\"Lee", "-1.5", "?", "20001231", le32(blocks[1]), le32(0), le64(5),
                             double_bytes(-0.5), le64(0)}),
    };
    write_file(dir / (name + ".dbf"), build_table(layout));
    write_file(dir / (name + ".fpt"), memo);
}

RunResult export_run(const TempDir& dir, std::vector<std::string> arguments, int status = 0) {
    arguments.insert(arguments.begin(), "mix.dbf");
    RunResult r = run_rorarodi(dir, arguments);
    EXPECT_EQ(r.status, status);
    return r;
}

// The three records of the mixed table in the browse layout, with deletion marks,
// memo texts and the table's name.
const char* kConsoleBrowse =
    "*|NAME    |PRICE  |OK|BORN    |NOTE      |QTY       |CASH                    |RATIO               |STAMP         \n"
    " |O'Brien |  12.50|T|20160229|line one\nsay \"hi\" <b>&|        42|                 12.3456|"
    "                3.25|20160229123456mix.dbf\n"
    "*|        |   0.00|F|        ||        -7|                  0.0000|                0.00|              mix.dbf\n"
    " |Ann,\"Lee|  -1.50|?|20001231|x|         0|                  0.0005|               -0.50|              mix.dbf\n";

TEST(Export, ConsoleAndTextLayouts) {
    TempDir dir;
    write_mixed_table(dir);
    EXPECT_EQ(export_run(dir, {"/HDR", "/DEL", "/NAME", "/MEMO:text", "/S:*"}).output, kConsoleBrowse);
    // Without the header line, marks and names; fields separated, the last one ends the line.
    EXPECT_EQ(export_run(dir, {"/S:OK;NAME"}).output, "T|O'Brien \nF|        \n?|Ann,\"Lee\n");

    // The fields layout: a mark line per record and a line per field; the text file
    // is appended to by every export.
    const std::string record =
        "*         | \nNAME      |O'Brien \nNOTE      |Full memo \nSTAMP     |20160229123456\nmix.dbf\n\n";
    for (int run = 1; run <= 2; ++run)
        export_run(dir, {"/OUT:list.txt", "/FIELDS", "/HDR", "/DEL", "/NAME", "/RANGE:1", "/S:NAME,NOTE,STAMP"});
    EXPECT_EQ(read_file(dir / "list.txt"), record + record);
}

TEST(Export, CsvQuotingZeroesAndHeader) {
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.csv", "/HDR", "/MEMO:text", "/S:*"});
    EXPECT_EQ(read_file(dir / "a.csv"),
              "NAME,PRICE,OK,BORN,NOTE,QTY,CASH,RATIO,STAMP\n"
              "\"O'Brien \",12.50,T,20160229,\"line one\nsay \"\"hi\"\" <b>&\",42,12.3456,3.25,20160229123456\n"
              ",,F,,,-7,,,\n"
              "\"Ann,\"\"Lee\",-1.50,?,20001231,\"x\",,0.0005,-0.50,\n");
    // /CRLF:kill turns line breaks of memo texts into spaces; without /MEMO:text a
    // memo field is its placeholder text.
    export_run(dir, {"/OUT:b.csv", "/CRLF:kill", "/MEMO:text", "/RANGE:1", "/S:NOTE", "/MEMO", "/S:NOTE"});
    EXPECT_EQ(read_file(dir / "b.csv"), "\"line one  say \"\"hi\"\" <b>&\"\n\"Full memo \"\n");
}

TEST(Export, SqlFlavoursQuotesAndEscape) {
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.sql", "/NAME", "/MEMO:text", "/S:*"});
    const std::string names = "insert into \"mix.dbf\"  (NAME, PRICE, OK, BORN, NOTE, QTY, CASH, RATIO, STAMP ) values (";
    EXPECT_EQ(read_file(dir / "a.sql"),
              names + "\"O'Brien \",   12.50, TRUE , \"20160229\", \"line one\nsay \"\"hi\"\" <b>&\n\",         42, "
                      "                 12.3456,                 3.25, \"20160229123456\");\n" +
                  names + "\"        \",    0.00, FALSE, \"        \", \"\",         -7,                   0.0000, "
                          "                0.00, \"              \");\n" +
                  names + "\"Ann,\"\"Lee\",   -1.50, FALSE, \"20001231\", \"x\n\",          0,                   "
                          "0.0005,                -0.50, \"              \");\n");

    // SQL 2000: single quotes and 1/0; the escape character goes before quotes and
    // before itself; without one a quote is doubled.
    write_file(dir / "b.sql", "");
    export_run(dir, {"/OUT:b.sql", "/SQL2000", "/RANGE:1", "/S:NAME,OK", "/ESCAPE:\\", "/S:NAME,OK"});
    EXPECT_EQ(read_file(dir / "b.sql"), "insert into \"mix.dbf\"  values ('O''Brien ', 1);\n"
                                        "insert into \"mix.dbf\"  values ('O\\'Brien ', 1);\n");
}

TEST(Export, ProgramFormat) {
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.prg", "/MEMO:text", "/RANGE:1,2", "/S:NAME,PRICE,OK,BORN,NOTE"});
    EXPECT_EQ(read_file(dir / "a.prg"),
              "use mix.dbf\n"
              "append blank\nreplace ;\n\tNAME with \"O'Brien \", ;\n\tPRICE with   12.50, ;\n\tOK with .T., ;\n"
              "\tBORN with ctod(\"20160229\"), ;\n\tNOTE with ;\n\t\t\"line one\" + chr(13) + chr(10) +;\n"
              "\t\t\"say \"hi\" <b>&\" + chr(13) + chr(10) +;\n\t\t\"\"\n"
              "append blank\nreplace ;\n\tNAME with \"        \", ;\n\tPRICE with    0.00, ;\n\tOK with .F., ;\n"
              "\tBORN with ctod(\"        \"), ;\n\tNOTE with ;\n\t\t\"\"\n"
              "use\t&&\tmix.dbf\n\n");
}

TEST(Export, HtmlBothLayouts) {
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.htm", "/HDR", "/DEL", "/NAME", "/MEMO:text", "/RANGE:1-2", "/S:NAME,PRICE,OK,BORN,NOTE"});
    const std::string table_line = "<table width=\"100%\" border=\"1\" cellspacing=\"1\" cellpadding=\"1\">\n";
    EXPECT_EQ(read_file(dir / "a.htm"),
              table_line +
                  "<tr><td align=center>*</td><td align=center>NAME</td><td align=center>PRICE</td><td "
                  "align=center>OK</td><td align=center>BORN</td><td align=center>NOTE</td></tr>\n"
                  "<tr valign=top><td>&nbsp;</td><td>O'Brien </td><td align=right>12.50</td><td>T </td><td "
                  "align=center>20160229</td><td>line one <br>\n say &quot;hi&quot; &lt;b&gt; &amp; "
                  "</td><td>mix.dbf</td></tr>\n"
                  "<tr valign=top><td align=center>*</td><td>&nbsp;</td><td align=right>0.00</td><td>F "
                  "</td><td>&nbsp;</td><td>&nbsp;</td><td>mix.dbf</td></tr>\n"
                  "</table>\n");
    // The fields layout: a row with the mark per record, a two-column row per field.
    export_run(dir, {"/OUT:b.htm", "/FIELDS", "/DEL", "/NAME", "/RANGE:2", "/S:NAME,PRICE"});
    EXPECT_EQ(read_file(dir / "b.htm"), table_line +
                                            "<tr valign=top><td>*</td><td align=left>*</td></tr>\n"
                                            "<tr valign=top><td valign=top>NAME</td><td>&nbsp;</td></tr>\n"
                                            "<tr valign=top><td valign=top>PRICE</td><td>0.00 </td></tr>\n"
                                            "<tr><td colspan=2>mix.dbf</td></tr>\n</table>\n");
}

TEST(Export, XmlRecordsAndStructure) {
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.xml", "/DEL", "/MEMO:text", "/RANGE:1,2", "/S:NOTE,NAME,QTY,CASH"});
    const std::string prologue = "<?xml version=\"1.0\"?>\n<!-- Location: mix.dbf -->\n";
    EXPECT_EQ(read_file(dir / "a.xml"),
              prologue +
                  "   <Information>\n"
                  "      <Record>\n         <RecNo>1</RecNo>\n         <DeletedFlag/>\n"
                  "         <NOTE><![CDATA[line one&#xD;&#xA;say \"hi\" <b>&]]></NOTE>\n"
                  "         <NAME>O'Brien </NAME>\n         <QTY>42</QTY>\n         <CASH>12.345600</CASH>\n"
                  "      </Record>\n"
                  "      <Record>\n         <RecNo>2</RecNo>\n         <DeletedFlag>*</DeletedFlag>\n"
                  "         <NOTE/>\n         <NAME>        </NAME>\n         <QTY>-7</QTY>\n         <CASH/>\n"
                  "      </Record>\n"
                  "   </Information>\n\n");

    // With the header line: the structure of every field, then the records; a second
    // export appends a second document.
    TableLayout small;
    small.fields = {{"NAME", 'C', 4}, {"AGE", 'N', 3}};
    small.records = {make_record(small, {"Bo", "41"})};
    write_file(dir / "s.dbf", build_table(small));
    for (int run = 1; run <= 2; ++run) run_rorarodi(dir, {"s.dbf", "/OUT:s.xml", "/HDR", "/S:AGE;NAME"});
    const std::string document =
        "<?xml version=\"1.0\"?>\n<!-- Location: s.dbf -->\n   <Structure>\n"
        "      <Field>\n         <Field_Name>NAME</Field_Name>\n         <Field_Type>Character</Field_Type>\n"
        "         <Field_Len>4</Field_Len>\n         <Field_Dec/>\n      </Field>\n"
        "      <Field>\n         <Field_Name>AGE</Field_Name>\n         <Field_Type>Numeric</Field_Type>\n"
        "         <Field_Len>3</Field_Len>\n         <Field_Dec/>\n      </Field>\n"
        "   </Structure>\n   <Information>\n      <Record>\n         <RecNo>1</RecNo>\n"
        "         <AGE>41</AGE>\n         <NAME>Bo  </NAME>\n      </Record>\n   </Information>\n\n";
    EXPECT_EQ(read_file(dir / "s.xml"), document + document);
}

TEST(Export, RangeListMessagesAndTrace) {
    TempDir dir;
    write_mixed_table(dir);
    // List order, a repeat, an entry past the view skipped; a filter shrinks the view.
    EXPECT_EQ(export_run(dir, {"/RANGE:3,1,1,9", "/S:QTY"}).output, "         0\n        42\n        42\n");
    EXPECT_EQ(export_run(dir, {"/F:QTY}0", "/RANGE:2,1", "/S:QTY"}).output, "        42\n");
    EXPECT_EQ(export_run(dir, {"/RANGE:0", "/S:QTY", "/RANGE:all", "/ORDER:QTY", "/S:QTY"}).output,
              "        -7\n         0\n        42\n");
    EXPECT_EQ(export_run(dir, {"/RANGE:4000000000,2-4000000000", "/S:QTY"}).output, "        -7\n         0\n");

    EXPECT_EQ(export_run(dir, {"/VERBOSE", "/S:", "/SELECT:XX", "/OUT:none/x.csv", "/S:*", "/OUT", "/S:OK"}, 2).output,
              "Processing of parameter [/S:]\nEnter Select\nField[s] required for select...\nLeave Select\n"
              "Processing of parameter [/SELECT:XX]\nEnter Select\nInvalid field[s]...\n"
              "Processing of parameter [/OUT:none/x.csv]\nEnter Out\nLeave Out\n"
              "Processing of parameter [/S:*]\nEnter Select\nCan't open none/x.csv\n"
              "Processing of parameter [/OUT]\nEnter Out\nLeave Out\n"
              "Processing of parameter [/S:OK]\nEnter Select\nT\nF\n?\nLeave Select\n");
}

TEST(Export, OwnFilesAreNeverOutput) {
    TempDir dir;
    write_mixed_table(dir);
    const std::string table = read_file(dir / "mix.dbf"), memo = read_file(dir / "mix.fpt");
    ASSERT_EQ(::symlink("mix.dbf", (dir / "alias.dbf").c_str()), 0);
    ASSERT_EQ(::symlink("mix.fpt", (dir / "memo.csv").c_str()), 0);
    EXPECT_EQ(export_run(dir, {"/OUT:mix.dbf", "/S:*", "/OUT:./alias.dbf", "/S:*", "/OUT:memo.csv", "/S:*"}, 2).output,
              "Can't open mix.dbf\nCan't open ./alias.dbf\nCan't open memo.csv\n");
    EXPECT_EQ(read_file(dir / "mix.dbf"), table);
    EXPECT_EQ(read_file(dir / "mix.fpt"), memo);
}

// Output that a full disk refuses is reported, in every format.
TEST(Export, FullDiskReported) {
    TempDir dir;
    write_mixed_table(dir);
    if (!file_exists("/dev/full")) GTEST_SKIP() << "/dev/full is missing";
    for (std::string name : {"f.csv", "f.txt", "f.htm", "f.xml", "f.sql", "f.prg"}) {
        ASSERT_EQ(::symlink("/dev/full", (dir / name).c_str()), 0);
        EXPECT_EQ(export_run(dir, {"/OUT:" + name, "/S:*"}, 2).output, "Can't write " + name + "\n");
    }
    // A file size limit stands in for a full disk under the output table.
    TableLayout layout;
    layout.fields = {{"T", 'C', 200}};
    layout.records.assign(20, make_record(layout, {"x"}));
    write_file(dir / "t.dbf", build_table(layout));
    RunResult r = run_command("/bin/sh", {"-c", "ulimit -f 2; trap '' XFSZ; exec ./rorarodi t.dbf /OUT:c.dbf /S:*"},
                              dir.path());
    EXPECT_EQ(r.output, "Can't write c.dbf\nCan't write c.dbf: File too large; t.dbf is unchanged\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(file_exists(dir / "c.dbf"));  // a new output table goes whole
}

// CSV, JSON, COPY and the SQL text write most values straight off the record and
// send the others the general way: every value here sits on one side of that line
// or the other, and an integer field (always the general way) sits between the
// quick ones.
TEST(Export, QuickAndGeneralValuesAgree) {
    TempDir dir;
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.code_page_mark = 0x65;  // code page 866
    layout.fields = {{"T", 'C', 8}, {"N", 'N', 6, 2}, {"K", 'I', 4}, {"D", 'D', 8},
                     {"L", 'L', 1}, {"U", 'C', 6}, {"W", 'N', 3, 2}};
    const std::string nul(1, '\0');
    layout.records = {
        // Canonical number, valid date, Cyrillic text (Ёж), the ".50" form.
        make_record(layout, {"plain", "1.50", le32(5), "20240229", "T", "\xF0\xA6", ".50"}),
        // A quote, a number with a leading zero, an invalid date, an unknown logical, a CR.
        make_record(layout, {"a\"b", "001.50", le32(0), "20230230", "?", "x\ry", "0.5"}),
        // All spaces, zero, a blank date, a blank logical, a NUL inside the text.
        make_record(layout, {"", "0.00", le32(static_cast<uint32_t>(-1)), "", " ", "ab" + nul + "cd", ""}),
        // Leading spaces, -0, a logical separator, a tab, NUL padding.
        make_record(layout, {"  lead", "-0.00", le32(7), "19991231", ",", "t\tb", "1.00"}),
        make_record(layout, {"x\ny", "-12.5", le32(8), "2024022", nul, "e" + nul + nul + nul + nul + nul, "-.5"}),
        // A backslash, the year 0, a quote of SQL.
        make_record(layout, {"back\\sl", "2.00", le32(9), "00000101", "Y", "q'x", ".25"}),
    };
    write_file(dir / "q.dbf", build_table(layout));
    auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "q.dbf");
        EXPECT_EQ(run_rorarodi(dir, arguments).status, 0);
    };
    run({"/OUT:a.csv", "/S:*"});
    EXPECT_EQ(read_file(dir / "a.csv"),
              "\"plain   \",1.50,5,20240229,T,\"\xF0\xA6    \",.50\n"
              "\"a\"\"b     \",1.50,,,?,\"xy   \",.50\n"
              ",,-1,,,\"ab\",\n"
              "\"  lead  \",,7,19991231,\",\",\"t\tb   \",1.00\n"
              "\"x\ny     \",-12.50,8,2024022,,\"e\",-0.50\n"
              "\"back\\sl \",2.00,9,00000101,Y,\"q'x   \",.25\n");
    // Trimmed, converted, in another order with a field twice.
    run({"/OUT:b.csv", "/TRIM:all", "/UTF8", "/S:U,T,K,T"});
    EXPECT_EQ(read_file(dir / "b.csv"),
              "\"Ёж\",\"plain\",5,\"plain\"\n"
              "\"xy\",\"a\"\"b\",,\"a\"\"b\"\n"
              "\"ab\",,-1,\n"
              "\"t\tb\",\"lead\",7,\"lead\"\n"
              "\"e\",\"x\ny\",8,\"x\ny\"\n"
              "\"q'x\",\"back\\sl\",9,\"back\\sl\"\n");
    // JSON takes a field listed twice once.
    run({"/OUT:c.jsonl", "/S:U,T,N,K,D,L,W,T"});
    EXPECT_EQ(read_file(dir / "c.jsonl"),
              "{\"U\":\"Ёж\",\"T\":\"plain\",\"N\":1.50,\"K\":5,\"D\":\"2024-02-29\",\"L\":true,\"W\":0.50}\n"
              "{\"U\":\"x\\ry\",\"T\":\"a\\\"b\",\"N\":1.50,\"K\":0,\"D\":null,\"L\":null,\"W\":0.5}\n"
              "{\"U\":\"abcd\",\"T\":\"\",\"N\":0.00,\"K\":-1,\"D\":null,\"L\":null,\"W\":null}\n"
              "{\"U\":\"t\\tb\",\"T\":\"  lead\",\"N\":-0.00,\"K\":7,\"D\":\"1999-12-31\",\"L\":null,\"W\":1.0}\n"
              "{\"U\":\"e\",\"T\":\"x\\ny\",\"N\":-12.5,\"K\":8,\"D\":\"2024-02-02\",\"L\":null,\"W\":-0.5}\n"
              "{\"U\":\"q'x\",\"T\":\"back\\\\sl\",\"N\":2.00,\"K\":9,\"D\":\"0000-01-01\",\"L\":true,\"W\":0.25}\n");
    // COPY with the deletion column; the plain SQL text with an escape character.
    run({"/OUT:d.sql", "/SQL:postgres", "/DEL", "/S:T,D,L,U"});
    const std::string copy = read_file(dir / "d.sql");
    EXPECT_EQ(copy.substr(copy.find("COPY")),
              "COPY \"q\" (\"T\", \"D\", \"L\", \"U\", \"_deleted\") FROM stdin;\n"
              "plain\t2024-02-29\tt\tЁж\tf\n"
              "a\"b\t\\N\t\\N\tx\\ry\tf\n"
              "\t\\N\t\\N\tabcd\tf\n"
              "  lead\t1999-12-31\t\\N\tt\\tb\tf\n"
              "x\\ny\t2024-02-02\t\\N\te\tf\n"
              "back\\\\sl\t0001-01-01 BC\tt\tq'x\tf\n"
              "\\.\n\n");
    run({"/OUT:e.sql", "/SQL2000", "/ESCAPE:\\", "/S:T,N,D,L,U"});
    EXPECT_EQ(read_file(dir / "e.sql"),
              "insert into \"q.dbf\"  values ('plain   ',   1.50, '20240229', 1, '\xF0\xA6    ');\n"
              "insert into \"q.dbf\"  values ('a\"b     ',   1.50, '        ', 0, 'x\ry   ');\n"
              "insert into \"q.dbf\"  values ('        ',   0.00, '        ', 0, 'ab');\n"
              "insert into \"q.dbf\"  values ('  lead  ',  -0.00, '19991231', 0, 't\tb   ');\n"
              "insert into \"q.dbf\"  values ('x\ny     ', -12.50, '2024022 ', 0, 'e');\n"
              "insert into \"q.dbf\"  values ('back\\\\sl ',   2.00, '00000101', 1, 'q\\'x   ');\n");
}

// The fields of the random records below.
const std::vector<FieldLayout> kRandomFields = {{"A", 'C', 7}, {"N", 'N', 6, 2}, {"D", 'D', 8},
                                                {"L", 'L', 1}, {"B", 'C', 3},    {"K", 'N', 4}};

// The values of a random record of ASCII bytes rich in what the writers treat apart
// (quotes, separators, line breaks, NULs, spaces, signs, points).
std::vector<std::string> random_record_values(Random& random) {
    const char* const bytes = " \"',;\\\r\n\t\x01-.0123456789aZ";
    auto text = [&](size_t width) {
        std::string value;
        for (size_t i = 0; i < width; ++i) value += chance(random, 10) ? '\0' : bytes[pick(random, std::strlen(bytes))];
        return value;
    };
    const char* const numbers[] = {"1.50", "-0.25", "0.00", "-0.00", "12.5", "001.5", "1,5", "", "  7", "-"};
    const char* const dates[] = {"20240229", "20230229", "19991231", "", "2024013", "00000101"};
    const char* const integers[] = {"42", "-7", "0", "-0", "007", "9999", "x"};
    const char* const logicals[] = {"T", "f", "?", " ", ",", "\"", "\n"};
    return {text(7),
            chance(random, 20) ? text(6) : one_of(random, numbers),
            chance(random, 20) ? text(8) : one_of(random, dates),
            chance(random, 20) ? text(1) : one_of(random, logicals),
            text(3),
            chance(random, 20) ? text(4) : one_of(random, integers)};
}

// The CSV and SQL texts of random records are the same whether the values go the
// quick way or, under /2OEM (which leaves ASCII as it is but converts a copy of
// every value), all the general way.
TEST(Export, QuickWayMatchesTheGeneralWayOnRandomRecords) {
    TempDir dir;
    Random random(20261208);
    TableLayout layout;
    layout.fields = kRandomFields;
    for (int i = 0; i < 400; ++i) layout.records.push_back(make_record(layout, random_record_values(random), chance(random, 10)));
    write_file(dir / "r.dbf", build_table(layout));
    for (const std::vector<std::string> options :
         {std::vector<std::string>{}, {"/TRIM:all"}, {"/TRIM:left", "/DEL"}, {"/SQL2000", "/ESCAPE:\\"}, {"/ESCAPE:0"}}) {
        for (const std::string name : {"q.csv", "q.sql"}) {
            std::vector<std::string> quick = {"r.dbf"}, general = {"r.dbf", "/2OEM"};
            for (const std::string& option : options) quick.push_back(option), general.push_back(option);
            quick.push_back("/OUT:" + name), general.push_back("/OUT:g" + name);
            quick.push_back("/S:*"), general.push_back("/S:*");
            ASSERT_EQ(run_rorarodi(dir, quick).status, 0);
            ASSERT_EQ(run_rorarodi(dir, general).status, 0);
            EXPECT_EQ(read_file(dir / name), read_file(dir / ("g" + name))) << name << " " << options.size();
        }
    }
}

// The same for JSON and COPY, whose values all go the general way when every field
// is nullable: the same random records in a table whose fields are, with no null
// bit set, and in one whose fields are not.
TEST(Export, TypedQuickWayMatchesTheGeneralWayOnRandomRecords) {
    TempDir dir;
    Random random(8122026);
    TableLayout quick, general;
    quick.version = general.version = 0x30;
    quick.extra_header = general.extra_header = 263;
    quick.fields = general.fields = kRandomFields;
    for (FieldLayout& field : general.fields) field.flags = 0x02;
    general.fields.push_back({"_NullFlags", '0', 1, 0, 0x05});
    for (int i = 0; i < 400; ++i) {
        std::vector<std::string> values = random_record_values(random);
        const bool deleted = chance(random, 10);
        quick.records.push_back(make_record(quick, values, deleted));
        values.push_back(std::string(1, '\0'));
        general.records.push_back(make_record(general, values, deleted));
    }
    write_file(dir / "q.dbf", build_table(quick));
    write_file(dir / "g.dbf", build_table(general));
    for (const std::vector<std::string> options : {std::vector<std::string>{}, {"/DEL"}, {"/SQL:postgres"}}) {
        const std::string name = options.empty() || options[0] == "/DEL" ? ".jsonl" : ".sql";
        for (const std::string table : {"q", "g"}) {
            std::vector<std::string> arguments = {table + ".dbf"};
            arguments.insert(arguments.end(), options.begin(), options.end());
            arguments.push_back("/OUT:" + table + name);
            arguments.push_back("/S:*");
            ASSERT_EQ(run_rorarodi(dir, arguments).status, 0);
        }
        // The rows, after the statements of COPY that name the table.
        auto rows = [&](const std::string& table) {
            const std::string text = read_file(dir / (table + name));
            const size_t start = text.find("stdin;");
            return start == std::string::npos ? text : text.substr(start);
        };
        EXPECT_EQ(rows("q"), rows("g")) << options.size();
        std::remove((dir / ("q" + name)).c_str());
        std::remove((dir / ("g" + name)).c_str());
    }
}

TEST(Export, CodePagesOnOutput) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 2}};
    // The bytes E0 F0: in OEM page 866 the letters er and Io, in ANSI page 1251 a and er.
    layout.records = {make_record(layout, {"\xE0\xF0"})};
    write_file(dir / "t.dbf", build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/S:NAME"}).output, "\xE0\xF0\n");
    // The console shows an ANSI table's text in OEM; /2OEM converts the same way.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/ANSI", "/S:NAME", "/2OEM", "/S:NAME"}).output, "\xA0\xE0\n\xA0\xE0\n");
    // /2ANSI converts from OEM whatever the table says, and the console adds nothing.
    run_rorarodi(dir, {"t.dbf", "/2ANSI", "/OUT:a.txt", "/S:NAME", "/ANSI", "/S:NAME"});
    EXPECT_EQ(read_file(dir / "a.txt"), "\xF0\xA8\n\xF0\xA8\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/ANSI", "/2ANSI", "/S:NAME"}).output, "\xF0\xA8\n");
}

// Type letter and length byte of each field of a standard table file.
std::string field_shapes(const std::string& bytes) {
    std::string out;
    for (size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\x0D'; at += 32)
        out += bytes.substr(at, bytes.find('\0', at) - at) + ":" + bytes[at + 11] + std::to_string(
                   static_cast<unsigned char>(bytes[at + 16]) | static_cast<unsigned char>(bytes[at + 17]) << 8) + " ";
    return out;
}

TEST(Export, TableOutputCreatedAndAppended) {
    TempDir dir;
    write_mixed_table(dir);
    const std::string shown = export_run(dir, {"/DEL", "/MEMO:text", "/S:*"}).output;
    export_run(dir, {"/OUT:copy.dbf", "/S:*"});
    // The same fields and values, the memo in a memo file of its own; a logical
    // value is copied as stored, an unknown one included.
    EXPECT_EQ(run_rorarodi(dir, {"copy.dbf", "/DEL", "/MEMO:text", "/S:*"}).output, shown);
    EXPECT_TRUE(file_exists(dir / "copy.fpt"));
    export_run(dir, {"/OUT:copy.dbf", "/RANGE:2,1", "/S:*"});
    EXPECT_EQ(run_rorarodi(dir, {"copy.dbf", "/RANGE:4,5", "/S:QTY"}).output, "        -7\n        42\n");

    // An existing table: fields matched by name whatever their case and order,
    // numbers stored as numbers, texts cut to the field, unmatched fields left blank.
    TableLayout other;
    other.fields = {{"EXTRA", 'C', 3}, {"name", 'C', 4}, {"QTY", 'N', 5}};
    write_file(dir / "t2.dbf", build_table(other));
    export_run(dir, {"/OUT:t2.dbf", "/S:NAME,QTY,CASH"});
    EXPECT_EQ(run_rorarodi(dir, {"t2.dbf", "/DEL", "/S:*"}).output,
              " |   |O'Br|   42\n*|   |    |   -7\n |   |Ann,|    0\n");

    // Older kinds take the types they lack as character fields holding the whole text.
    export_run(dir, {"/TYPE:db3", "/OUT:old.dbf", "/MEMO:text", "/RANGE:1", "/S:QTY,CASH,RATIO,STAMP,NOTE"});
    const std::string old = read_file(dir / "old.dbf");
    EXPECT_EQ(old[0], '\x83');
    EXPECT_EQ(field_shapes(old), "QTY:C18 CASH:C24 RATIO:C32 STAMP:C14 NOTE:M10 ");
    EXPECT_EQ(run_rorarodi(dir, {"old.dbf", "/TRIM:right", "/MEMO:text", "/S:*"}).output,
              "42.000000|12.345600|3.250000|20160229123456|line one\nsay \"hi\" <b>&\n");

    // A level 7 name longer than a standard table holds finds its first ten characters.
    TableLayout level7;
    level7.version = 0x04;
    level7.level7 = true;
    level7.fields = {{"CUSTOMER_NUMBER", 'C', 6}};
    // (A level 7 file is known by its size too: it takes more than one short record.)
    level7.records = {make_record(level7, {"C-0042"}), make_record(level7, {"C-0043"})};
    write_file(dir / "l7.dbf", build_table(level7));
    run_rorarodi(dir, {"l7.dbf", "/TYPE:db3", "/OUT:short.dbf", "/S:*"});
    EXPECT_EQ(run_rorarodi(dir, {"short.dbf", "/HDR", "/S:*"}).output, "CUSTOMER_N\nC-0042\nC-0043\n");
}

TEST(SumAndAverage, TotalsByLayout) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"PRICE", 'N', 10, 2}, {"NAME", 'C', 8}};
    layout.records = {make_record(layout, {"1.50", "a"}), make_record(layout, {"2.25", "b"}),
                      make_record(layout, {"0", "c"}, true)};
    write_file(dir / "t.dbf", build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/SUM:PRICE", "/AVG:PRICE", "/SUM:PRICE,NAME"}).output,
              "      3.75|\n      1.25|\n      3.75|       0|\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/HDR", "/FIELDS", "/SUM:PRICE", "/BROWSE", "/AVG:*"}).output,
              "PRICE     |      3.75\nPRICE     |NAME    |\n      1.25|       0|\n");
    // The view and the range list decide which records count.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/DELETED-", "/AVG:PRICE", "/F:PRICE}9", "/AVG:PRICE"}).output,
              "      1.88|\n      0.00|\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/RANGE:2,2,7", "/SUM:PRICE", "/AVG:PRICE"}).output,
              "      4.50|\n      2.25|\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/SUM:", "/AVG:X", "/AVG:NAME"}).output,
              "Processing of parameter [/SUM:]\nEnter Sum\nField[s] required for select...\n"
              "Processing of parameter [/AVG:X]\nEnter Avg\nInvalid field[s]...\n"
              "Processing of parameter [/AVG:NAME]\nEnter Avg\n       0|\nLeave Avg\n");
}

// A memo of megabytes with zero bytes and quotes is written whole.
TEST(Export, LongMemosWrittenWhole) {
    TempDir dir;
    std::string memo;
    for (int i = 0; i < 600000; ++i) memo += std::string("ab\0\"\n", 5);
    std::vector<uint32_t> blocks;
    write_file(dir / "m.fpt", build_foxpro_memo({memo}, blocks, 64));
    TableLayout layout;
    layout.version = 0xF5;
    layout.fields = {{"NOTE", 'M', 10}};
    layout.records = {make_record(layout, {memo_reference_text(blocks[0])})};
    write_file(dir / "m.dbf", build_table(layout));
    run_rorarodi(dir, {"m.dbf", "/MEMO:text", "/OUT:a.csv", "/S:NOTE", "/OUT:a.txt", "/S:NOTE", "/OUT:a.dbf", "/S:NOTE",
                       "/OUT:a.xml", "/S:NOTE"});
    std::string quoted;
    for (int i = 0; i < 600000; ++i) quoted += std::string("ab\0\"\"\n", 6);
    EXPECT_TRUE(same_bytes(read_file(dir / "a.csv"), "\"" + quoted + "\"\n"));
    EXPECT_TRUE(same_bytes(read_file(dir / "a.txt"), memo + "\n"));
    // XML ends the memo's text at its first zero byte.
    EXPECT_EQ(read_file(dir / "a.xml"), "<?xml version=\"1.0\"?>\n<!-- Location: m.dbf -->\n   <Information>\n"
                                        "      <Record>\n         <RecNo>1</RecNo>\n         <NOTE>ab</NOTE>\n"
                                        "      </Record>\n   </Information>\n\n");
    // The new memo file: a 512-byte header, then the block header and the memo.
    EXPECT_EQ(read_file(dir / "a.fpt").find(memo), 512u + 8u);
}

// The other tools: run through the shell from the test directory; false when the
// tool is not installed.
bool have_tool(const char* check) { return std::system(check) == 0; }

TEST(ExportInterop, PythonCsvReadsTheValuesBack) {
    if (!have_tool("python3 -c 'import csv' >/dev/null 2>&1")) GTEST_SKIP() << "python3 not installed";
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.csv", "/HDR", "/MEMO:text", "/S:*"});
    write_file(dir / "read.py", "import csv\nfor row in csv.reader(open('a.csv', newline='')):\n    print(repr(row))\n");
    RunResult r = run_command("/bin/sh", {"-c", "python3 read.py"}, dir.path());
    EXPECT_EQ(r.output,
              "['NAME', 'PRICE', 'OK', 'BORN', 'NOTE', 'QTY', 'CASH', 'RATIO', 'STAMP']\n"
              "[\"O'Brien \", '12.50', 'T', '20160229', 'line one\\nsay \"hi\" <b>&', '42', '12.3456', '3.25', "
              "'20160229123456']\n"
              "['', '', 'F', '', '', '-7', '', '', '']\n"
              "['Ann,\"Lee', '-1.50', '?', '20001231', 'x', '', '0.0005', '-0.50', '']\n");
}

TEST(ExportInterop, Sqlite3ExecutesTheStatements) {
    if (!have_tool("sqlite3 -version >/dev/null 2>&1")) GTEST_SKIP() << "sqlite3 not installed";
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.sql", "/SQL2000", "/NAME", "/MEMO:text", "/S:*", "/QUOTES:double", "/S:*"});
    write_file(dir / "run.sql",
               "CREATE TABLE \"mix.dbf\" (NAME, PRICE, OK, BORN, NOTE, QTY, CASH, RATIO, STAMP);\n"
               ".read a.sql\nSELECT count(*), sum(QTY) FROM \"mix.dbf\";\n"
               "SELECT NAME FROM \"mix.dbf\" WHERE QTY = 0 LIMIT 1;\n");
    RunResult r = run_command("/bin/sh", {"-c", "sqlite3 -bail :memory: < run.sql"}, dir.path());
    EXPECT_EQ(r.output, "6|70\nAnn,\"Lee\n");
    EXPECT_EQ(r.status, 0) << r.errors;
}

TEST(ExportInterop, XmlWithoutHeaderParses) {
    if (!have_tool("python3 -c 'import xml.dom.minidom' >/dev/null 2>&1")) GTEST_SKIP() << "python3 not installed";
    TempDir dir;
    write_mixed_table(dir);
    export_run(dir, {"/OUT:a.xml", "/DEL", "/MEMO:text", "/S:*"});
    RunResult r = run_command(
        "/bin/sh",
        {"-c", "python3 -c \"import xml.dom.minidom as m; d = m.parse('a.xml'); "
               "print(len(d.getElementsByTagName('Record')), d.getElementsByTagName('NOTE')[0].firstChild.data)\""},
        dir.path());
    EXPECT_EQ(r.output, "3 line one&#xD;&#xA;say \"hi\" <b>&\n");
    EXPECT_EQ(r.status, 0) << r.errors;
}

} // namespace

