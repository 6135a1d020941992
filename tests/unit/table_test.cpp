#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_support.h"
#include "table/dbf_format.h"
#include "table/field_store.h"
#include "table/field_text.h"
#include "table/memo.h"
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

    // A descriptor is a field only when it ends within the header length: records
    // begin there, whatever byte stands where the terminator belongs.
    const struct {
        size_t header_length;
        size_t fields;
    } lengths[] = {{129, 3}, {128, 3}, {127, 2}, {96, 2}, {95, 1}, {65, 1}};
    for (const auto& c : lengths) {
        TableLayout three;
        three.fields = {{"A", 'C', 2}, {"B", 'C', 2}, {"C", 'N', 3}};
        three.header_length = c.header_length;
        std::string bytes = build_table(three);
        bytes[32 + 3 * 32] = 'X';
        Opened h;
        open_bytes(dir, bytes, h, "three.dbf");
        ASSERT_TRUE(h.fields_ok) << c.header_length;
        EXPECT_EQ(h.table.field_count(), c.fields) << c.header_length;
    }

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

}

TEST(TableHeader, FileCutInsideADescriptorOpensWithTheWholeOnes) {
    // A file cut off inside a descriptor opens with the descriptors read whole, and
    // with no records, since it ends before its header length.
    TempDir dir;
    TableLayout full;
    full.fields = {{"A", 'C', 2}, {"B", 'C', 2}, {"C", 'N', 3}};
    full.records = {make_record(full, {"a", "b", "1"})};
    Opened cut;
    open_bytes(dir, build_table(full).substr(0, 32 + 32 + 40), cut, "cut.dbf");
    EXPECT_TRUE(cut.header_ok);
    ASSERT_TRUE(cut.fields_ok);
    EXPECT_EQ(cut.table.field_count(), 2u);
    EXPECT_EQ(cut.table.record_count(), 0u);
    EXPECT_EQ(cut.table.record_length(), 5u);
    // Less than one descriptor: no fields, which is accepted with the unknown-types flag.
    Opened stub;
    open_bytes(dir, build_table(full).substr(0, 40), stub, "stub.dbf");
    ASSERT_TRUE(stub.fields_ok);
    EXPECT_EQ(stub.table.field_count(), 0u);
    EXPECT_EQ(stub.table.record_count(), 0u);
    EXPECT_TRUE(stub.table.header_problems & kUnknownFieldTypes);
    // Nothing at all after the header: the fields are rejected.
    Opened bare;
    open_bytes(dir, build_table(full).substr(0, 32), bare, "bare.dbf");
    EXPECT_TRUE(bare.header_ok);
    EXPECT_FALSE(bare.fields_ok);
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

    // One field and no records: 117 bytes, level 7 by its version byte and header
    // length; the same bytes under a version that does not name level 7, or with a
    // header length one descriptor cannot fill, are read in the standard layout.
    const struct {
        uint8_t version;
        int header_length_change;
        bool level7;
    } small_cases[] = {{0x04, 0, true}, {0x8C, 0, true}, {0x03, 0, false}, {0x04, 1, false}};
    for (const auto& c : small_cases) {
        TableLayout small = layout;
        small.version = c.version;
        small.fields = {{"A", 'C', 1}};
        small.records.clear();
        std::string bytes = build_table(small);
        ASSERT_LT(bytes.size(), 128u);
        bytes[8] = static_cast<char>(bytes[8] + c.header_length_change);
        Opened s;
        open_bytes(dir, bytes, s, "s.dbf");
        EXPECT_EQ(s.table.level7, c.level7) << int{c.version};
        if (c.level7) EXPECT_EQ(s.table.record_length(), 2u);
    }
    // Three standard descriptors under 0x04 end with a terminator at byte 128, a
    // length no whole number of level 7 descriptors gives: the standard layout.
    TableLayout three;
    three.version = 0x04;
    three.fields = {{"A", 'C', 1}, {"B", 'C', 1}, {"C", 'C', 1}};
    three.records = {make_record(three, {"a", "b", "c"})};
    Opened t;
    open_bytes(dir, build_table(three), t, "three.dbf");
    EXPECT_FALSE(t.table.level7);
    EXPECT_TRUE(t.fields_ok);
    EXPECT_EQ(t.table.field_count(), 3u);
}

