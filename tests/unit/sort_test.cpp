#include <gtest/gtest.h>

#include <ctime>
#include <memory>

#include "cli_support.h"
#include "commands/sort.h"
#include "session/session.h"
#include "table/record_appender.h"
#include "table/table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// A stand-in cipher: every record byte but the mark XORed with the key's first byte.
void xor_record(DbfTable& table) {
    for (size_t i = 1; i < table.record_length(); ++i) table.record_buffer[i] ^= table.password_key[0];
}

std::string enciphered(std::string record) {
    for (size_t i = 1; i < record.size(); ++i) record[i] = static_cast<char>(record[i] ^ 0x55);
    return record;
}

TableLayout names(const std::vector<std::string>& values) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 4}};
    for (const std::string& value : values) layout.records.push_back(enciphered(make_record(layout, {value})));
    return layout;
}

TEST(SortCommand, EncipheredTableIsWrittenEncipheredAndKeepsItsPassword) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(names({"Cc", "Aa", "Bb"})));
    Session session;
    session.current_table = std::make_unique<DbfTable>();
    ASSERT_EQ(open_table(session.table(), dir / "t.dbf", false), OpenResult::opened);
    session.table().after_record_read = xor_record;
    session.table().before_record_write = xor_record;
    session.table().password_key = {0x55};

    handle_sort(session, "NAME");

    TableLayout expected = names({"Aa", "Bb", "Cc"});
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    expected.year = static_cast<uint8_t>(utc.tm_year);
    expected.month = static_cast<uint8_t>(utc.tm_mon + 1);
    expected.day = static_cast<uint8_t>(utc.tm_mday);
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(expected));
    DbfTable& reopened = session.table();
    EXPECT_EQ(reopened.after_record_read, &xor_record);
    EXPECT_EQ(reopened.before_record_write, &xor_record);
    EXPECT_EQ(reopened.password_key, std::vector<uint8_t>{0x55});
    ASSERT_TRUE(read_view_record(reopened, 0));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reopened.record_buffer.data()), 5), " Aa  ");
    close_table(reopened);
}

TEST(SortCommand, CopyInOrderFromMemoryOrRecordByRecord) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"N", 'C', 3}};
    for (int i = 0; i < 50; ++i) layout.records.push_back(make_record(layout, {std::to_string(i)}, i % 7 == 0));
    write_file(dir / "s.dbf", build_table(layout));
    const std::vector<int32_t> order = {49, 0, 7, 7, 3};
    for (uint64_t memory : {kCopyInMemoryBytes, uint64_t{0}}) {
        TableLayout empty = layout;
        empty.records.clear();
        write_file(dir / "t.dbf", build_table(empty));
        DbfTable source, target;
        ASSERT_EQ(open_table(source, dir / "s.dbf", true), OpenResult::opened);
        ASSERT_EQ(open_table(target, dir / "t.dbf", false), OpenResult::opened);
        EXPECT_TRUE(copy_records_in_order(source, target, order, memory));
        EXPECT_FALSE(copy_records_in_order(source, target, {50}, memory));
        EXPECT_EQ(target.record_count(), 5u);
        std::string records;
        for (int32_t k : order) records += layout.records[static_cast<size_t>(k)];
        const std::string bytes = read_file(dir / "t.dbf");
        EXPECT_EQ(bytes.substr(bytes.size() - records.size() - 1), records + '\x1A');
    }
}

} // namespace
