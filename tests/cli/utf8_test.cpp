#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iconv.h>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// A text written here in UTF-8, in the bytes of a code page (test-side, from iconv).
std::string in_page(const std::string& utf8, int page) {
    iconv_t cd = iconv_open(("CP" + std::to_string(page)).c_str(), "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = utf8, out(utf8.size() + 8, '\0');
    char* in_ptr = in.data();
    char* out_ptr = out.data();
    size_t in_left = in.size(), out_left = out.size();
    EXPECT_NE(iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left), static_cast<size_t>(-1)) << utf8;
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

struct PageTable {
    int page;
    const char* codec;  // Python's name of the page
    uint8_t mark;
    const char* corpus = nullptr;  // a corpus table taken instead of a generated one
};

// A table of the page whose names and texts are not ASCII: CITY (in the page's
// letters), NAME, SUM (in the page's letters) and, for 866, a memo field.
void write_page_table(const TempDir& dir, const PageTable& kind, const std::string& name = "t") {
    const int page = kind.page;
    if (kind.corpus) {
        write_file(dir / (name + ".dbf"), read_file(std::string(CORPUS_DIR) + "/" + kind.corpus));
        return;
    }
    TableLayout layout;
    layout.code_page_mark = kind.mark;
    std::vector<std::vector<std::string>> values;
    if (page == 866) {
        std::vector<uint32_t> blocks;
        write_file(dir / (name + ".fpt"),
                   build_foxpro_memo({in_page("Первая строка\r\nвторая ╬ <b>&", 866), in_page("Ёж", 866)}, blocks));
        layout.version = 0xF5;
        layout.fields = {{in_page("ГОРОД", 866), 'C', 12}, {"NAME", 'C', 10}, {in_page("СУММА", 866), 'N', 8, 2},
                         {"NOTE", 'M', 10}};
        values = {{in_page("Москва", 866), in_page("Ёлка №1", 866), "12.50", memo_reference_text(blocks[0])},
                  {in_page("Тверь", 866), "O'Brien", "0.00", memo_reference_text(blocks[1])},
                  {in_page("Тула", 866), "", "-3.00", ""}};
    } else if (page == 1251) {
        layout.version = 0x30;
        layout.extra_header = 263;
        layout.fields = {{in_page("МІСТО", 1251), 'C', 12}, {"NAME", 'C', 10}, {in_page("СУМА", 1251), 'N', 8, 2}};
        values = {{in_page("Київ", 1251), in_page("€ 5 №7", 1251), "1.25"}, {in_page("Львів", 1251), "a,\"b", "0.00"}};
    } else {
        layout.fields = {{in_page("CAFÉ", 437), 'C', 12}, {"NAME", 'C', 10}, {"SUM", 'N', 8, 2}};
        values = {{in_page("Café", 437), in_page("½ ° ß", 437), "2"}, {in_page("Zürich", 437), "x<y", "0.00"}};
    }
    for (size_t i = 0; i < values.size(); ++i) layout.records.push_back(make_record(layout, values[i], i == 1));
    write_file(dir / (name + ".dbf"), build_table(layout));
}

bool have_python() { return std::system("python3 -c 'import xml.dom.minidom' >/dev/null 2>&1") == 0; }

RunResult python(const TempDir& dir, const std::string& script, const std::vector<std::string>& arguments = {}) {
    write_file(dir / "check.py", script);
    std::string command = "PYTHONIOENCODING=utf-8 python3 check.py";
    for (const std::string& argument : arguments) command += " " + argument;
    return run_command("/bin/sh", {"-c", command}, dir.path());
}

// Prints every file whose UTF-8 form differs from Python's decoding of its form
// made without /UTF8 (raw.x against utf.x). XML without /UTF8 writes the bytes
// above 127 as references to their values, and XML under /UTF8 cannot hold control
// characters but tab and line breaks.
const char* const kCompareScript = R"(import re, sys
codec = sys.argv[1]
for name in sys.argv[2:]:
    raw = open('raw' + name, 'rb').read()
    if name.endswith('.xml'):
        raw = re.sub(rb'&#0(\d{3});', lambda m: bytes([int(m.group(1))]), raw)
    text = raw.decode(codec)
    if name.endswith('.xml'):
        text = re.sub(r'&#x(?:[1-8BCEF]|1[0-9A-F]);', '\ufffd', text)
    utf = open('utf' + name, 'rb').read().decode('utf-8')
    if text != utf:
        print(name, repr(text), repr(utf))
)";

