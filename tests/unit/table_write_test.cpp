#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits>
#include <unistd.h>

#include "opened_table.h"
#include "table/record_rewriter.h"
#include "table/table_write.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// A stand-in cipher: every byte but the mark is flipped on the way in and out.
void flip(DbfTable& table) {
    for (uint32_t i = 1; i < table.record_length(); ++i) table.record_buffer[i] ^= 0x5A;
}

std::string flipped(std::string record) {
    for (size_t i = 1; i < record.size(); ++i) record[i] = static_cast<char>(record[i] ^ 0x5A);
    return record;
}

TableLayout numbered(int count, unsigned width = 3) {
    TableLayout layout;
    layout.fields = {{"N", 'C', width}};
    for (int i = 0; i < count; ++i) layout.records.push_back(make_record(layout, {std::to_string(i)}, i % 3 == 1));
    return layout;
}

std::string records_of(const std::string& file, const TableLayout& layout) {
    const size_t header = 32 + 32 * layout.fields.size() + 1;
    return file.substr(header);
}

TEST(RecordRewriter, BehavesAsSingleRecordReadsAndWrites) {
    // Reverse order over a view of every record but the first: runs go backwards,
    // so most records come one at a time; a position visited twice sees its write.
    OpenedTable opened(numbered(8));
    DbfTable& table = opened.table;
    table.filter.view_list = std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7};
    table.order_list = std::vector<uint32_t>{6, 5, 4, 3, 2, 1, 0};
    {
        RecordRewriter records(table);
        for (uint32_t position : {0u, 1u, 1u, 6u}) {
            ASSERT_TRUE(records.read(position));
            table.record_buffer[1] = static_cast<uint8_t>(table.record_buffer[1] + 1);
            ASSERT_TRUE(records.write(position));
        }
        EXPECT_TRUE(records.finish());
    }
    TableLayout expected = numbered(8);
    expected.records[7][1] = static_cast<char>(expected.records[7][1] + 1);
    expected.records[6][1] = static_cast<char>(expected.records[6][1] + 2);
    expected.records[1][1] = static_cast<char>(expected.records[1][1] + 1);
    table.table_handle.close();
    EXPECT_EQ(read_file(opened.dir / "t.dbf"), build_table(expected));

    // Consecutive records come from one block; the backup is made before the first write.
    OpenedTable sequential(numbered(5));
    sequential.table.options.backup_option = true;
    {
        RecordRewriter records(sequential.table);
        for (uint32_t position = 0; position < 5; ++position) {
            EXPECT_TRUE(records.read(position));
            sequential.table.record_buffer[2] = 'x';
            EXPECT_TRUE(records.write(position));
        }
    }
    EXPECT_EQ(read_file(sequential.dir / "t.bak"), build_table(numbered(5)));
    TableLayout marked = numbered(5);
    for (std::string& record : marked.records) record[2] = 'x';
    EXPECT_EQ(read_file(sequential.dir / "t.dbf"), build_table(marked));
}

TEST(RecordRewriter, ABlockWrittenOnTheWayReportsItsFailure) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to stand in for a full disk";
    OpenedTable opened(numbered(5));
    DbfTable& table = opened.table;
    table.filter.view_list = std::vector<uint32_t>{0, 4};                // two blocks of one record
    table.table_handle = FileHandle(::open("/dev/full", O_RDWR));  // reads zeros, writes fail
    RecordRewriter records(table);
    ASSERT_TRUE(records.read(0));
    ASSERT_TRUE(records.write(0));  // kept in the block
    ASSERT_TRUE(records.read(1));   // the block is written on the way, and fails
    EXPECT_FALSE(records.finish());
}

TEST(TableWrite, AppendGrowsListsAndCopiesCarryTheSameValues) {
    TableLayout layout = numbered(4);
    OpenedTable opened(layout, true);
    DbfTable& table = opened.table;
    table.filter.view_list = std::vector<uint32_t>{0, 2};
    table.order_list = std::vector<uint32_t>{1, 0};
    table.before_record_write = flip;
    EXPECT_EQ(append_records(table, 3), 3u);
    EXPECT_TRUE(append_record(table, false));
    EXPECT_EQ(*table.filter.view_list, (std::vector<uint32_t>{0, 2, 4, 5, 6, 7}));
    EXPECT_EQ(*table.order_list, (std::vector<uint32_t>{1, 0, 2, 3, 4, 5}));
    EXPECT_EQ(table.record_count(), 8u);
    std::string file = read_file(opened.dir / "t.dbf");
    const std::string copy = flipped(layout.records[0]);
    EXPECT_EQ(records_of(file, layout).substr(4 * 4), copy + copy + copy + copy + "\x1A");
    EXPECT_EQ(file.substr(4, 4), le32(8));

    // No record count beyond 32 bits; a read-only table takes nothing.
    table.set_record_count(std::numeric_limits<uint32_t>::max());
    EXPECT_FALSE(append_record(table, true));
    EXPECT_EQ(append_records(table, 2), 0u);
    table.set_record_count(8);
    table.table_handle = open_file_read_only(opened.dir / "t.dbf");
    EXPECT_FALSE(append_record(table, true));
    EXPECT_FALSE(write_header(table));
    EXPECT_FALSE(truncate_records(table, 0));
    EXPECT_EQ(read_file(opened.dir / "t.dbf"), file);
}

TEST(TableWrite, PackThroughHooksAndLongRuns) {
    // More records than one block holds; every third record deleted.
    TableLayout layout = numbered(20000, 100);
    OpenedTable opened(layout);
    opened.table.after_record_read = flip;
    opened.table.before_record_write = flip;
    ASSERT_TRUE(pack_table(opened.table, PackMode::table_and_memo));
    TableLayout live;
    live.fields = layout.fields;
    for (const std::string& record : layout.records)
        if (record[0] != '*') live.records.push_back(record);
    std::string file = read_file(opened.dir / "t.dbf");
    EXPECT_EQ(records_of(file, live), records_of(build_table(live), live));
    EXPECT_EQ(opened.table.record_count(), live.records.size());
    EXPECT_TRUE(opened.table.view_enabled);
}

TEST(TableWrite, PackMemoName) {
    EXPECT_EQ(pack_memo_name("dir/t.fpt"), "dir/t.~pt");
    EXPECT_EQ(pack_memo_name("d.x/T.DBT"), "d.x/T.~BT");
    EXPECT_EQ(pack_memo_name("d.x/memo"), "d.x/memo.~");
}

} // namespace
