#include "platform/byte_words.h"

#include <gtest/gtest.h>

#include <string>

namespace rorarodi {
namespace {

// Every byte value at every place of a word, among neighbours that sit right at
// the limits, marks exactly the bytes a byte-by-byte test picks.
TEST(ByteWords, WordTestsMarkExactlyTheBytesOneByOneTestsPick) {
    const unsigned char neighbours[] = {0x00, 0x01, 0x1F, 0x20, 0x21, 0x7F, 0x80, 0xFF};
    for (unsigned value = 0; value < 256; ++value)
        for (unsigned char neighbour : neighbours)
            for (int place = 0; place < 8; ++place) {
                unsigned char bytes[8];
                for (int k = 0; k < 8; ++k) bytes[k] = k == place ? static_cast<unsigned char>(value) : neighbour;
                const uint64_t word = load_word(bytes);
                uint64_t zero = 0, below_space = 0, below_high = 0, quote = 0, high = 0;
                for (int k = 0; k < 8; ++k) {
                    const uint64_t mark = uint64_t{0x80} << (8 * k);  // little-endian places
                    if (bytes[k] == 0) zero |= mark;
                    if (bytes[k] < 0x20) below_space |= mark;
                    if (bytes[k] < 0x80) below_high |= mark;
                    if (bytes[k] == '"') quote |= mark;
                    if (bytes[k] >= 0x80) high |= mark;
                }
                ASSERT_EQ(zero_bytes(word), zero) << value << " " << int(neighbour) << " " << place;
                ASSERT_EQ(bytes_below(word, 0x20), below_space) << value << " " << int(neighbour) << " " << place;
                ASSERT_EQ(bytes_below(word, 0x80), below_high) << value;
                ASSERT_EQ(bytes_equal(word, '"'), quote) << value;
                ASSERT_EQ(high_bytes(word), high) << value;
            }
}

TEST(ByteWords, SpacesTrimmedAndFoundAcrossWholeWords) {
    const struct {
        std::string text, trimmed;
        bool all_spaces;
    } cases[] = {
        {"", "", true},
        {"        ", "", true},
        {"                 ", "", true},
        {"         x", "x", false},
        {"x                ", "x", false},
        {"  a b  ", "a b", false},
        {"         ab cd           ", "ab cd", false},
        {std::string("\0       ", 8), std::string("\0", 1), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trim_spaces(c.text), c.trimmed) << "[" << c.text << "]";
        EXPECT_EQ(all_spaces(c.text), c.all_spaces) << "[" << c.text << "]";
    }
    const auto no_zero = [](std::string_view t) {
        return all_bytes(t, [](uint64_t w) { return zero_bytes(w) == 0; }, [](unsigned char b) { return b != 0; });
    };
    for (size_t length = 0; length < 20; ++length)
        for (size_t at = 0; at <= length; ++at) {
            std::string text(length, 'a');
            if (at < length) text[at] = '\0';
            EXPECT_EQ(no_zero(text), at == length) << length << " " << at;
        }
}

} // namespace
} // namespace rorarodi