TEST(Utf8, EveryTextFormatIsPythonsDecodingOfTheTableBytes) {
    if (!have_python()) GTEST_SKIP() << "python3 not installed";
    for (const PageTable& kind : {PageTable{866, "cp866", 0x65}, PageTable{1251, "cp1251", 0xC9},
                                  PageTable{437, "cp437", 0x01}, PageTable{936, "gbk", 0x4D, "dbase-rs/cp936.dbf"},
                                  PageTable{936, "gbk", 0x7A, "javadbf/gbk.dbf"}}) {
        if (kind.corpus && !std::filesystem::exists(std::string(CORPUS_DIR) + "/" + kind.corpus)) continue;
        TempDir dir;
        write_page_table(dir, kind);
        std::vector<std::string> files;
        for (const char* format : {".txt", ".csv", ".sql", ".prg", ".htm", ".xml"}) {
            // /ANSI keeps the bytes of the HTML output as they are without /UTF8; the
            // mark chooses the page under /UTF8 whatever /ANSI says.
            for (const char* layout : {"/BROWSE", "/FIELDS"}) {
                const std::string name = std::string(layout + 1) + format;
                run_rorarodi(dir, {"t.dbf", "/ANSI", layout, "/HDR", "/DEL", "/NAME", "/MEMO:text", "/OUT:raw" + name, "/S:*"});
                run_rorarodi(dir, {"t.dbf", "/UTF8", layout, "/HDR", "/DEL", "/NAME", "/MEMO:text", "/OUT:utf" + name, "/S:*"});
                files.push_back(name);
            }
        }
        for (const char* format : {".txt", ".sql", ".prg", ".fox", ".xml"}) {
            run_rorarodi(dir, {"t.dbf", std::string("/STRUCT:rawstruct") + format});
            run_rorarodi(dir, {"t.dbf", "/UTF8", std::string("/STRUCT:utfstruct") + format});
            files.push_back(std::string("struct") + format);
        }
        // The console: records in both layouts, the structure and the totals.
        const std::vector<std::string> console = {"t.dbf",  "/HDR",     "/DEL",   "/MEMO:text", "/S:*", "/FIELDS",
                                                  "/S:*",   "/SUM:*",   "/BROWSE", "/AVG:*",    "/STRUCT"};
        std::vector<std::string> utf = console;
        utf.insert(utf.begin() + 1, "/UTF8");
        write_file(dir / "raw.con", run_rorarodi(dir, console).output);
        write_file(dir / "utf.con", run_rorarodi(dir, utf).output);
        files.push_back(".con");

        std::vector<std::string> arguments = {kind.codec};
        arguments.insert(arguments.end(), files.begin(), files.end());
        RunResult r = python(dir, kCompareScript, arguments);
        EXPECT_EQ(r.output, "") << kind.codec << " " << (kind.corpus ? kind.corpus : "");
        EXPECT_EQ(r.status, 0) << r.errors;
        if (kind.page == 866) {
            // Without /UTF8 the bytes are as they always were: the table's own bytes in
            // CSV, its ANSI form in HTML and references to byte values in XML.
            EXPECT_EQ(read_file(dir / "rawBROWSE.csv"),
                      in_page("ГОРОД,NAME,СУММА,NOTE\n\"Москва      \",\"Ёлка №1   \",12.50,\"Первая строка\nвторая ╬ <b>&\"\n"
                              "\"Тверь       \",\"O'Brien   \",,\"Ёж\"\n\"Тула        \",,-3.00,\n",
                              866));
            run_rorarodi(dir, {"t.dbf", "/OUT:plain.htm", "/S:NAME"});
            EXPECT_EQ(read_file(dir / "plain.htm"),
                      "<table width=\"100%\" border=\"1\" cellspacing=\"1\" cellpadding=\"1\">\n<tr valign=top><td>" +
                          in_page("Ёлка №1 ", 1251) +
                          "</td></tr>\n<tr valign=top><td>O'Brien </td></tr>\n<tr valign=top><td>&nbsp;</td></tr>\n"
                          "</table>\n");
            run_rorarodi(dir, {"t.dbf", "/OUT:plain.xml", "/RANGE:1", "/S:NAME"});
            EXPECT_EQ(read_file(dir / "plain.xml"),
                      "<?xml version=\"1.0\"?>\n<!-- Location: t.dbf -->\n   <Information>\n      <Record>\n"
                      "         <RecNo>1</RecNo>\n         <NAME>&#0240;&#0171;&#0170;&#0160; &#0252;1   </NAME>\n"
                      "      </Record>\n   </Information>\n\n");
            EXPECT_EQ(read_file(dir / "utfBROWSE.csv"),
                      "ГОРОД,NAME,СУММА,NOTE\n\"Москва      \",\"Ёлка №1   \",12.50,\"Первая строка\nвторая ╬ <b>&\"\n"
                      "\"Тверь       \",\"O'Brien   \",,\"Ёж\"\n\"Тула        \",,-3.00,\n");
        }
    }
}

