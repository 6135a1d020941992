#include <gtest/gtest.h>

#include "cli_support.h"
#include "table/create.h"
#include "table/dbf_format.h"
#include "table/memo.h"
#include "table/table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

FieldDescriptor field(const std::string& name, char type, unsigned length, unsigned decimals = 0,
                      uint8_t carried = 0) {
    FieldDescriptor f;
    f.name = name;
    f.type = type;
    f.length = static_cast<uint8_t>(length);
    f.decimals = static_cast<uint8_t>(decimals);
    f.carried = carried;
    return f;
}

std::string zeros(size_t count) { return std::string(count, '\0'); }

// The date bytes a file created now carries (either side of midnight).
bool has_today(const std::string& bytes, const HeaderDate& before) {
    HeaderDate after = current_header_date();
    for (const HeaderDate& d : {before, after})
        if (static_cast<uint8_t>(bytes[1]) == d.year && static_cast<uint8_t>(bytes[2]) == d.month &&
            static_cast<uint8_t>(bytes[3]) == d.day)
            return true;
    return false;
}

// A 32-byte descriptor as a new standard table holds it.
std::string descriptor(const std::string& name, char type, uint16_t offset, uint8_t length, uint8_t decimals,
                       uint8_t carried = 0) {
    std::string d = name + zeros(11 - name.size()) + type + le16(offset) + zeros(2);
    d += static_cast<char>(length);
    d += static_cast<char>(decimals);
    d += zeros(2) + static_cast<char>(carried) + zeros(11);
    return d;
}

std::string header_tail(uint32_t header_length, uint32_t record_length, uint8_t flags = 0, uint8_t mark = 0) {
    return le32(0) + le16(static_cast<uint16_t>(header_length)) + le16(static_cast<uint16_t>(record_length)) +
           zeros(16) + static_cast<char>(flags) + static_cast<char>(mark) + zeros(2);
}

TEST(CreateTable, FoxProWithMemoByteForByte) {
    TempDir dir;
    std::vector<FieldDescriptor> fields = {field("NAME", 'C', 20), field("BORN", 'D', 10), field("NOTES", 'M', 4, 0, 7)};
    const std::vector<FieldDescriptor> original = fields;
    HeaderDate today = current_header_date();
    ASSERT_TRUE(create_table_file(dir / "t.dbf", fields, TableKind::foxpro, 256, true, 0x65));
    std::string bytes = read_file(dir / "t.dbf");
    ASSERT_EQ(bytes.size(), 129u);
    EXPECT_TRUE(has_today(bytes, today));
    std::string expected = std::string("\xF5", 1) + bytes.substr(1, 3) + header_tail(129, 39, 0, 0x65) +
                           descriptor("NAME", 'C', 1, 20, 0) + descriptor("BORN", 'D', 21, 8, 0) +
                           descriptor("NOTES", 'M', 29, 10, 0, 7) + "\x0D";
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(read_file(dir / "t.fpt"), zeros(3) + "\x02" + zeros(2) + std::string("\x01\x00", 2) + zeros(504));
    // The caller's field list keeps its own lengths.
    EXPECT_EQ(fields[1].length, original[1].length);
    EXPECT_EQ(fields[2].length, 4);

    // The same fields without the memo: version 3, no memo file.
    fields.pop_back();
    ASSERT_TRUE(create_table_file(dir / "n.dbf", fields, TableKind::foxpro, 256, true));
    bytes = read_file(dir / "n.dbf");
    EXPECT_EQ(bytes[0], '\x03');
    EXPECT_EQ(bytes.substr(4, 8), le32(0) + le16(97) + le16(29));
    EXPECT_FALSE(testing_support::file_exists(dir / "n.fpt"));
}