TEST(RecordAccess, PositionMappingThroughOrderAndView) {
    TempDir dir;
    Opened o;
    open_bytes(dir, build_table(numbered_table(100)), o);
    ASSERT_TRUE(o.fields_ok);
    DbfTable& t = o.table;
    std::vector<uint32_t> reverse(100);
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
    EXPECT_EQ(read_mark_byte(t, 1), '*');
    EXPECT_EQ(read_mark_byte(t, 0), ' ');

    t.options.backup_option = true;
    ASSERT_TRUE(write_mark_byte(t, 0, '*'));
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    ASSERT_TRUE(write_mark_byte(t, 2, '*'));
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
    // The table is its own backup name: no copy can be made, so nothing is written.
    t.options.backup_option = true;
    EXPECT_FALSE(write_mark_byte(t, 1, '*'));
    EXPECT_FALSE(t.backup_done);
    close_table(t);
    EXPECT_EQ(read_file(dir / "t.bak"), original);
}

int g_read_hook_calls = 0;
void count_read_hook(DbfTable&) { ++g_read_hook_calls; }
void count_mark_hook(DbfTable&, uint8_t&) { ++g_read_hook_calls; }

TEST(RecordAccess, ShortReadsFailWithoutTheHook) {
    TempDir dir;
    Opened o;
    open_bytes(dir, build_table(numbered_table(3)), o);
    ASSERT_TRUE(o.fields_ok);
    DbfTable& t = o.table;
    t.after_record_read = count_read_hook;
    t.after_mark_read = count_mark_hook;
    g_read_hook_calls = 0;
    // Another program cuts the file inside the last record.
    ASSERT_TRUE(t.table_handle.truncate(t.header_length() + 2 * t.record_length() + 3));
    EXPECT_TRUE(read_view_record(t, 1));
    EXPECT_EQ(g_read_hook_calls, 1);
    EXPECT_FALSE(read_view_record(t, 2));
    EXPECT_FALSE(read_view_record(t, 3));
    EXPECT_EQ(g_read_hook_calls, 1);

    ASSERT_TRUE(t.table_handle.truncate(t.header_length() + 2 * t.record_length()));
    EXPECT_FALSE(read_mark_byte(t, 2));
    EXPECT_EQ(g_read_hook_calls, 1);
    EXPECT_TRUE(read_mark_byte(t, 1));
    EXPECT_EQ(g_read_hook_calls, 2);
}

TEST(RecordAccess, FailedBackupStopsTheWrite) {
    TempDir dir;
    const std::string original = build_table(numbered_table(2));
    Opened o;
    open_bytes(dir, original, o);
    ASSERT_TRUE(o.fields_ok);
    DbfTable& t = o.table;
    // A directory of the backup's name: the copy cannot be created.
    ASSERT_EQ(::mkdir((dir / "t.bak").c_str(), 0755), 0);
    write_file(dir / "t.bak/keep", "x");
    t.options.backup_option = true;
    EXPECT_FALSE(write_mark_byte(t, 0, '*'));
    ASSERT_TRUE(read_view_record(t, 0));
    EXPECT_FALSE(write_view_record(t, 0));
    EXPECT_FALSE(write_physical_record(t, 2));
    EXPECT_FALSE(t.backup_done);
    EXPECT_EQ(read_file(dir / "t.dbf"), original);

    // Once the name is free, the next write makes the copy and goes on.
    ASSERT_EQ(std::remove((dir / "t.bak/keep").c_str()), 0);
    ASSERT_EQ(::rmdir((dir / "t.bak").c_str()), 0);
    EXPECT_TRUE(write_mark_byte(t, 0, '*'));
    EXPECT_TRUE(t.backup_done);
    EXPECT_EQ(read_file(dir / "t.bak"), original);
    EXPECT_EQ(read_file(dir / "t.dbf")[t.header_length()], '*');
}

