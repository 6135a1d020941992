#include "table/byte_utf8.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace rorarodi {

ByteUtf8Table::ByteUtf8Table(const Utf8Page& page) {
    for (size_t byte = 0; byte < forms_.size(); ++byte) {
        const char c = static_cast<char>(byte);
        const std::string form = page.to_utf8(std::string_view(&c, 1));
        Utf8Page::Encoded& slot = forms_[byte];
        slot.length = static_cast<uint8_t>(form.size() < slot.bytes.size() ? form.size() : slot.bytes.size());
        std::memcpy(slot.bytes.data(), form.data(), slot.length);
    }
}

char* ByteUtf8Table::convert(std::string_view text, char* to) const {
    const auto* from = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        // ASCII runs are copied whole, found eight bytes at a time.
        size_t run = i;
        for (uint64_t word; run + 8 <= size && (std::memcpy(&word, from + run, 8), (word & 0x8080808080808080u) == 0);)
            run += 8;
        while (run < size && from[run] < 0x80) ++run;
        std::memcpy(to, from + i, run - i);
        to += run - i;
        // Any other byte is copied as its four-byte slot, the end moved by its length.
        for (i = run; i < size && from[i] >= 0x80; ++i) {
            const Utf8Page::Encoded& form = forms_[from[i]];
            std::memcpy(to, form.bytes.data(), 4);
            to += form.length;
        }
    }
    return to;
}

} // namespace rorarodi
