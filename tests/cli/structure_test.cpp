#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// FoxPro table with a wide character field, numbers with and without decimals,
// logical, memo, dates with decimals 8 and 0, and names of 9 and 10 characters.
TableLayout mixed_table() {
    TableLayout layout;
    layout.version = 0xF5;
    layout.fields = {{"NAME", 'C', 300},      {"PRICE", 'N', 10, 2},   {"QTY", 'N', 8, 0},
                   {"AMOUNT", 'F', 12, 3},  {"ACTIVE", 'L', 1},      {"NOTE", 'M', 10},
                   {"BORN", 'D', 8, 8},     {"SHIPPED", 'D', 8, 0},  {"NINE_CHAR", 'N', 5, 0},
                   {"TEN_CHARSX", 'C', 4}};
    layout.records = {make_record(layout, {"Widget", "12.50", "3", "1.250", "T", "", "20160229", "20160301", "7", "ab"})};
    return layout;
}

// Visual FoxPro table with the binary, currency, date-time and integer types.
TableLayout vfp_table() {
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.year = 124;
    layout.month = 12;
    layout.day = 5;
    layout.fields = {{"RATE", 'B', 8, 2},  {"RAW", 'B', 8, 0},    {"PHOTO", 'B', 10}, {"CASH", 'Y', 8},
                   {"STAMP", 'T', 8},    {"COUNTER", 'I', 4},   {"PIC", 'G', 4}};
    return layout;
}

// Level 7 table whose names are longer than the 10 characters of the other kinds.
TableLayout level7_table() {
    TableLayout layout;
    layout.version = 0x04;
    layout.level7 = true;
    layout.fields = {{"CUSTOMER_NUMBER", 'C', 20}, {"A_VERY_LONG_FIELD_NAME_OF_31_CH", 'N', 12, 4}, {"OK", 'L', 1}};
    return layout;
}

TableLayout forty_fields_table() {
    TableLayout layout;
    for (int i = 1; i <= 40; ++i) layout.fields.push_back({"F" + std::to_string(i), 'C', 1});
    return layout;
}

std::string info_block(const std::string& name, const std::string& type, const std::string& date, size_t file_size,
                       const std::string& header, const std::string& records, const std::string& fields,
                       const std::string& length) {
    return "\nDatabase name\t\t:\t" + name + "\nType\t\t\t:\t" + type + "\nLast updated (m-d-y)\t:\t" + date +
           "\nFile size\t\t:\t" + std::to_string(file_size) + "\nHeader size\t\t:\t" + header +
           "\nRecord count\t\t:\t" + records + "\nField count\t\t:\t" + fields + "\nRecord length\t\t:\t" + length +
           "\n\nName        Type          Length\n";
}

std::string mixed_listing(size_t file_size) {
    return info_block("mixed.dbf", "FoxPro", "02-29-2016", file_size, "       353", "         1", "        10",
                      "       367") +
           "NAME        Character      44\n"
           "PRICE       Numeric        10  2\n"
           "QTY         Numeric         8  0\n"
           "AMOUNT      Float          12  3\n"
           "ACTIVE      Logical         1\n"
           "NOTE        Memo           10\n"
           "BORN        Date            8  8\n"
           "SHIPPED     Date            8\n"
           "NINE_CHAR   Numeric         5  0\n"
           "TEN_CHARSX  Character       4\n";
}

std::string level7_listing(size_t file_size) {
    return info_block("l7.dbf", "Unknown", "02-29-2016", file_size, "       213", "         0", "         3",
                      "        34") +
           "CUSTOMER_NUMBER Character      20\n"
           "A_VERY_LONG_FIELD_NAME_OF_31_CH Numeric        12  4\n"
           "OK          Logical         1\n";
}

std::string vfp_listing(size_t file_size) {
    return info_block("vfp.dbf", "Visual FoxPro", "12-05-2024", file_size, "       520", "         0", "         7",
                      "        51") +
           "RATE        Double          8\n"
           "RAW         Double          8\n"
           "PHOTO       Binary         10\n"
           "CASH        Currency        8\n"
           "STAMP       DateTime        8\n"
           "COUNTER     Integer         4\n"
           "PIC         General         4\n";
}