TEST(Utf8, XmlParsesWithTheCyrillicNamesAndTexts) {
    if (!have_python()) GTEST_SKIP() << "python3 not installed";
    TempDir dir;
    write_page_table(dir, {866, "cp866", 0x65});
    // A control character that XML cannot hold becomes U+FFFD.
    std::string table = read_file(dir / "t.dbf");
    table.replace(table.find("O'Brien"), 1, "\x1B");
    write_file(dir / "t.dbf", table);
    run_rorarodi(dir, {"t.dbf", "/UTF8", "/DEL", "/MEMO:text", "/OUT:a.xml", "/S:*"});
    run_rorarodi(dir, {"t.dbf", "/UTF8", "/OUT:b.xml", "/STRUCT:b.xml"});
    RunResult r = python(dir, R"(import xml.dom.minidom as m
d = m.parse('a.xml')
for tag in ('ГОРОД', 'NAME', 'СУММА', 'NOTE'):
    print(tag, [e.firstChild.data if e.firstChild else '' for e in d.getElementsByTagName(tag)])
s = m.parse('b.xml')
print([e.firstChild.data for e in s.getElementsByTagName('Field_Name')])
)");
    EXPECT_EQ(r.output,
              "ГОРОД ['Москва      ', 'Тверь       ', 'Тула        ']\n"
              "NAME ['Ёлка №1   ', \"\uFFFD'Brien   \", '          ']\n"
              "СУММА ['12.500000', '', '-3']\n"
              "NOTE ['Первая строка&#xD;&#xA;вторая ╬ <b>&', 'Ёж', '']\n"
              "['ГОРОД', 'NAME', 'СУММА', 'NOTE']\n");
    EXPECT_EQ(r.status, 0) << r.errors;
}

TEST(Utf8, FilterAndAssignmentsTypedInUtf8) {
    TempDir dir;
    write_page_table(dir, {866, "cp866", 0x65});
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/F:ГОРОД=Москва", "/COUNT"}).output, "1\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/CASE", "/F:ГОРОД~ТВЕ", "/S:NAME"}).output, "O'Brien   \n");
    // Typed before /UTF8, or without it, the text is taken as the table's bytes.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/F:ГОРОД=Москва", "/UTF8", "/COUNT"},
                           "rorarodi: the condition ГОРОД=Москва names no field of t.dbf\n").output, "0\n");
    // Field texts of a table not marked ANSI are compared in their ANSI form, the
    // typed text too; a table marked ANSI compares its own bytes.
    write_page_table(dir, {1251, "cp1251", 0xC9}, "u");
    for (const char* ansi : {"/OEM", "/ANSI"}) {
        EXPECT_EQ(run_rorarodi(dir, {"u.dbf", ansi, "/UTF8", "/F:МІСТО=Київ", "/COUNT"}).output, "1\n") << ansi;
        EXPECT_EQ(run_rorarodi(dir, {"u.dbf", ansi, "/UTF8", "/CASE", "/F:NAME~'€ 5 №'", "/COUNT"}).output, "1\n");
    }
    EXPECT_EQ(run_rorarodi(dir, {"u.dbf", "/ANSI", "/UTF8", "/F:МІСТО>Київ", "/S:NAME"}).output, "a,\"b      \n");

    // A character 866 lacks becomes '?'; the table receives 866 bytes.
    RunResult update = run_rorarodi(
        dir, {"t.dbf", "/UTF8", "/FIELD:ГОРОД=Zürich;NAME='Ёжик'", "/F:ГОРОД=Т", "/UPDATE"});
    EXPECT_EQ(update.output, "");
    const std::string table = read_file(dir / "t.dbf");
    EXPECT_NE(table.find("Z?rich      " + in_page("Ёжик      ", 866)), std::string::npos);
    EXPECT_NE(table.find(in_page("Москва      Ёлка №1   ", 866)), std::string::npos);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/RANGE:2-3", "/S:*"}).output,
              "Z?rich      |Ёжик      |    0.00|Full memo \nZ?rich      |Ёжик      |   -3.00|Empty memo\n");
    // /APPEND applies the assignments given under /UTF8 to the record buffer.
    run_rorarodi(dir, {"t.dbf", "/UTF8", "/FIELD:NAME=Ёж", "/APPEND"});
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/RANGE:4", "/S:NAME"}).output, "Ёж        \n");

    // /UTF8 is a setting stored without a traced handler, like /2ANSI and /2OEM.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/UTF8", "/2OEM"}).output,
              "Processing of parameter [/UTF8]\nProcessing of parameter [/2OEM]\n");
}

