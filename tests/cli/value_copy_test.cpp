#include <gtest/gtest.h>

#include <cstring>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// The record bytes of a table file, after its header.
std::string records_of(const std::string& file) {
    const size_t header = static_cast<uint8_t>(file.at(8)) | (static_cast<uint8_t>(file.at(9)) << 8);
    const size_t length = static_cast<uint8_t>(file.at(10)) | (static_cast<uint8_t>(file.at(11)) << 8);
    const size_t count = static_cast<uint8_t>(file.at(4)) | (static_cast<uint8_t>(file.at(5)) << 8);
    return file.substr(header, count * length);
}

TableLayout with_fields(std::vector<FieldLayout> fields) {
    TableLayout layout;
    layout.version = 0x30;
    layout.extra_header = 263;
    layout.fields = std::move(fields);
    return layout;
}

// The records with the byte of their null flags (after the 8-byte STAMP) clear:
// bits that belong to no field are not copied.
std::string without_spare_bits(std::string records, size_t length) {
    for (size_t at = 9; at < records.size(); at += length) records[at] = '\0';
    return records;
}

// Append from a table, the table output and /MODIFY carry values alike: fields of
// the same shape as stored, numbers into another shape with the decimals that fit.
TEST(ValueCopies, AllThreeCarryTheSameBytes) {
    TableLayout source = with_fields({{"STAMP", '@', 8}, {"_NullFlags", '0', 1}, {"AREA", 'N', 13, 6},
                                      {"OK", 'L', 1}, {"CASH", 'Y', 8}, {"QTY", 'N', 4}});
    source.records = {make_record(source, {"\x01\x02\x03\x04\x05\x06\x07\x08", "\x05", "6871735.43750", "?",
                                           "\x10\x27\0\0\0\0\0\0", "7"}),
                      make_record(source, {"", "\x02", "-1.5", "T", "", ""}, true)};
    const std::string original = build_table(source);

    TableLayout other = with_fields({{"STAMP", '@', 8}, {"_NullFlags", '0', 1}, {"AREA", 'N', 10, 4},
                                     {"OK", 'L', 1}, {"CASH", 'Y', 8}, {"QTY", 'N', 4}});
    const std::string& r0 = source.records[0];
    const std::string& r1 = source.records[1];
    const std::string expected_other = r0.substr(0, 10) + "6871735.44" + r0.substr(23);
    const std::string second_other = r1.substr(0, 10) + "   -1.5000" + r1.substr(23);

    struct Case {
        const TableLayout* target;
        const char* structure;  // the /MODIFY entries that give the target's shape
        std::string records;
    } cases[] = {
        {&source, "AREA N 13 6\n", without_spare_bits(source.records[0] + source.records[1], 36)},
        {&other, "AREA N 10 4\n", without_spare_bits(expected_other + second_other, 33)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.structure);
        TempDir dir;
        write_file(dir / "t.dbf", original);
        TableLayout empty = *c.target;
        empty.records.clear();
        write_file(dir / "a.dbf", build_table(empty));
        write_file(dir / "o.dbf", build_table(empty));
        write_file(dir / "s.txt", c.structure);
        EXPECT_EQ(run_rorarodi(dir, {"a.dbf", "+t.dbf"}).status, 0);
        EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/OUT:o.dbf", "/DELETED", "/S:*"}).status, 0);
        EXPECT_EQ(records_of(read_file(dir / "a.dbf")), c.records);
        EXPECT_EQ(records_of(read_file(dir / "o.dbf")), c.records);
        EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt"}).status, 0);
        EXPECT_EQ(records_of(read_file(dir / "t.dbf")), c.records);
    }

    // A table appended to itself holds its records twice, the copies with the bits
    // of `_NullFlags` that belong to no field cleared.
    TempDir dir;
    write_file(dir / "t.dbf", original);
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "+t.dbf"}).status, 0);
    EXPECT_EQ(records_of(read_file(dir / "t.dbf")),
              records_of(original) + without_spare_bits(records_of(original), 36));
}

// Visual FoxPro null and length bits are computed for the target's fields: a V
// value keeps its length in a wider field or another bit, a null stays null in a
// nullable field and becomes the empty value in another.
TEST(ValueCopies, NullAndLengthBitsOfTheTarget) {
    TableLayout source;
    source.version = 0x30;
    source.extra_header = 263;
    // Bits: NAME null 0, VC length 1 and null 2, VB length 3, QTY null 4.
    source.fields = {{"NAME", 'C', 6, 0, 0x02}, {"VC", 'V', 8, 0, 0x02}, {"VB", 'Q', 4},
                     {"QTY", 'N', 8, 0, 0x02}, {"_NullFlags", '0', 1, 0, 0x05}};
    source.records = {make_record(source, {"ab", "xyz    \x03", "\x01\x02\x03\x04", "1.5", "\x02"}),
                      make_record(source, {"old", "oldvalu\x07", std::string("\x09\0\0\x01", 4), "7", "\x1D"})};
    TempDir dir;
    write_file(dir / "t.dbf", build_table(source));
    // A new output: bits VC length 0 and null 1, QTY null 2, NAME null 3, VB length 4.
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/OUT:o.dbf", "/S:VC,QTY,NAME,VB"}).status, 0);
    EXPECT_EQ(records_of(read_file(dir / "o.dbf")),
              std::string(" xyz    \x03     1.5ab    \x01\x02\x03\x04\x01", 28) +
                  std::string(16, ' ') + "7" + std::string(6, ' ') + std::string("\x09\0\0\x01\x1E", 5));
    // NAME and VC redefined lose their null flag: bits NAME length 0, VC length 1,
    // VB length 2, QTY null 3.
    write_file(dir / "s.txt", "VC V 10\nNAME V 6\n");
    EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/MODIFY:s.txt"}).status, 0);
    EXPECT_EQ(records_of(read_file(dir / "t.dbf")),
              std::string(" ab    xyz      \x03\x01\x02\x03\x04     1.5\x02", 30) +
                  std::string("      \0         \0\x09\0\0\x01       7\x0F", 30));
}

// A double shown through a character field keeps its integer digits: its whole
// text, the shortest exact form, its text cut after the integer part, or stars.
TEST(ValueCopies, NumbersIntoTextKeepTheirIntegerDigits) {
    TempDir dir;
    TableLayout source = with_fields({{"BIG", 'B', 8}, {"HUGE", 'B', 8}, {"PI", 'B', 8}});
    source.records = {make_record(source, {double_bytes(1e40), double_bytes(1e40), double_bytes(3.14159265)})};
    write_file(dir / "t.dbf", build_table(source));
    TableLayout narrow;
    narrow.fields = {{"HUGE", 'C', 4}, {"PI", 'C', 4}};
    write_file(dir / "n.dbf", build_table(narrow));
    run_rorarodi(dir, {"t.dbf", "/TYPE:db3", "/OUT:wide.dbf", "/S:BIG", "/OUT:n.dbf", "/S:*"});
    EXPECT_EQ(records_of(read_file(dir / "wide.dbf")), " 1e+40" + std::string(27, ' '));
    EXPECT_EQ(records_of(read_file(dir / "n.dbf")), " ****3.14");
}

} // namespace
