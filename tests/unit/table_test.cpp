#include <gtest/gtest.h>

#include "cli_support.h"
#include "table/dbf_format.h"
#include "table/table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

struct Opened {
    DbfTable table;
    bool header_ok = false;
    bool fields_ok = false;
};

// Opens `bytes` written to a file of the temp directory the way the run loop does.
void open_bytes(const TempDir& dir, const std::string& bytes, Opened& opened, const std::string& name = "t.dbf") {
    write_file(dir / name, bytes);
    opened.table.table_handle = open_file_read_write(dir / name);
    opened.header_ok = read_table_header(opened.table);
    opened.table.table_file_name = dir / name;
    if (opened.header_ok) opened.fields_ok = read_field_descriptors(opened.table);
}

TableLayout numbered_table(int count) {
    TableLayout layout;
    layout.fields = {{"ID", 'N', 5}};
    for (int i = 0; i < count; ++i) layout.records.push_back(make_record(layout, {std::to_string(i)}));
    return layout;
}

TEST(TableHeader, StandardTableWithOneFieldIsStandardLayout) {
    TempDir dir;
    Opened o;
    open_bytes(dir, build_table(numbered_table(3)), o);
    ASSERT_TRUE(o.header_ok);
    ASSERT_TRUE(o.fields_ok);
    EXPECT_FALSE(o.table.level7);
    EXPECT_EQ(o.table.field_count(), 1u);
    EXPECT_EQ(o.table.record_count(), 3u);
    EXPECT_EQ(o.table.record_length(), 6u);
    EXPECT_EQ(o.table.header_problems, 0);
    EXPECT_EQ(o.table.backup_file_name, dir / "t.bak");
}

TEST(TableHeader, RejectsShortOrSmallHeaders) {
    TempDir dir;
    {
        Opened o;
        open_bytes(dir, "", o);
        EXPECT_FALSE(o.header_ok);
    }
    {
        Opened o;
        open_bytes(dir, build_table(numbered_table(1)).substr(0, 20), o);
        EXPECT_FALSE(o.header_ok);
    }
    {
        TableLayout layout = numbered_table(1);
        layout.header_length = 64;
        Opened o;
        open_bytes(dir, build_table(layout), o);
        EXPECT_FALSE(o.header_ok);
    }
    {
        TableLayout layout = numbered_table(1);
        layout.header_length = 65;
        Opened o;
        open_bytes(dir, build_table(layout), o);
        EXPECT_TRUE(o.header_ok);
    }
}

TEST(TableHeader, HeaderLengthBeyondTheFileGivesNoRecords) {
    TempDir dir;
    TableLayout layout = numbered_table(2);
    layout.header_length = 60000;
    Opened o;
    open_bytes(dir, build_table(layout), o);
    ASSERT_TRUE(o.fields_ok);
    EXPECT_EQ(o.table.record_count(), 0u);
    EXPECT_TRUE(o.table.header_problems & kRecordCountMismatch);
}

TEST(TableHeader, RecordCountFromFileSize) {
    TempDir dir;
    TableLayout layout = numbered_table(12);
    layout.header_record_count = 10;
    std::string bytes = build_table(layout) + "123";  // a partial record after the marker
    Opened o;
    open_bytes(dir, bytes, o);
    ASSERT_TRUE(o.fields_ok);
    EXPECT_EQ(o.table.record_count(), 12u);
    EXPECT_EQ(o.table.header_problems, kRecordCountMismatch);
}

TEST(TableHeader, WideAndNarrowCharacterFields) {
    TempDir dir;
    TableLayout wide;
    wide.fields = {{"TEXT", 'C', 272}};
    Opened w;
    open_bytes(dir, build_table(wide), w, "w.dbf");
    ASSERT_TRUE(w.fields_ok);
    EXPECT_EQ(w.table.record_length(), 273u);
    EXPECT_FALSE(w.table.narrow_character_fields);

    TableLayout narrow = wide;
    narrow.header_record_length = 1 + 16;  // length byte 0x10, decimals 0x01
    Opened n;
    open_bytes(dir, build_table(narrow), n, "n.dbf");
    ASSERT_TRUE(n.fields_ok);
    EXPECT_TRUE(n.table.narrow_character_fields);
    EXPECT_EQ(n.table.record_length(), 17u);
    EXPECT_EQ(n.table.field_table[0].decimals, 0);
}