std::string xml_field(const std::string& name, const std::string& type, const std::string& length,
                      const std::string& decimals) {
    auto number = [](const std::string& element, const std::string& value) {
        return value.empty() ? "<" + element + "/>" : "<" + element + ">" + value + "</" + element + ">";
    };
    return "      <Field>\n         <Field_Name>" + name + "</Field_Name>\n         <Field_Type>" + type +
           "</Field_Type>\n         " + number("Field_Len", length) + "\n         " + number("Field_Dec", decimals) +
           "\n      </Field>\n";
}

std::string xml_document(const std::string& table, const std::string& fields) {
    return "<?xml version=\"1.0\"?>\n<!-- Location: " + table + " -->\n   <Structure>\n" + fields +
           "   </Structure>\n\n";
}

// The structure table's fixed 193-byte header for `count` listed fields.
std::string structure_table_header(uint32_t count) {
    auto descriptor = [](const std::string& name, char type, uint32_t offset, uint8_t length) {
        return name + std::string(11 - name.size(), '\0') + type + le32(offset) + static_cast<char>(length) +
               std::string(15, '\0');
    };
    return std::string("\x03\x64\x09\x0d", 4) + le32(count) + le16(193) + le16(50) + std::string(20, '\0') +
           descriptor("FIELD_NAME", 'C', 1, 10) + descriptor("FIELD_TYPE", 'C', 11, 1) +
           descriptor("FIELD_LEN", 'N', 12, 3) + descriptor("FIELD_DEC", 'N', 15, 3) +
           descriptor("DESCRIPT", 'C', 18, 32) + "\x0d";
}

// A structure record: the 18 bytes of values, filled with spaces to 50.
std::string structure_record(const std::string& values) { return values + std::string(50 - values.size(), ' '); }

struct FormatCase {
    std::string table;
    std::vector<std::string> parameters;
    std::string file;
    std::string expected;
};

