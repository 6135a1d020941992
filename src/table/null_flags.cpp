#include "table/null_flags.h"

#include <algorithm>

#include "table/field_text.h"

namespace rorarodi {

void set_null_flag(DbfTable& table, int bit, bool set) {
    if (bit < 0 || table.null_flags_field < 0) return;
    const FieldDescriptor& flags = table.field(table.null_flags_field);
    if (static_cast<size_t>(bit) / 8 >= field_stored_bytes(table, table.null_flags_field).size()) return;
    uint8_t& byte = table.record_buffer[flags.offset + static_cast<size_t>(bit) / 8];
    const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
    byte = set ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
}

void flag_copied_value(DbfTable& table, int field, bool null, size_t length) {
    const FieldDescriptor& f = table.field(field);
    if (null) {
        if (f.null_bit >= 0) {
            set_null_flag(table, f.null_bit, true);
            return;
        }
        blank_field(table, field);
        length = 0;
    }
    if (f.length_bit < 0) return;
    const size_t width = field_stored_bytes(table, field).size();
    if (width == 0) return;
    const bool shorter = length < width;
    set_null_flag(table, f.length_bit, shorter);
    // The length byte is the field's last; a value this short never reaches it.
    if (shorter) table.record_buffer[f.offset + width - 1] = static_cast<uint8_t>(length);
}

size_t stored_text_length(const DbfTable& table, int field, std::string_view text) {
    return std::min(text.substr(0, text.find('\0')).size(), field_stored_bytes(table, field).size());
}

bool has_null_flag_bits(const DbfTable& table, int field) {
    return table.field(field).null_bit >= 0 || table.field(field).length_bit >= 0;
}

} // namespace rorarodi