TEST(Utf8, TheMarkChoosesThePageBeforeTheCodePagesPair) {
    struct Case {
        uint8_t mark;
        std::vector<std::string> settings;
        const char* shown;  // byte 0xE9 in UTF-8
    };
    const Case cases[] = {
        {0x00, {}, "щ"},                                    // the pair's OEM page, 866
        {0x00, {"/ANSI"}, "й"},                             // its ANSI page, 1251
        {0x00, {"/CodePages=850,1252"}, "Ú"},
        {0x00, {"/CodePages=850,1252", "/ANSI"}, "é"},
        {0xC9, {"/CodePages=850,1252"}, "й"},               // 1251 by the mark
        {0x01, {"/ANSI"}, "Θ"},                             // 437 by the mark
        {0x03, {}, "é"},                                    // 1252 by the mark
        {0x69, {}, "щ"},                                    // a page this program does not know
    };
    for (const Case& c : cases) {
        TempDir dir;
        TableLayout layout;
        layout.code_page_mark = c.mark;
        layout.fields = {{"X", 'C', 1}};
        layout.records = {make_record(layout, {"\xE9"})};
        write_file(dir / "t.dbf", build_table(layout));
        std::vector<std::string> arguments = {"t.dbf"};
        arguments.insert(arguments.end(), c.settings.begin(), c.settings.end());
        arguments.insert(arguments.end(), {"/UTF8", "/S:X"});
        EXPECT_EQ(run_rorarodi(dir, arguments).output, std::string(c.shown) + "\n") << int(c.mark);
    }
    // The page follows the mark as /CPZERO changes it.
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"X", 'C', 1}};
    layout.records = {make_record(layout, {"\xE9"})};
    write_file(dir / "t.dbf", build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/S:X", "/CPZERO:201", "/S:X"}).output, "щ\nй\n");
}

TEST(Utf8, TablesAndComparisonsKeepTheirBytes) {
    TempDir dir;
    write_page_table(dir, {866, "cp866", 0x65});
    // Table output stores the table's own bytes: /UTF8 replaces /2ANSI and writes
    // no UTF-8 into a table, nor into a structure table.
    run_rorarodi(dir, {"t.dbf", "/MEMO:text", "/OUT:a.dbf", "/S:*", "/STRUCT:sa.dbf"});
    run_rorarodi(dir, {"t.dbf", "/UTF8", "/2ANSI", "/MEMO:text", "/OUT:b.dbf", "/S:*", "/STRUCT:sb.dbf"});
    EXPECT_EQ(read_file(dir / "a.dbf"), read_file(dir / "b.dbf"));
    EXPECT_EQ(read_file(dir / "a.fpt"), read_file(dir / "b.fpt"));
    EXPECT_EQ(read_file(dir / "sa.dbf"), read_file(dir / "sb.dbf"));
    EXPECT_NE(read_file(dir / "sa.dbf").find(in_page("ГОРОД", 866)), std::string::npos);

    // /CMP shows each table's names and texts in UTF-8, columns counted in characters.
    write_page_table(dir, {1251, "cp1251", 0xC9}, "u");
    RunResult r = run_rorarodi(dir, {"t.dbf", "/UTF8", "/CMP:u.dbf", "/CMP:sc"});
    EXPECT_EQ(r.output,
              "ГОРОД       Character      12     |--| -                             \n"
              "NAME        Character      10     |==| NAME        Character      10   \n"
              "СУММА       Numeric         8  2  |--| -                             \n"
              "NOTE        Memo           10     |--| -                             \n"
              "-                                 |--| МІСТО       Character      12   \n"
              "-                                 |--| СУМА        Numeric         8  2\n"
              "  t.dbf            0: NAME       (C) 'Ёлка №1'\n"
              "<>u.dbf            0: NAME       (C) '€ 5 №7'\n"
              "\n"
              "  t.dbf            1: NAME       (C) 'O'Brien'\n"
              "<>u.dbf            1: NAME       (C) 'a,\"b'\n"
              "\n"
              "EOF found: u.dbf\n");
}