TEST(Structure, EveryFormatOfSeveralKinds) {
    TempDir dir;
    std::string mixed = build_table(mixed_table());
    std::string vfp = build_table(vfp_table());
    std::string level7 = build_table(level7_table());
    write_file(dir / "mixed.dbf", mixed);
    write_file(dir / "vfp.dbf", vfp);
    write_file(dir / "l7.dbf", level7);

    const FormatCase cases[] = {
        {"mixed.dbf", {"/STRUCT:m.txt"}, "m.txt", mixed_listing(mixed.size())},
        {"mixed.dbf", {"/STRUCT:m.sql"}, "m.sql",
         "CREATE TABLE \"mixed.dbf\" (\n"
         "\tNAME        Character(44),\n"
         "\tPRICE       Numeric(10,2),\n"
         "\tQTY         Numeric(8),\n"
         "\tAMOUNT      Float(12,3),\n"
         "\tACTIVE      Boolean,\n"
         "\tNOTE        Blob(0,1),\n"
         "\tBORN        DateTime,\n"
         "\tSHIPPED     DateTime,\n"
         "\tNINE_CHAR   Numeric(5),\n"
         "\tTEN_CHARSX  Character(4)\n"
         "\t);\n\n"},
        {"mixed.dbf", {"/SQL2000", "/STRUCT:M2.SQL"}, "M2.SQL",
         "CREATE TABLE \"mixed.dbf\" (\n"
         "\tNAME        Character(44),\n"
         "\tPRICE       Numeric(10,2),\n"
         "\tQTY         Numeric(8),\n"
         "\tAMOUNT      Float(12,3),\n"
         "\tACTIVE      Bit,\n"
         "\tNOTE        Text,\n"
         "\tBORN        DateTime,\n"
         "\tSHIPPED     DateTime,\n"
         "\tNINE_CHAR   Numeric(5),\n"
         "\tTEN_CHARSX  Character(4)\n"
         "\t);\n\n"},
        {"mixed.dbf", {"/STRUCT:m.prg"}, "m.prg",
         "DBCREATE(\"mixed.dbf\", {;\n"
         "\t{ \"NAME\",        \"C\",  44,   1 },;\n"
         "\t{ \"PRICE\",       \"N\",  10,   2 },;\n"
         "\t{ \"QTY\",         \"N\",   8,   0 },;\n"
         "\t{ \"AMOUNT\",      \"F\",  12,   3 },;\n"
         "\t{ \"ACTIVE\",      \"L\",   1,   0 },;\n"
         "\t{ \"NOTE\",        \"M\",  10,   0 },;\n"
         "\t{ \"BORN\",        \"D\",   8,   8 },;\n"
         "\t{ \"SHIPPED\",     \"D\",   8,   0 },;\n"
         "\t{ \"NINE_CHAR\",   \"N\",   5,   0 },;\n"
         "\t{ \"TEN_CHARSX\",  \"C\",   4,   0 },;\n"
         "\t})\n\n"},
        {"mixed.dbf", {"/STRUCT:m.fox"}, "m.fox",
         "CREATE TABLE \"mixed.dbf\" ( ;\n"
         "\tNAME        C(44), ;\n"
         "\tPRICE       N(10,2), ;\n"
         "\tQTY         N(8), ;\n"
         "\tAMOUNT      F(12,3), ;\n"
         "\tACTIVE      L, ;\n"
         "\tNOTE        M, ;\n"
         "\tBORN        D, ;\n"
         "\tSHIPPED     D, ;\n"
         "\tNINE_CHAR   N(5), ;\n"
         "\tTEN_CHARSX  C(4) ;\n"
         "\t)\n\n"},
        {"mixed.dbf", {"/STRUCT:m.xml"}, "m.xml",
         xml_document("mixed.dbf", xml_field("NAME", "Character", "300", "1") +
                                       xml_field("PRICE", "Numeric", "10", "2") +
                                       xml_field("QTY", "Numeric", "8", "") + xml_field("AMOUNT", "Float", "12", "3") +
                                       xml_field("ACTIVE", "Logical", "1", "") + xml_field("NOTE", "Memo", "10", "") +
                                       xml_field("BORN", "Date", "8", "8") + xml_field("SHIPPED", "Date", "8", "") +
                                       xml_field("NINE_CHAR", "Numeric", "5", "") +
                                       xml_field("TEN_CHARSX", "Character", "4", ""))},
        {"mixed.dbf", {"/STRUCT:m.dbf"}, "m.dbf",
         structure_table_header(10) + structure_record(" NAME      C 44  1") +
             structure_record(" PRICE     N 10  2") + structure_record(" QTY       N  8  0") +
             structure_record(" AMOUNT    F 12  3") + structure_record(" ACTIVE    L  1  0") +
             structure_record(" NOTE      M 10  0") + structure_record(" BORN      D  8  8") +
             structure_record(" SHIPPED   D  8  0") + structure_record(" NINE_CHAR N  5  0") +
             structure_record(" TEN_CHARSXC  4  0")},

        {"vfp.dbf", {"/STRUCT:v.txt"}, "v.txt", vfp_listing(vfp.size())},
        {"vfp.dbf", {"/STRUCT:v.sql"}, "v.sql",
         "CREATE TABLE \"vfp.dbf\" (\n"
         "\tRATE        Numeric(20,2),\n"
         "\tRAW         Numeric(20),\n"
         "\tPHOTO       Blob(0,2),\n"
         "\tCASH        Money,\n"
         "\tSTAMP       DateTime,\n"
         "\tCOUNTER     Integer,\n"
         "\tPIC         General\n"
         "\t);\n\n"},
        {"vfp.dbf", {"/SQL2000", "/STRUCT:v2.sql"}, "v2.sql",
         "CREATE TABLE \"vfp.dbf\" (\n"
         "\tRATE        Numeric(20,2),\n"
         "\tRAW         Numeric(20),\n"
         "\tPHOTO       Text,\n"
         "\tCASH        Money,\n"
         "\tSTAMP       DateTime,\n"
         "\tCOUNTER     Integer,\n"
         "\tPIC         General\n"
         "\t);\n\n"},
        {"vfp.dbf", {"/STRUCT:v.fox"}, "v.fox",
         "CREATE TABLE \"vfp.dbf\" ( ;\n"
         "\tRATE        B, ;\n"
         "\tRAW         B, ;\n"
         "\tPHOTO       B, ;\n"
         "\tCASH        Y, ;\n"
         "\tSTAMP       T, ;\n"
         "\tCOUNTER     I, ;\n"
         "\tPIC         G ;\n"
         "\t)\n\n"},
        {"vfp.dbf", {"/STRUCT:v.xml"}, "v.xml",
         xml_document("vfp.dbf", xml_field("RATE", "Double", "8", "2") + xml_field("RAW", "Double", "8", "") +
                                     xml_field("PHOTO", "Binary", "10", "") + xml_field("CASH", "Currency", "8", "") +
                                     xml_field("STAMP", "DateTime", "8", "") +
                                     xml_field("COUNTER", "Integer", "4", "") + xml_field("PIC", "General", "4", ""))},

        {"l7.dbf", {"/STRUCT:l.txt"}, "l.txt", level7_listing(level7.size())},
        {"l7.dbf", {"/STRUCT:l.sql"}, "l.sql",
         "CREATE TABLE \"l7.dbf\" (\n"
         "\tCUSTOMER_NUMBER Character(20),\n"
         "\tA_VERY_LONG_FIELD_NAME_OF_31_CH Numeric(12,4),\n"
         "\tOK          Boolean\n"
         "\t);\n\n"},
        {"l7.dbf", {"/STRUCT:l.prg"}, "l.prg",
         "DBCREATE(\"l7.dbf\", {;\n"
         "\t{ \"CUSTOMER_NUMBER\",  \"C\",  20,   0 },;\n"
         "\t{ \"A_VERY_LONG_FIELD_NAME_OF_31_CH\",  \"N\",  12,   4 },;\n"
         "\t{ \"OK\",          \"L\",   1,   0 },;\n"
         "\t})\n\n"},
        {"l7.dbf", {"/STRUCT:l.fox"}, "l.fox",
         "CREATE TABLE \"l7.dbf\" ( ;\n"
         "\tCUSTOMER_NUMBER C(20), ;\n"
         "\tA_VERY_LONG_FIELD_NAME_OF_31_CH N(12,4), ;\n"
         "\tOK          L ;\n"
         "\t)\n\n"},
        {"l7.dbf", {"/STRUCT:l.xml"}, "l.xml",
         xml_document("l7.dbf", xml_field("CUSTOMER_NUMBER", "Character", "20", "") +
                                    xml_field("A_VERY_LONG_FIELD_NAME_OF_31_CH", "Numeric", "12", "4") +
                                    xml_field("OK", "Logical", "1", ""))},
        // Names longer than the FIELD_NAME column keep their first 10 characters.
        {"l7.dbf", {"/STRUCT:l.dbf"}, "l.dbf",
         structure_table_header(3) + structure_record(" CUSTOMER_NC 20  0") +
             structure_record(" A_VERY_LONN 12  4") + structure_record(" OK        L  1  0")},
    };
    for (const FormatCase& c : cases) {
        std::vector<std::string> arguments{c.table};
        arguments.insert(arguments.end(), c.parameters.begin(), c.parameters.end());
        RunResult r = run_rorarodi(dir, arguments);
        EXPECT_EQ(r.output, "") << c.file;
        EXPECT_EQ(r.status, 0) << c.file;
        EXPECT_EQ(read_file(dir / c.file), c.expected) << c.file;
    }
}