// Each kind: version bytes, normalised lengths, header and record lengths.
TEST(CreateTable, EveryKind) {
    struct Case {
        TableKind kind;
        uint8_t version;
        std::vector<uint8_t> lengths;  // of D, L, I, T, M, Y, B, @
        unsigned record_length;
        size_t extra;
        uint8_t flags, mark;
        const char* memo_name;
    };
    const Case cases[] = {
        {TableKind::dbase3, 0x83, {8, 1, 4, 14, 10, 8, 8, 14}, 1 + 5 + 8 + 1 + 4 + 14 + 10 + 8 + 8 + 14, 0, 0, 0, "t.dbt"},
        {TableKind::foxpro, 0xF5, {8, 1, 4, 14, 10, 8, 8, 14}, 1 + 5 + 8 + 1 + 4 + 14 + 10 + 8 + 8 + 14, 0, 0, 0, "t.fpt"},
        {TableKind::dbase4, 0x8B, {8, 1, 4, 14, 10, 8, 10, 14}, 1 + 5 + 8 + 1 + 4 + 14 + 10 + 8 + 10 + 14, 0, 0, 0, "t.dbt"},
        {TableKind::visual_foxpro, 0x30, {8, 1, 4, 8, 4, 8, 8, 8}, 1 + 5 + 8 + 1 + 4 + 8 + 4 + 8 + 8 + 8, 263, 2, 3, "t.fpt"},
        {TableKind::smt, 0xE5, {8, 1, 4, 14, 10, 8, 8, 14}, 1 + 5 + 8 + 1 + 4 + 14 + 10 + 8 + 8 + 14, 0, 0, 0, "t.smt"},
        {static_cast<TableKind>(9), 0x03, {8, 1, 4, 14, 10, 8, 8, 14}, 1 + 5 + 8 + 1 + 4 + 14 + 10 + 8 + 8 + 14, 0, 0, 0, "t.dbv"},
    };
    const std::vector<FieldDescriptor> fields = {field("C", 'C', 5),  field("D", 'D', 10), field("L", 'L', 5),
                                                 field("I", 'I', 9),  field("T", 'T', 3),  field("M", 'M', 2),
                                                 field("Y", 'Y', 1),  field("B", 'B', 3, 2), field("AT", '@', 0)};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        TempDir dir;
        ASSERT_TRUE(create_table_file(dir / "t.dbf", fields, c.kind, 64, true));
        std::string bytes = read_file(dir / "t.dbf");
        const size_t header_length = 32 * fields.size() + 33 + c.extra;
        ASSERT_EQ(bytes.size(), header_length);
        EXPECT_EQ(static_cast<uint8_t>(bytes[0]), c.version);
        EXPECT_EQ(bytes.substr(8, 4), le16(static_cast<uint16_t>(header_length)) + le16(c.record_length));
        EXPECT_EQ(static_cast<uint8_t>(bytes[28]), c.flags);
        EXPECT_EQ(static_cast<uint8_t>(bytes[29]), c.mark);
        for (size_t i = 1; i < fields.size(); ++i)
            EXPECT_EQ(static_cast<uint8_t>(bytes[32 + 32 * i + 16]), c.lengths[i - 1]) << fields[i].name;
        // B keeps its decimal byte unless it becomes a 10-byte memo reference.
        EXPECT_EQ(bytes[32 + 32 * 7 + 17], c.kind == TableKind::dbase4 ? 0 : 2);
        EXPECT_EQ(bytes.substr(header_length - 1 - c.extra), "\x0D" + zeros(c.extra));
        EXPECT_TRUE(testing_support::file_exists(dir / c.memo_name));

        // The table opens as a table of its kind.
        DbfTable table;
        ASSERT_EQ(open_table(table, dir / "t.dbf", false), OpenResult::opened);
        EXPECT_EQ(table.record_length(), c.record_length);
        EXPECT_EQ(table.record_count(), 0u);
        EXPECT_EQ(table.header_problems, 0);
        EXPECT_EQ(table.table_kind, c.kind == static_cast<TableKind>(9) ? TableKind::dbase3 : c.kind);
    }
}