TEST(Utf8, DoubleByteTablesKeepCharactersWholeAndTakeUtf8Input) {
    TempDir dir;
    TableLayout layout;
    layout.code_page_mark = 0x7A;
    // 5 bytes end inside the third character of 中文字; 誥 is D5 61, 誂 D5 41.
    layout.fields = {{in_page("名字", 936), 'C', 5}, {"CITY", 'C', 6}};
    for (const auto& [name, city] : {std::pair{in_page("中文字", 936).substr(0, 5), "誥"}, {"abc", "誂"}, {"x", "上海"}})
        layout.records.push_back(make_record(layout, {name, in_page(city, 936)}));
    write_file(dir / "t.dbf", build_table(layout));
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/HDR", "/S:*"}).output,
              "名字 |CITY  \n中文\uFFFD|誥    \nabc  |誂    \nx    |上海  \n");
    // /CASE changes no second byte: 誥 stays apart from 誂, in keys and filters.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/CASE", "/ORDER:CITY", "/S:CITY", "/F:CITY=誥", "/COUNT"}).output,
              "上海  \n誂    \n誥    \n1\n");
    run_rorarodi(dir, {"t.dbf", "/UTF8", "/FIELD:名字=广州;CITY=UPPER(CITY)", "/F:名字=abc;CITY=誥", "/UPDATE"});
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/UTF8", "/S:名字,CITY"}).output, "广州 |誥    \n广州 |誂    \nx    |上海  \n");
    EXPECT_NE(read_file(dir / "t.dbf").find(in_page("广州 誂", 936)), std::string::npos);

    // Memo pieces end between characters: the first piece here ends inside one.
    std::string memo = "a";
    for (int i = 0; i < 400; ++i) memo += "中";
    std::vector<uint32_t> blocks;
    write_file(dir / "m.fpt", build_foxpro_memo({in_page(memo, 936)}, blocks));
    TableLayout memo_table;
    memo_table.version = 0xF5;
    memo_table.code_page_mark = 0x7A;
    memo_table.fields = {{"NOTE", 'M', 10}};
    memo_table.records = {make_record(memo_table, {memo_reference_text(blocks[0])})};
    write_file(dir / "m.dbf", build_table(memo_table));
    EXPECT_EQ(run_rorarodi(dir, {"m.dbf", "/UTF8", "/MEMO:text", "/S:NOTE"}).output, memo + "\n");

    // Field lists typed in UTF-8 find the names of a single-byte page too.
    write_page_table(dir, {866, "cp866", 0x65}, "c");
    EXPECT_EQ(run_rorarodi(dir, {"c.dbf", "/UTF8", "/ORDER:ГОРОД", "/S:ГОРОД;NAME", "/SUM:СУММА"}).output,
              "Москва      |Ёлка №1   \nТверь       |O'Brien   \nТула        |          \n"
              "    9.50|\n");
}

// The exports make room for a record's UTF-8 form before converting into it: values
// whose every byte takes three bytes in UTF-8 (╬ is CE in 866), in a field wider
// than 255 and in one of one byte, fill it exactly.
TEST(Utf8, WidestFormsFitTheRoomOfTheRecord) {
    TempDir dir;
    TableLayout layout;
    layout.code_page_mark = 0x65;
    layout.fields = {{"WIDE", 'C', 300}, {"N", 'N', 3}, {"ONE", 'C', 1}, {"L", 'L', 1}};
    layout.records = {make_record(layout, {std::string(300, '\xCE'), "7", "\xCE", "\xCE"}),
                      make_record(layout, {std::string(299, '\xCE') + "\"", "", "", "T"})};
    write_file(dir / "w.dbf", build_table(layout));
    std::string cross;
    for (int i = 0; i < 300; ++i) cross += "╬";
    const std::string almost = cross.substr(0, cross.size() - 3);
    run_rorarodi(dir, {"w.dbf", "/UTF8", "/OUT:w.csv", "/S:*"});
    EXPECT_EQ(read_file(dir / "w.csv"), "\"" + cross + "\",7,\"╬\",╬\n\"" + almost + "\"\"\",,,T\n");
    run_rorarodi(dir, {"w.dbf", "/OUT:w.jsonl", "/S:*"});
    EXPECT_EQ(read_file(dir / "w.jsonl"), "{\"WIDE\":\"" + cross + "\",\"N\":7,\"ONE\":\"╬\",\"L\":null}\n{\"WIDE\":\"" +
                                              almost + "\\\"\",\"N\":null,\"ONE\":\"\",\"L\":true}\n");
    run_rorarodi(dir, {"w.dbf", "/SQL:postgres", "/OUT:w.sql", "/S:*"});
    const std::string copy = read_file(dir / "w.sql");
    EXPECT_EQ(copy.substr(copy.find("stdin;\n")), "stdin;\n" + cross + "\t7\t╬\t\\N\n" + almost + "\"\t\\N\t\tt\n\\.\n\n");
}

} // namespace
