// UTF-8 conversion of text in a single-byte page through a table of the 256 bytes'
// forms: for the many short texts of an export.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_pages.h"

namespace rorarodi {

class ByteUtf8Table {
public:
    // The table of a single-byte page (a double-byte page needs Utf8Page itself).
    explicit ByteUtf8Table(const Utf8Page& page);

    // The most bytes convert() writes for a text of `length` bytes.
    static constexpr size_t room_for(size_t length) { return length * 4 + 4; }
    // Writes the UTF-8 form of the text at `to`, which has room_for(text.size())
    // bytes, and returns the end of what it wrote: what Utf8Page::append_utf8 appends.
    char* convert(std::string_view text, char* to) const;
    // Appends the UTF-8 form of the text: ASCII text in one piece.
    void append(std::string& out, std::string_view text) const;
    // True when every ASCII byte is its own form and every other byte's form is
    // non-empty and holds no ASCII byte: a test for ASCII characters (spaces,
    // quotes, line breaks) gives the same answer on a text and on its UTF-8 form.
    bool keeps_ascii() const { return keeps_ascii_; }

private:
    // Each byte's form in the first bytes of a word (in memory order), and its length.
    std::array<uint32_t, 256> forms_{};
    std::array<uint8_t, 256> lengths_{};
    bool keeps_ascii_ = true;
};

} // namespace rorarodi