TEST(Structure, ConsoleListing) {
    TempDir dir;
    std::string mixed = build_table(mixed_table());
    std::string level7 = build_table(level7_table());
    write_file(dir / "mixed.dbf", mixed);
    write_file(dir / "l7.dbf", level7);

    RunResult r = run_rorarodi(dir, {"mixed.dbf", "l7.dbf", "/STRUCT"});
    EXPECT_EQ(r.output, mixed_listing(mixed.size()) + level7_listing(level7.size()));
    EXPECT_EQ(r.status, 0);

    // Text after the keyword that does not begin with ':' still means the console.
    r = run_rorarodi(dir, {"mixed.dbf", "/STRUCTURE"});
    EXPECT_EQ(r.output, mixed_listing(mixed.size()));
}

TEST(Structure, TextFormatsAppendOverMatchedFiles) {
    TempDir dir;
    TableLayout first;
    first.fields = {{"ID", 'N', 4}};
    TableLayout second;
    second.fields = {{"CODE", 'C', 3}, {"DONE", 'L', 1}};
    write_file(dir / "a.dbf", build_table(first));
    write_file(dir / "b.dbf", build_table(second));
    write_file(dir / "all.sql", "-- earlier\n");

    RunResult r = run_rorarodi(dir, {"*.dbf", "/STRUCT:all.sql"});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(read_file(dir / "all.sql"),
              "-- earlier\n"
              "CREATE TABLE \"a.dbf\" (\n\tID          Numeric(4)\n\t);\n\n"
              "CREATE TABLE \"b.dbf\" (\n\tCODE        Character(3),\n\tDONE        Boolean\n\t);\n\n");

    // A second run appends again.
    run_rorarodi(dir, {"a.dbf", "/STRUCT:all.fox", "/STRUCT:all.fox"});
    const std::string fox = "CREATE TABLE \"a.dbf\" ( ;\n\tID          N(4) ;\n\t)\n\n";
    EXPECT_EQ(read_file(dir / "all.fox"), fox + fox);
}