TEST(CreateTable, Level7ByteForByte) {
    TempDir dir;
    FieldDescriptor long_name = field("A_VERY_LONG_FIELD_NAME_OF_31_CHARS_AND_MORE", 'C', 300 & 0xFF, 300 >> 8);
    long_name.level7_tail[0] = 0x11;
    const std::vector<FieldDescriptor> fields = {long_name, field("COUNT", 'N', 10, 2), field("MEMO", 'M', 4)};
    ASSERT_TRUE(create_table_file(dir / "t.dbf", fields, TableKind::level7, 1024, true, 0x57));
    std::string bytes = read_file(dir / "t.dbf");
    std::string expected = "\x8C" + bytes.substr(1, 3) + header_tail(68 + 3 * 48 + 1, 1 + 300 + 10 + 10, 0, 0x57) +
                           zeros(36);
    expected += long_name.name.substr(0, 31) + zeros(1) + "C" + static_cast<char>(300 & 0xFF) +
                static_cast<char>(300 >> 8) + zeros(2) + "\x11" + zeros(10);
    expected += "COUNT" + zeros(27) + "N\x0A\x02" + zeros(13);
    expected += "MEMO" + zeros(28) + "M\x0A" + zeros(14);
    expected += "\x0D";
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(read_file(dir / "t.dbt"), le32(1) + zeros(14) + le16(0x0102) + le16(1024) + zeros(1002));

    // Without memo fields a level 7 table has version 4.
    ASSERT_TRUE(create_table_file(dir / "n.dbf", {fields[1]}, TableKind::level7, 0, true));
    EXPECT_EQ(read_file(dir / "n.dbf")[0], '\x04');
}

// Visual FoxPro: the version byte follows the types, byte 28 holds the memo flag
// alone, and V and Q fields bring the null-flags field, every bit clear.
TEST(CreateTable, VisualFoxProVersionFlagsAndNullFlags) {
    const struct {
        std::vector<FieldDescriptor> fields;
        uint8_t version, flags;
        size_t null_flags_bytes;  // 0: no null-flags field
    } cases[] = {
        {{field("N", 'N', 5), field("D", 'D', 8)}, 0x03, 0, 0},
        {{field("N", 'N', 5), field("M", 'M', 4)}, 0x30, 2, 0},
        {{field("N", 'N', 5), field("I", 'I', 4)}, 0x30, 0, 0},
        {{field("B", 'B', 8, 2)}, 0x30, 0, 0},
        {{field("T", 'T', 8), field("M", 'M', 4)}, 0x30, 2, 0},
        {{field("V", 'V', 10), field("Q", 'Q', 4)}, 0x30, 0, 1},
        {std::vector<FieldDescriptor>(9, field("V", 'V', 3)), 0x30, 0, 2},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(create_table_file(dir / "t.dbf", c.fields, TableKind::visual_foxpro, 64, false));
        const std::string bytes = read_file(dir / "t.dbf");
        SCOPED_TRACE(c.fields.front().name + std::to_string(c.fields.size()));
        EXPECT_EQ(static_cast<uint8_t>(bytes[0]), c.version);
        EXPECT_EQ(static_cast<uint8_t>(bytes[28]), c.flags);
        const size_t count = c.fields.size() + (c.null_flags_bytes ? 1 : 0);
        ASSERT_EQ(bytes.size(), 32 * count + 33 + 263);
        if (c.null_flags_bytes == 0) continue;
        const std::string last = bytes.substr(32 * count, 32);
        EXPECT_EQ(last.substr(0, 11), std::string("_NullFlags") + zeros(1));
        EXPECT_EQ(last[11], '0');
        EXPECT_EQ(static_cast<size_t>(last[16]), c.null_flags_bytes);
        EXPECT_EQ(last[18], '\x05');
    }
}