// Random tables and memo files, damaged at random, opened and read and written field by
// field in every date mode: nothing may read or write outside its buffers.
TEST(RecordAccess, DamagedTablesAndMemoFilesAreHandledSafely) {
    std::mt19937 rng(20240229);
    auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    auto bytes = [&pick](size_t n) {
        std::string s(n, ' ');
        for (char& c : s) c = pick(3) == 0 ? static_cast<char>(pick(256)) : static_cast<char>("0 1.9\0"[pick(6)]);
        return s;
    };
    const uint8_t versions[] = {0x03, 0x83, 0x04, 0x8B, 0x8C, 0x30, 0xF5, 0xE5, 0x00, 0x77};
    const unsigned widths[] = {0, 1, 2, 4, 8, 10, 14, 255};
    const double numbers[] = {0, 7, -2.5, 1e300, 3e9, NAN, INFINITY, 123.456};
    const char* texts[] = {"", "x", "29.02.2016 12:34:56", "2016.13.40", "yes", "-1.-1.-999", "nan", "1e308"};
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        TableLayout layout;
        layout.version = versions[pick(std::size(versions))];
        layout.level7 = pick(5) == 0;
        for (size_t i = 0, n = pick(8); i < n; ++i) {
            char type = "CNFDLMTGYBI0@+OVQWP"[pick(19)];
            unsigned length = type == 'C' && pick(4) == 0 ? static_cast<unsigned>(pick(1000)) : widths[pick(8)];
            layout.fields.push_back({"F" + std::to_string(i), type, length, static_cast<unsigned>(pick(4))});
        }
        for (size_t r = 0, n = pick(4); r < n; ++r) layout.records.push_back(bytes(record_length(layout)));
        if (pick(5) == 0) layout.header_length = static_cast<uint16_t>(pick(400));
        if (pick(5) == 0) layout.header_record_length = static_cast<uint16_t>(pick(400));
        std::string file = build_table(layout);
        for (size_t i = 0, n = pick(3); i < n; ++i) file[pick(std::min<size_t>(file.size(), 150))] = static_cast<char>(pick(256));
        if (pick(6) == 0) file.resize(pick(file.size() + 1));

        std::vector<uint32_t> blocks;
        const std::vector<std::string> memos = {bytes(pick(700)), bytes(pick(40))};
        const uint16_t block_size = static_cast<uint16_t>(pick(3) == 0 ? pick(600) : 64);
        std::string memo = pick(4) == 0   ? build_dbase3_memo(memos, blocks)
                           : pick(3) == 0 ? build_dbase4_memo(memos, blocks, block_size)
                           : pick(2) == 0 ? build_foxpro_memo(memos, blocks, block_size)
                                          : build_smt_memo(memos, blocks, block_size);
        for (size_t i = 0, n = pick(4); i < n; ++i) memo[pick(memo.size())] = static_cast<char>(pick(256));
        if (pick(6) == 0) memo.resize(pick(memo.size() + 1));

        TempDir dir;
        write_file(dir / "t.dbf", file);
        DbfTable t;
        if (open_table(t, dir / "t.dbf", false) != OpenResult::opened) continue;
        write_file(t.memo_file_name, memo);
        memo_block_size(t);
        for (uint32_t position = 0; position <= std::min<uint32_t>(view_record_count(t), 3); ++position) {
            (void)read_view_record(t, position);  // any result: only a crash is a fault
            for (int f = 0; f < static_cast<int>(t.field_count()); ++f) {
                if (field_is_memo(t, f) && pick(2) == 0 && !blocks.empty()) {
                    const uint32_t block = blocks[pick(blocks.size())];
                    blank_field(t, f);
                    if (t.version() == 0xE5 && field_width(t, f) >= 10)
                        std::memcpy(&t.record_buffer[t.field_table[f].offset + 2], (le32(pick(900)) + le32(block)).data(), 8);
                    else if (field_width(t, f) == 4)
                        store_field_integer(t, f, static_cast<int32_t>(block));
                    else
                        (void)store_number_text(t, f, block, t.field_table[f].length, 0);
                }
                for (int mode = 0; mode <= 4; ++mode) {
                    t.options.date_mode = static_cast<DateMode>(mode);
                    t.options.trim_mode = static_cast<TrimMode>(pick(4));
                    EXPECT_LT(std::strlen(field_text(t, f)), kTextBufferSize);
                    decode_date_parts(t, f);
                }
                field_number(t, f);
                (void)read_memo_bytes(t, f);
                (void)read_memo_text(t, f);
                const char* text = texts[pick(std::size(texts))];
                double number = numbers[pick(std::size(numbers))];
                if (field_is_memo(t, f) && number > 0) number = static_cast<double>(std::strlen(text));
                set_field(t, f, text, number);
                field_text(t, f);
            }
            (void)write_view_record(t, position);
        }
        close_table(t);
    }
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
