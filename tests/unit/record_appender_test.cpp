#include <gtest/gtest.h>

#include "cli_support.h"
#include "table/record_appender.h"
#include "table/table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

TEST(RecordAppender, CopyInOrderFromMemoryOrByWindows) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"N", 'C', 3}};
    for (int i = 0; i < 50; ++i) layout.records.push_back(make_record(layout, {std::to_string(i)}, i % 7 == 0));
    write_file(dir / "s.dbf", build_table(layout));
    const std::vector<uint32_t> order = {49, 0, 7, 7, 3, 4, 8, 9, 10};
    // Whole, by windows of three records (neighbours read at once) and of one.
    for (uint64_t memory : {kCopyInMemoryBytes, uint64_t{40}, uint64_t{0}}) {
        TableLayout empty = layout;
        empty.records.clear();
        write_file(dir / "t.dbf", build_table(empty));
        DbfTable source, target;
        ASSERT_EQ(open_table(source, dir / "s.dbf", true), OpenResult::opened);
        ASSERT_EQ(open_table(target, dir / "t.dbf", false), OpenResult::opened);
        EXPECT_TRUE(copy_records_in_order(source, target, order, memory));
        EXPECT_FALSE(copy_records_in_order(source, target, std::vector<uint32_t>{50}, memory));
        EXPECT_EQ(target.record_count(), order.size());
        std::string records;
        for (int32_t k : order) records += layout.records[static_cast<size_t>(k)];
        const std::string bytes = read_file(dir / "t.dbf");
        EXPECT_EQ(bytes.substr(bytes.size() - records.size() - 1), records + '\x1A');
    }
}

TEST(RecordAppender, ViewAndOrderTakeTheNewRecordsAtTheirEnd) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"N", 'C', 3}};
    layout.records = {make_record(layout, {"a"}), make_record(layout, {"b"}), make_record(layout, {"c"})};
    write_file(dir / "t.dbf", build_table(layout));
    DbfTable table;
    ASSERT_EQ(open_table(table, dir / "t.dbf", false), OpenResult::opened);
    table.filter.view_list = std::vector<uint32_t>{0, 2};
    table.order_list = std::vector<uint32_t>{1, 0};
    {
        RecordAppender out(table);
        for (const char* value : {"d", "e"}) {
            std::copy(value, value + 1, table.record_buffer.begin() + 1);
            EXPECT_TRUE(out.append());
        }
        EXPECT_EQ(out.appended(), 2u);
    }
    EXPECT_EQ(table.record_count(), 5u);
    EXPECT_EQ(*table.filter.view_list, (std::vector<uint32_t>{0, 2, 3, 4}));
    EXPECT_EQ(*table.order_list, (std::vector<uint32_t>{1, 0, 2, 3}));
    ASSERT_TRUE(read_view_record(table, 3));
    EXPECT_EQ(table.record_buffer[1], 'e');
}

} // namespace