// A table that replaces another (/MODIFY) keeps its version byte only for the same
// kind and memo state, and its field flags: a nullable field takes a null-flags bit.
TEST(CreateTable, KeptHeaderVersionAndNullableFields) {
    std::vector<FieldDescriptor> variable(8, field("V", 'V', 3));
    variable.front().flags = 0x02;  // nullable
    const struct {
        TableKind kind;
        uint8_t kept_version;
        std::vector<FieldDescriptor> fields;
        uint8_t version;
        uint8_t null_flags_bytes;  // of the field after the given ones; 0: none
    } cases[] = {
        {TableKind::dbase3, 0x83, {field("N", 'N', 5)}, 0x03, 0},  // the last memo field dropped
        {TableKind::dbase3, 0x83, {field("M", 'M', 10)}, 0x83, 0},
        {TableKind::dbase3, 0x03, {field("M", 'M', 10)}, 0x83, 0},
        {TableKind::visual_foxpro, 0x32, variable, 0x32, 2},      // 8 length bits and 1 null bit
        {TableKind::visual_foxpro, 0x32, {variable.begin() + 1, variable.end()}, 0x32, 1},
    };
    for (const auto& c : cases) {
        TempDir dir;
        KeptHeader kept;
        kept.version = c.kept_version;
        ASSERT_TRUE(create_table_file(dir / "t.dbf", c.fields, c.kind, 64, false, 0, &kept));
        const std::string bytes = read_file(dir / "t.dbf");
        SCOPED_TRACE(std::to_string(c.kept_version) + " " + c.fields.front().type + std::to_string(c.fields.size()));
        EXPECT_EQ(static_cast<uint8_t>(bytes[0]), c.version);
        if (c.null_flags_bytes == 0) continue;
        const std::string last = bytes.substr(32 * (c.fields.size() + 1), 32);
        EXPECT_EQ(last.substr(0, 10), "_NullFlags");
        EXPECT_EQ(static_cast<uint8_t>(last[16]), c.null_flags_bytes);
    }
}

TEST(CreateTable, RefusesWhatTheHeaderCannotHold) {
    TempDir dir;
    // Two 40000-byte character fields make a record longer than 65535 bytes.
    std::vector<FieldDescriptor> wide = {field("A", 'C', 40000 & 0xFF, 40000 >> 8),
                                         field("B", 'C', 40000 & 0xFF, 40000 >> 8)};
    EXPECT_FALSE(create_table_file(dir / "w.dbf", wide, TableKind::dbase3, 0, false));
    EXPECT_FALSE(testing_support::file_exists(dir / "w.dbf"));
    // 1400 level 7 descriptors need a header longer than 65535 bytes.
    std::vector<FieldDescriptor> many(1400, field("F", 'C', 1));
    EXPECT_FALSE(create_table_file(dir / "m.dbf", many, TableKind::level7, 0, false));
    EXPECT_FALSE(testing_support::file_exists(dir / "m.dbf"));
    EXPECT_FALSE(create_table_file(dir / "missing/t.dbf", {field("A", 'C', 1)}, TableKind::dbase3, 0, false));
}

TEST(CreateMemo, HeadersOfEveryFormat) {
    // dBase III: 512-byte blocks and next free block 1 whatever is asked for.
    EXPECT_EQ(memo_header_block(TableKind::dbase3, 64), le32(1) + zeros(508));
    EXPECT_EQ(memo_header_block(TableKind::dbase3, 1024), le32(1) + zeros(1020));
    EXPECT_EQ(memo_header_block(TableKind::foxpro, 64), be32(8) + zeros(2) + std::string("\x00\x40", 2) + zeros(504));
    EXPECT_EQ(memo_header_block(TableKind::visual_foxpro, 0), be32(1) + zeros(2) + std::string("\x02\x00", 2) + zeros(504));
    EXPECT_EQ(memo_header_block(TableKind::dbase4, 512), le32(1) + zeros(14) + le16(0x0102) + le16(512) + zeros(490));
    EXPECT_EQ(memo_header_block(TableKind::smt, 32), le32(16) + le16(32) + std::string("SIxMemo", 8) + zeros(498));
    EXPECT_EQ(memo_header_block(static_cast<TableKind>(9), 128), zeros(512));
    // A block size that does not divide the header puts the first free block past it.
    EXPECT_EQ(memo_header_block(TableKind::foxpro, 300).substr(0, 4), be32(2));

    TempDir dir;
    ASSERT_TRUE(create_memo_file(dir / "a.dbc", TableKind::visual_foxpro, 64));
    EXPECT_EQ(read_file(dir / "a.dct"), memo_header_block(TableKind::visual_foxpro, 64));
    EXPECT_FALSE(create_memo_file(dir / "b.dbf", TableKind::foxpro, 70000));
    EXPECT_FALSE(testing_support::file_exists(dir / "b.fpt"));
}

} // namespace
