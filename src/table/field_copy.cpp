#include "table/field_copy.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/text.h"
#include "table/field_store.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

const uint8_t* bytes_of(const DbfTable& table, int field) {
    return table.record_buffer.data() + table.field(field).offset;
}

uint8_t* bytes_of(DbfTable& table, int field) {
    return table.record_buffer.data() + table.field(field).offset;
}

// Binary integers whose byte order follows the table's layout (big-endian in level 7).
bool is_layout_integer(char type) { return type == 'I' || type == '+'; }

// The text of `text` with the blanks around it removed.
std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A number's text for a character field of `width` characters (see store_copied_value).
std::string character_number_text(std::string_view text, double number, size_t width) {
    text = trimmed(text);
    if (text.size() <= width) return std::string(text);
    char shortest[32];
    const auto printed = std::to_chars(shortest, shortest + sizeof shortest, number);
    if (printed.ec == std::errc() && static_cast<size_t>(printed.ptr - shortest) <= width)
        return std::string(shortest, printed.ptr);
    const size_t point = text.find('.');
    if (point != std::string_view::npos && point <= width) return std::string(text.substr(0, width));
    return std::string(width, '*');
}

} // namespace

bool same_field_shape(const DbfTable& source, int source_field, const DbfTable& target, int target_field) {
    const FieldDescriptor& s = source.field(source_field);
    const FieldDescriptor& t = target.field(target_field);
    if (s.type != t.type || s.length != t.length || s.decimals != t.decimals) return false;
    if (field_is_memo(source, source_field) || field_is_memo(target, target_field)) return false;
    if (s.type == 'C' || s.type == 'V') return false;
    if (is_layout_integer(s.type) && source.level7 != target.level7) return false;
    return static_cast<size_t>(s.offset) + field_width(source, source_field) <= source.record_buffer.size() &&
           static_cast<size_t>(t.offset) + field_width(target, target_field) <= target.record_buffer.size();
}

FieldTransfer plan_field_transfer(const DbfTable& source, int source_field, const DbfTable& target, int target_field) {
    const FieldDescriptor& s = source.field(source_field);
    const FieldDescriptor& t = target.field(target_field);
    if (same_field_shape(source, source_field, target, target_field)) return FieldTransfer::bytes;
    if (s.type == 'C' && t.type == 'C') return FieldTransfer::character;
    if (s.type == 'L' && t.type == 'L' && s.length >= 1 && t.length >= 1) return FieldTransfer::logical;
    return FieldTransfer::text_and_number;
}

bool transfer_field_directly(FieldTransfer transfer, const DbfTable& source, int source_field, DbfTable& target,
                             int target_field) {
    const uint8_t* from = bytes_of(source, source_field);
    uint8_t* to = bytes_of(target, target_field);
    switch (transfer) {
    case FieldTransfer::bytes:
        std::memcpy(to, from, field_width(source, source_field));
        return true;
    case FieldTransfer::character: {
        // The text form stops at a zero byte; the target keeps its blanks after it.
        const size_t width = field_width(source, source_field);
        const void* zero = std::memchr(from, 0, width);
        const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - from) : width;
        std::memcpy(to, from, std::min<size_t>(length, field_width(target, target_field)));
        return true;
    }
    case FieldTransfer::logical: {
        const char c = ascii_upper(static_cast<char>(from[0]));
        to[0] = c != 0 && std::strchr("YNFT01", c) ? static_cast<uint8_t>(c) : ' ';
        return true;
    }
    case FieldTransfer::text_and_number: break;
    }
    return false;
}

void store_copied_value(DbfTable& target, int field, std::string_view text, double number, bool numeric_source) {
    const FieldDescriptor& f = target.field(field);
    if (f.type == 'N' || f.type == 'F') {
        (void)store_fitted_number(target, field, number);
        return;
    }
    if (numeric_source && f.type == 'C') {
        const std::string fitted = character_number_text(text, number, field_width(target, field));
        set_field(target, field, fitted, number);
        return;
    }
    set_field(target, field, text, number);
}

} // namespace rorarodi
