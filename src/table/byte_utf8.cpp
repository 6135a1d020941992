#include "table/byte_utf8.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/byte_words.h"

namespace rorarodi {

ByteUtf8Table::ByteUtf8Table(const Utf8Page& page) {
    for (size_t byte = 0; byte < forms_.size(); ++byte) {
        const char c = static_cast<char>(byte);
        const std::string form = page.to_utf8(std::string_view(&c, 1));
        const size_t length = form.size() < sizeof(uint32_t) ? form.size() : sizeof(uint32_t);
        std::memcpy(&forms_[byte], form.data(), length);
        lengths_[byte] = static_cast<uint8_t>(length);
        const bool kept = byte < 0x80 ? form == std::string(1, c)
                                      : !form.empty() && std::all_of(form.begin(), form.end(), [](char b) {
                                            return static_cast<unsigned char>(b) >= 0x80;
                                        });
        if (!kept) keeps_ascii_ = false;
    }
}

char* ByteUtf8Table::convert(std::string_view text, char* to) const {
    const auto* from = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    // Eight bytes at a time: all ASCII (padding mostly) copied as they are, any
    // other eight each written as its four-byte form, the end moved by its length.
    for (uint64_t word; i + 8 <= size; i += 8) {
        std::memcpy(&word, from + i, 8);
        if (high_bytes(word) == 0) {
            std::memcpy(to, from + i, 8);
            to += 8;
            continue;
        }
        // The bytes are taken apart in a local copy: stores through `to` cannot
        // change it, so nothing is read twice.
        unsigned char bytes[8];
        std::memcpy(bytes, &word, 8);
        for (unsigned char byte : bytes) {
            std::memcpy(to, &forms_[byte], 4);
            to += lengths_[byte];
        }
    }
    for (; i < size; ++i) {
        std::memcpy(to, &forms_[from[i]], 4);
        to += lengths_[from[i]];
    }
    return to;
}

void ByteUtf8Table::append(std::string& out, std::string_view text) const {
    constexpr size_t kWord = 8;
    size_t i = 0, ascii_from = 0;
    for (uint64_t word; i + kWord <= text.size(); i += kWord) {
        std::memcpy(&word, text.data() + i, kWord);
        if (high_bytes(word) == 0) continue;
        // ASCII so far goes as it is; the word with other bytes through the table.
        out.append(text.data() + ascii_from, i - ascii_from);
        char converted[room_for(kWord)];
        out.append(converted, static_cast<size_t>(convert(text.substr(i, kWord), converted) - converted));
        ascii_from = i + kWord;
    }
    size_t end = i;
    while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) ++end;
    out.append(text.data() + ascii_from, end - ascii_from);
    if (end == text.size()) return;
    char converted[room_for(kWord)];
    out.append(converted, static_cast<size_t>(convert(text.substr(end), converted) - converted));
}

} // namespace rorarodi
