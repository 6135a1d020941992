#include <gtest/gtest.h>

#include <string>

#include "opened_table.h"
#include "table/cipher.h"
#include "table/view_reader.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

std::string applied(const std::string& password, std::string text) {
    rc4_apply(reinterpret_cast<uint8_t*>(text.data()), text.size(), rc4_key_schedule(key_from_password(password)));
    return text;
}

TEST(Cipher, Rc4KeystreamFromItsSecondByte) {
    // The published RC4 vector for the key "Secret": the first byte keeps its value,
    // every later byte is enciphered with the keystream byte of its position.
    const std::string published = "\x45\xA0\x1F\x64\x5F\xC3\x5B\x38\x35\x52\x54\x4B\x9B\xF5";
    EXPECT_EQ(applied("Secret", "Attack at dawn"), "A" + published.substr(1));
    EXPECT_EQ(applied("Secret", applied("Secret", "Attack at dawn")), "Attack at dawn");
    EXPECT_EQ(applied("Secret", ""), "");

    // Odd lengths take the pad character; longer passwords are cut to 255 characters.
    EXPECT_EQ(key_from_password("abc"), key_from_password("abc*"));
    EXPECT_EQ(key_from_password("abc").size(), 4u);
    const std::string long_password(300, 'x');
    EXPECT_EQ(key_from_password(long_password).size(), 256u);
    EXPECT_EQ(key_from_password(long_password), key_from_password(std::string(255, 'x') + "yz"));
    EXPECT_NE(applied("abcd", std::string(20, ' ')), applied("abce", std::string(20, ' ')));
}

TEST(Cipher, RecordHooksDecipherReadsAndEncipherWrites) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"AGE", 'N', 3}};
    for (const char* name : {"Anna", "Boris", "Ivan"}) layout.records.push_back(make_record(layout, {name, "42"}));
    OpenedTable opened(layout);
    DbfTable& table = opened.table;
    const std::string plain = read_file(opened.dir / "t.dbf");
    const size_t header = 32 + 2 * 32 + 1, length = record_length(layout);

    set_password(table, "pw");
    ASSERT_TRUE(has_password(table));
    const std::span<const uint8_t> keystream = record_keystream(table);
    ASSERT_EQ(keystream.size(), length);
    EXPECT_EQ(keystream[0], 0);
    // Writing every record with the password enciphers the file; marks stay plain.
    for (uint32_t i = 0; i < 3; ++i) {
        std::copy(layout.records[i].begin(), layout.records[i].end(), table.record_buffer.begin());
        if (i == 1) table.record_buffer[0] = '*';
        ASSERT_TRUE(write_view_record(table, i));
    }
    const std::string enciphered = read_file(opened.dir / "t.dbf");
    EXPECT_EQ(enciphered.substr(0, header), plain.substr(0, header));
    for (size_t i = 0; i < 3; ++i) {
        const size_t start = header + i * length;
        EXPECT_EQ(enciphered[start], i == 1 ? '*' : ' ');
        for (size_t t = 1; t < length; ++t)
            EXPECT_EQ(static_cast<uint8_t>(enciphered[start + t] ^ plain[start + t]), keystream[t]) << i << " " << t;
    }

    // Reads, one at a time or in blocks, come back plain; the mark byte passes unchanged.
    ASSERT_TRUE(read_view_record(table, 2));
    EXPECT_EQ(std::string(table.record_buffer.begin(), table.record_buffer.begin() + length), layout.records[2]);
    ViewReader reader(table, 3);
    ASSERT_TRUE(reader.read(0));
    ASSERT_TRUE(reader.read(1));
    EXPECT_EQ(std::string(table.record_buffer.begin() + 1, table.record_buffer.begin() + length),
              layout.records[1].substr(1));
    ASSERT_TRUE(read_mark_byte(table, 1));
    EXPECT_EQ(table.mark_byte, '*');

    // Without the password the bytes come as stored.
    clear_password(table);
    EXPECT_FALSE(has_password(table));
    EXPECT_TRUE(record_keystream(table).empty());
    ASSERT_TRUE(read_view_record(table, 0));
    EXPECT_EQ(std::string(table.record_buffer.begin(), table.record_buffer.begin() + length),
              enciphered.substr(header, length));
    set_password(table, "");
    EXPECT_FALSE(has_password(table));
}

} // namespace