TEST(Structure, StructureTableIsReplacedAndReadable) {
    TempDir dir;
    std::string mixed = build_table(mixed_table());
    write_file(dir / "mixed.dbf", mixed);
    write_file(dir / "wide.dbf", build_table(forty_fields_table()));

    RunResult r = run_rorarodi(dir, {"wide.dbf", "/STRUCT:s.dbf"});
    EXPECT_EQ(r.status, 0);
    std::string forty = read_file(dir / "s.dbf");
    ASSERT_EQ(forty.size(), 193u + 40u * 50u);
    EXPECT_EQ(forty.substr(0, 193), structure_table_header(40));
    EXPECT_EQ(forty.substr(193, 50), structure_record(" F1        C  1  0"));
    EXPECT_EQ(forty.substr(193 + 39 * 50), structure_record(" F40       C  1  0"));

    // The second run leaves only the second table's structure.
    run_rorarodi(dir, {"mixed.dbf", "/STRUCT:s.dbf"});
    std::string ten = read_file(dir / "s.dbf");
    ASSERT_EQ(ten.size(), 193u + 10u * 50u);
    EXPECT_EQ(ten.substr(0, 193), structure_table_header(10));

    // The structure table is a table in its own right.
    r = run_rorarodi(dir, {"s.dbf", "/STRUCT"});
    EXPECT_EQ(r.output, info_block("s.dbf", "dBase III", "09-13-2000", ten.size(), "       193", "        10",
                                   "         5", "        50") +
                            "FIELD_NAME  Character      10\n"
                            "FIELD_TYPE  Character       1\n"
                            "FIELD_LEN   Numeric         3  0\n"
                            "FIELD_DEC   Numeric         3  0\n"
                            "DESCRIPT    Character      32\n");
}

TEST(Structure, InvalidFormatAndUncreatableFile) {
    TempDir dir;
    write_file(dir / "mixed.dbf", build_table(mixed_table()));

    for (const char* parameter : {"/STRUCT:list.doc", "/STRUCT:", "/STRUCT:.tx", "/STRUCT:sql", "/STRUCT:list.html"}) {
        RunResult r = run_rorarodi(dir, {"mixed.dbf", parameter});
        EXPECT_EQ(r.output, "Invalid output format...\n") << parameter;
        EXPECT_EQ(r.status, 2) << parameter;
    }
    EXPECT_FALSE(file_exists(dir / "list.doc"));

    for (const char* name : {"missing/s.txt", "missing/s.dbf"}) {
        RunResult r = run_rorarodi(dir, {"mixed.dbf", std::string("/STRUCT:") + name, "/STRUCT"});
        EXPECT_EQ(r.output, std::string("Can't create file: ") + name) << name;
        EXPECT_EQ(r.status, 1) << name;
    }

    // A structure table that cannot be written whole is reported like one that cannot
    // be created, and the file it was to replace stays.
    write_file(dir / "full.dbf", "older");
    RunResult full = run_command("/bin/sh", {"-c", "ulimit -f 0; trap '' XFSZ; exec ./rorarodi mixed.dbf /STRUCT:full.dbf"},
                                 dir.path());
    EXPECT_EQ(full.output, "Can't create file: full.dbf");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(read_file(dir / "full.dbf"), "older");

    // The open table is never overwritten by its own structure table.
    const std::string original = read_file(dir / "mixed.dbf");
    RunResult self = run_rorarodi(dir, {"mixed.dbf", "/STRUCT:MIXED.DBF"});
    EXPECT_EQ(self.status, 0);  // a different file: the name differs in letter case
    write_file(dir / "mixed.dbf", original);
    RunResult same = run_rorarodi(dir, {"mixed.dbf", "/STRUCT:./mixed.dbf"});
    EXPECT_EQ(same.output, "Can't create file: ./mixed.dbf");
    EXPECT_EQ(same.status, 1);
    EXPECT_EQ(read_file(dir / "mixed.dbf"), original);
}