TEST(TableHeader, UnknownTypesAndDamagedVersion) {
    TempDir dir;
    TableLayout two_known;
    two_known.version = 0x00;
    two_known.fields = {{"A", 'C', 2}, {"B", 'N', 2}, {"P", 'P', 2}};
    Opened a;
    open_bytes(dir, build_table(two_known), a, "a.dbf");
    ASSERT_TRUE(a.fields_ok);
    EXPECT_EQ(a.table.header_problems, kUnknownFieldTypes | kDamagedVersion);
    EXPECT_EQ(a.table.version(), 0x03);

    TableLayout one_known;
    one_known.fields = {{"A", 'C', 2}, {"P", 'P', 2}, {"Q", 'Z', 2}};
    Opened b;
    open_bytes(dir, build_table(one_known), b, "b.dbf");
    EXPECT_FALSE(b.fields_ok);

    TableLayout memo = two_known;
    memo.fields = {{"M", 'M', 10}};
    memo.version = 0x77;
    Opened c;
    open_bytes(dir, build_table(memo), c, "c.dbf");
    ASSERT_TRUE(c.fields_ok);
    EXPECT_EQ(c.table.version(), 0xF5);
    EXPECT_EQ(c.table.first_memo_field, 0);
}

TEST(TableHeader, DescriptorWalkStaysInsideHeaderAndLimit) {
    TempDir dir;
    // 2100 descriptors and no terminator: at most 2047 are read.
    TableLayout many;
    for (int i = 0; i < 2100; ++i) many.fields.push_back({"F" + std::to_string(i), 'C', 1});
    std::string bytes = build_table(many);
    // Remove the terminator so that the walk has to stop by itself.
    bytes[32 + 2100 * 32] = 'X';
    Opened o;
    open_bytes(dir, bytes, o);
    EXPECT_TRUE(o.header_ok);
    EXPECT_LE(o.table.field_count(), 2047u);

    // A header length that leaves room for one descriptor only.
    TableLayout two;
    two.fields = {{"A", 'C', 2}, {"B", 'C', 2}};
    two.header_length = 65;
    two.header_record_length = 3;
    Opened t;
    open_bytes(dir, build_table(two), t, "two.dbf");
    ASSERT_TRUE(t.fields_ok);
    EXPECT_EQ(t.table.field_count(), 1u);

    // No terminator, a header length that ends after the last descriptor, and a file
    // that ends inside the next descriptor's room: the table opens with its one field.
    TableLayout one;
    one.fields = {{"ID", 'N', 11}};
    one.records = {make_record(one, {"1"})};
    std::string bytes_one = build_table(one);
    bytes_one[64] = '\x0A';
    Opened u;
    open_bytes(dir, bytes_one, u, "one.dbf");
    ASSERT_TRUE(u.fields_ok);
    EXPECT_EQ(u.table.field_count(), 1u);
    EXPECT_EQ(u.table.record_count(), 1u);

    // Descriptors cut off by the end of the file are rejected.
    Opened cut;
    open_bytes(dir, build_table(two).substr(0, 40), cut, "cut.dbf");
    EXPECT_TRUE(cut.header_ok);
    EXPECT_FALSE(cut.fields_ok);
}

TEST(TableHeader, Level7Layout) {
    TempDir dir;
    TableLayout layout;
    layout.version = 0x04;
    layout.level7 = true;
    layout.fields = {{"A_LONG_FIELD_NAME", 'C', 20}, {"COUNT", 'I', 4}};
    layout.records = {make_record(layout, {"x", std::string(4, '\0')})};
    Opened o;
    open_bytes(dir, build_table(layout), o);
    ASSERT_TRUE(o.fields_ok);
    EXPECT_TRUE(o.table.level7);
    EXPECT_EQ(o.table.field_table[0].name, "A_LONG_FIELD_NAME");
    EXPECT_EQ(o.table.field_table[1].offset, 21);

    // Shorter than 128 bytes: read in the standard layout.
    TableLayout small = layout;
    small.fields = {{"A", 'C', 1}};
    small.records.clear();
    Opened s;
    open_bytes(dir, build_table(small), s, "s.dbf");
    EXPECT_FALSE(s.table.level7);
}

