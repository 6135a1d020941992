#include "table/field_text.h"

#include <cstring>

#include "table/dbf_format.h"

namespace rorarodi {

uint32_t field_width(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field_table[static_cast<size_t>(field)];
    if (f.type == 'C') return static_cast<uint32_t>(f.length) | (static_cast<uint32_t>(f.decimals) << 8);
    return f.length;
}

const char* field_type_name(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field_table[static_cast<size_t>(field)];
    return type_name_for(f.type, f.length);
}

uint8_t field_blank_byte(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field_table[static_cast<size_t>(field)];
    switch (f.type) {
    case 'C': case 'D': case 'F': case 'L': case 'N': case 'V': return ' ';
    case 'G': case 'M': return (f.length == 10 && table.version() != 0xE5) ? ' ' : 0;
    case 'T': case '@': return f.length == 14 ? ' ' : 0;
    case 'B': return (f.length == 8 || f.length == 4) ? 0 : ' ';
    default: return 0;
    }
}

void blank_field(DbfTable& table, int field) {
    const FieldDescriptor& f = table.field_table[static_cast<size_t>(field)];
    uint32_t width = field_width(table, field);
    if (f.offset + width > table.record_buffer.size()) return;
    std::memset(table.record_buffer.data() + f.offset, field_blank_byte(table, field), width);
}

} // namespace rorarodi

namespace rorarodi {

// Placeholders until the text forms are written.
const char* field_text(DbfTable& table, int) { table.text_buffer.assign(kTextBufferSize, 0); return table.text_buffer.data(); }
double field_number(DbfTable&, int) { return 0; }
bool field_is_numeric(const DbfTable&, int) { return false; }
bool field_is_memo(const DbfTable& table, int field) { return is_memo_type(table.field_table[field].type, field_width(table, field)); }
uint32_t field_display_width(const DbfTable& table, int field) { return field_width(table, field); }
void set_field(DbfTable&, int, const char*, double) {}
void set_date_separator(DbfTable&, char) {}
bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
DateParts decode_date_parts(DbfTable&, int) { return DateParts{}; }
bool date_parts_valid(const DateParts&) { return false; }
void store_date_parts(DbfTable&, int, int, int, int, int, int, int) {}
int32_t julian_day_number(int, int, int) { return 0; }
void julian_day_to_date(int32_t, int&, int&, int&) {}
bool memo_reference_present(DbfTable&, int) { return false; }
uint32_t memo_block_number(DbfTable&, int) { return 0; }
int32_t field_integer(const DbfTable&, int) { return 0; }
void store_field_integer(DbfTable&, int, int32_t) {}

} // namespace rorarodi
