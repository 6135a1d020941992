// Scanning text eight bytes at a time: the scans over every value of every record
// (padding, special characters, zero bytes) look at whole words and fall back to
// single bytes only where a word holds something.
#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

namespace rorarodi {

inline constexpr uint64_t kByteOnes = 0x0101010101010101u;
inline constexpr uint64_t kHighBits = 0x8080808080808080u;
inline constexpr uint64_t kLow7Bits = 0x7F7F7F7F7F7F7F7Fu;
inline constexpr uint64_t kEightSpaces = 0x2020202020202020u;

// The eight bytes at `at`, in memory order.
inline uint64_t load_word(const void* at) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// The bytes of `word` below `limit` (at most 0x80), each marked by its top bit:
// exactly those, since no carry crosses from one byte into the next.
constexpr uint64_t bytes_below(uint64_t word, uint8_t limit) {
    return ~(((word & kLow7Bits) + kByteOnes * static_cast<uint8_t>(0x80 - limit)) | word) & kHighBits;
}
// The zero bytes of `word`, each marked by its top bit.
constexpr uint64_t zero_bytes(uint64_t word) { return bytes_below(word, 1); }
// The bytes of `word` equal to `c`, each marked by its top bit.
constexpr uint64_t bytes_equal(uint64_t word, char c) {
    return zero_bytes(word ^ (kByteOnes * static_cast<uint8_t>(c)));
}
// The bytes of `word` from 0x80 on, each marked by its top bit.
constexpr uint64_t high_bytes(uint64_t word) { return word & kHighBits; }

// True when every byte of the text passes: whole words through `word_passes`, the
// bytes after the last whole word through `byte_passes`; the two must agree.
template <typename WordPasses, typename BytePasses>
bool all_bytes(std::string_view text, WordPasses&& word_passes, BytePasses&& byte_passes) {
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8)
        if (!word_passes(load_word(text.data() + i))) return false;
    for (; i < text.size(); ++i)
        if (!byte_passes(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// The text without the spaces at its ends. Fields are mostly padded with spaces:
// runs of them are skipped eight at a time.
inline std::string_view trim_spaces(std::string_view text) {
    size_t start = 0, end = text.size();
    for (; start + 8 <= end && load_word(text.data() + start) == kEightSpaces;) start += 8;
    while (start < end && text[start] == ' ') ++start;
    for (; end >= start + 8 && load_word(text.data() + end - 8) == kEightSpaces;) end -= 8;
    while (end > start && text[end - 1] == ' ') --end;
    return text.substr(start, end - start);
}
// True when the text is empty or all spaces.
inline bool all_spaces(std::string_view text) {
    size_t i = 0;
    for (; i + 8 <= text.size() && load_word(text.data() + i) == kEightSpaces;) i += 8;
    for (; i < text.size(); ++i)
        if (text[i] != ' ') return false;
    return true;
}

} // namespace rorarodi
