#include "table/field_copy.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

// Significant digits that a double carries through text and back unchanged.
constexpr size_t kExactDigits = 15;

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

bool is_number_text_type(char type) { return type == 'N' || type == 'F'; }

const uint8_t* bytes_of(const DbfTable& table, int field) {
    return table.record_buffer.data() + table.field_table[static_cast<size_t>(field)].offset;
}

// True when a number field holds its value exactly as formatting that value gives
// it: right-aligned, an optional '-', an integer part without leading zeros, the
// point and all the decimals, and few enough digits to survive the round trip
// through a double. Blank, comma-written or otherwise unusual values are not.
bool in_formatted_form(const uint8_t* text, size_t length, unsigned decimals) {
    size_t i = 0;
    while (i < length && text[i] == ' ') ++i;
    if (i < length && text[i] == '-') ++i;
    const size_t integer_start = i;
    while (i < length && is_digit(text[i])) ++i;
    const size_t integer_digits = i - integer_start;
    if (integer_digits == 0 || (integer_digits > 1 && text[integer_start] == '0')) return false;
    if (decimals > 0) {
        if (i >= length || text[i] != '.') return false;
        const size_t fraction_start = ++i;
        while (i < length && is_digit(text[i])) ++i;
        if (i - fraction_start != decimals) return false;
    }
    if (i != length) return false;
    const bool zero_integer = integer_digits == 1 && text[integer_start] == '0';
    return (zero_integer ? 0 : integer_digits) + decimals <= kExactDigits;
}

} // namespace

FieldTransfer plan_field_transfer(const DbfTable& source, int source_field, const DbfTable& target, int target_field) {
    const FieldDescriptor& s = source.field_table[static_cast<size_t>(source_field)];
    const FieldDescriptor& t = target.field_table[static_cast<size_t>(target_field)];
    if (s.type == 'C' && t.type == 'C') return FieldTransfer::character;
    if (s.type == 'L' && t.type == 'L' && s.length >= 1 && t.length >= 1) return FieldTransfer::logical;
    if (is_number_text_type(s.type) && is_number_text_type(t.type) && s.length == t.length && s.decimals == t.decimals)
        return FieldTransfer::number_text;
    if (s.type == 'D' && t.type == 'D' && s.length == 8 && t.length == 8 && source.options.date_mode == target.options.date_mode)
        return FieldTransfer::date;
    return FieldTransfer::text_and_number;
}

bool transfer_field_directly(FieldTransfer transfer, const DbfTable& source, int source_field, DbfTable& target,
                             int target_field) {
    const uint8_t* from = bytes_of(source, source_field);
    uint8_t* to = target.record_buffer.data() + target.field_table[static_cast<size_t>(target_field)].offset;
    switch (transfer) {
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
    case FieldTransfer::number_text: {
        const FieldDescriptor& f = source.field_table[static_cast<size_t>(source_field)];
        if (!in_formatted_form(from, f.length, f.decimals)) return false;
        std::memcpy(to, from, f.length);
        return true;
    }
    case FieldTransfer::date:
        // A valid date as eight digits: its text form in any date mode reads back
        // as the same year, month and day, stored as these same digits.
        if (!is_compact_date(from)) return false;
        std::memcpy(to, from, 8);
        return true;
    case FieldTransfer::text_and_number: break;
    }
    return false;
}

} // namespace rorarodi