TEST(RecordAccess, PositionMappingThroughOrderAndView) {
    TempDir dir;
    Opened o;
    open_bytes(dir, build_table(numbered_table(100)), o);
    ASSERT_TRUE(o.fields_ok);
    DbfTable& t = o.table;
    std::vector<int32_t> reverse(100);
    for (int i = 0; i < 100; ++i) reverse[i] = 99 - i;
    t.order_list = reverse;
    ASSERT_TRUE(read_view_record(t, 0));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.record_buffer.data()), 6), "    99");

    t.order_list.reset();
    t.filter.view_list = std::vector<uint32_t>{5, 7};
    EXPECT_EQ(view_record_count(t), 2u);
    ASSERT_TRUE(read_view_record(t, 1));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.record_buffer.data()), 6), "     7");
    t.view_enabled = false;
    ASSERT_TRUE(read_view_record(t, 1));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.record_buffer.data()), 6), "     1");
}

TEST(RecordAccess, OffsetsAreSixtyFourBit) {
    EXPECT_EQ(record_file_offset(4000, 2000000, 100), 8000000100ull);
}

TEST(RecordAccess, MarkBytesAndBackupOnce) {
    TempDir dir;
    TableLayout layout = numbered_table(3);
    layout.records[1][0] = '*';
    std::string original = build_table(layout);
    Opened o;
    open_bytes(dir, original, o);
    ASSERT_TRUE(o.fields_ok);
    DbfTable& t = o.table;
    ASSERT_TRUE(read_mark_byte(t, 1));
    EXPECT_EQ(t.mark_byte, '*');
    ASSERT_TRUE(read_mark_byte(t, 0));
    EXPECT_EQ(t.mark_byte, ' ');

    t.backup_option = true;
    t.mark_byte = '*';
    ASSERT_TRUE(write_mark_byte(t, 0));
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    ASSERT_TRUE(write_mark_byte(t, 2));
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    std::string now = read_file(dir / "t.dbf");
    EXPECT_EQ(now[t.header_length()], '*');
    EXPECT_EQ(now[t.header_length() + 2 * 6], '*');
}

TEST(RecordAccess, BackupNeverReplacesTheTableItself) {
    TempDir dir;
    TableLayout layout = numbered_table(2);
    std::string original = build_table(layout);
    Opened o;
    open_bytes(dir, original, o, "t.bak");
    ASSERT_TRUE(o.fields_ok);
    DbfTable& t = o.table;
    EXPECT_EQ(t.backup_file_name, dir / "t.bak");
    t.backup_option = true;
    t.mark_byte = '*';
    ASSERT_TRUE(write_mark_byte(t, 1));
    std::string expected = original;
    expected[t.header_length() + t.record_length()] = '*';
    close_table(t);
    EXPECT_EQ(read_file(dir / "t.bak"), expected);
}

TEST(RecordAccess, CloseWithoutHandleDoesNothing) {
    DbfTable t;
    close_table(t);
    EXPECT_FALSE(t.table_handle);
}

} // namespace

namespace {

TEST(RecordAccess, SparseTableBeyondFourGigabytes) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"DATA", 'C', 3999}};
    std::string header = build_table(layout);
    header.pop_back();  // no end marker
    const std::string path = dir / "big.dbf";
    write_file(path, header);
    {
        FileHandle file = open_file_read_write(path);
        ASSERT_TRUE(file);
        const uint64_t header_length = header.size();
        ASSERT_TRUE(file.truncate(header_length + 2000001ull * 4000));
        std::string record = " " + std::string(3999, 'z');
        record.replace(1, 7, "RECORD!");
        ASSERT_TRUE(file.seek(header_length + 8000000000ull));
        ASSERT_TRUE(file.write(record.data(), record.size()));
    }
    DbfTable table;
    table.table_handle = open_file_read_only(path);
    ASSERT_TRUE(read_table_header(table));
    table.table_file_name = path;
    ASSERT_TRUE(read_field_descriptors(table));
    EXPECT_EQ(table.record_count(), 2000001u);
    ASSERT_TRUE(read_view_record(table, 2000000));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(table.record_buffer.data()) + 1, 7), "RECORD!");
}

} // namespace
