#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/code_pages.h"
#include "table/byte_utf8.h"

using namespace rorarodi;

// The byte table gives what the page's own conversion gives, for texts of every
// length around the eight-byte steps and bytes of every value.
TEST(ByteUtf8, AgreesWithThePage) {
    for (int number : {866, 1251, 1252, 437}) {
        const Utf8Page& page = utf8_page(number);
        const ByteUtf8Table table(page);
        // The exports check texts for quotes and control bytes before converting them.
        EXPECT_TRUE(table.keeps_ascii()) << number;
        uint32_t seed = 12345;
        for (size_t length = 0; length < 40; ++length) {
            for (int round = 0; round < 20; ++round) {
                std::string text(length, ' ');
                for (char& c : text) {
                    seed = seed * 1103515245u + 12345u;
                    // Mostly ASCII, so that words of both kinds occur.
                    const uint32_t pick = seed >> 16;
                    c = static_cast<char>(pick % 4 == 0 ? 128 + pick % 128 : pick % 128);
                }
                std::string want;
                page.append_utf8(want, text);
                std::string room(ByteUtf8Table::room_for(length), '\0');
                EXPECT_EQ(std::string(room.data(), table.convert(text, room.data())), want) << number << " " << length;
                std::string appended = "x";
                table.append(appended, text);
                EXPECT_EQ(appended, "x" + want) << number << " " << length;
            }
        }
    }
}
