// The Visual FoxPro `_NullFlags` bits of a value copied into a field of another
// table: a null bit for each nullable field, a length bit for each V and Q field.
// A copy computes them for its target field, since the bits of the same field may
// lie elsewhere in the target (other fields selected, a field redefined), and a V
// value may have another width there.
#pragma once
#include <cstddef>
#include <string_view>

#include "table/table.h"

namespace rorarodi {

// Sets or clears bit `bit` of the table's `_NullFlags` field in the record buffer;
// nothing for a bit the field does not hold.
void set_null_flag(DbfTable& table, int bit, bool set);

// Flags the value just stored into `field` of the record buffer: its null bit,
// when the field has one, says whether the value was null (a field without one
// takes the blank value for a null: bytes a null value still holds are no value);
// for a V or Q field, its length bit and last byte give `length` when the value is
// shorter than the field, and the bit is clear when the value fills it.
void flag_copied_value(DbfTable& table, int field, bool null, size_t length);

// The length a V or Q field gets from a text stored whole into it: the text up to
// its first zero byte, at most the field's width.
size_t stored_text_length(const DbfTable& table, int field, std::string_view text);

// True when a field of the table has a null bit or a length bit.
bool has_null_flag_bits(const DbfTable& table, int field);

} // namespace rorarodi