TEST(Structure, ListingsToAFullDisk) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to stand in for a full disk";
    TempDir dir;
    write_file(dir / "mixed.dbf", build_table(mixed_table()));
    ASSERT_EQ(::symlink("/dev/full", (dir / "full.dbf").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/full", (dir / "full.txt").c_str()), 0);
    // A structure table never replaces what is not a regular file: that is reported
    // like a table that cannot be created, and the name stays as it was.
    RunResult table = run_rorarodi(dir, {"mixed.dbf", "/STRUCT:full.dbf", "/COUNT"});
    EXPECT_EQ(table.output, "Can't create file: full.dbf");
    EXPECT_EQ(table.status, 1);
    char target[32] = {};
    EXPECT_EQ(::readlink((dir / "full.dbf").c_str(), target, sizeof target - 1), 9);
    EXPECT_STREQ(target, "/dev/full");
    // A listing is reported as an export would be, and the run goes on.
    RunResult text = run_rorarodi(dir, {"mixed.dbf", "/STRUCT:full.txt", "/COUNT"});
    EXPECT_EQ(text.output, "Can't write full.txt\n1\n");
    EXPECT_EQ(text.status, 2);
}

TEST(Structure, VerboseTrace) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"ID", 'N', 4}};
    write_file(dir / "a.dbf", build_table(layout));
    write_file(dir / "b.dbf", build_table(layout));

    // Verbose comes on with the parameter, so the second file is traced from its INI file on.
    RunResult r = run_rorarodi(dir, {"a.dbf", "b.dbf", "/VERBOSE", "/STRUCT:s.txt", "/STRUCT:s.doc"});
    const std::string file_lines =
        "Processing of parameter [/STRUCT:s.txt]\nEnter Struct\nLeave Struct\n"
        "Processing of parameter [/STRUCT:s.doc]\nEnter Struct\nInvalid output format...\n";
    EXPECT_EQ(r.output, file_lines + "Processing INI-file " + (dir / "rorarodi.ini") +
                            "\nProcessing of command line\nProcessing of parameter [/VERBOSE]\n" + file_lines);
    EXPECT_EQ(r.status, 2);

    r = run_rorarodi(dir, {"a.dbf", "/VERBOSE", "/STRUCT:missing/s.xml"});
    EXPECT_EQ(r.output, "Processing of parameter [/STRUCT:missing/s.xml]\nEnter Struct\nCan't create file: missing/s.xml");
    EXPECT_EQ(r.status, 1);
}

// Path of an executable python3 in PATH, or empty.
std::string find_python() {
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "";
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::string candidate = directories.substr(start, end - start) + "/python3";
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

TEST(Structure, XmlListingParses) {
    std::string python = find_python();
    if (python.empty()) GTEST_SKIP() << "python3 not found";
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"A&B<C>", 'C', 5}, {"\xe9T", 'N', 6, 2}, {"WIDE", 'C', 300}, {"ON", 'L', 1}};
    write_file(dir / "odd.dbf", build_table(layout));
    RunResult r = run_rorarodi(dir, {"odd.dbf", "/STRUCT:odd.xml"});
    ASSERT_EQ(r.status, 0);

    // The listing has an XML declaration and no root element: drop the one, add the other.
    const std::string script =
        "import sys, xml.etree.ElementTree as ET\n"
        "data = open(sys.argv[1], 'rb').read().split(b'\\n', 1)[1]\n"
        "root = ET.fromstring(b'<root>' + data + b'</root>')\n"
        "for f in root.iter('Field'):\n"
        "    values = [f.find(t).text or '' for t in ('Field_Name', 'Field_Type', 'Field_Len', 'Field_Dec')]\n"
        "    sys.stdout.buffer.write(('|'.join(values) + '\\n').encode('utf-8'))\n";
    RunResult parsed = run_command(python, {"-c", script, dir / "odd.xml"}, dir.path());
    EXPECT_EQ(parsed.status, 0);
    EXPECT_EQ(parsed.output,
              "A&B<C>|Character|5|\n"
              "\xc3\xa9T|Numeric|6|2\n"
              "WIDE|Character|300|1\n"
              "ON|Logical|1|\n");
}

} // namespace
