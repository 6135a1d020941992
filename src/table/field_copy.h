// Copies of a field value between tables (append from a table, the table output,
// /MODIFY): the same rules in all three, so that a value travels the same way
// whichever of them carries it.
#pragma once

#include <string_view>

#include "table/table.h"

namespace rorarodi {

// How a target field takes the value of a source field.
enum class FieldTransfer {
    text_and_number,  // through the text form and the number
    bytes,            // same type, width and decimals: the stored bytes as they are
    character,        // C into C of another width: the bytes up to the first zero byte
    logical,          // L into L of another width: the letter, upper-cased, when it is one of YNFT01
};

// True when a target field holds exactly what the source field holds: the same
// type, length and decimals (so the same storage width), neither a memo field nor
// a text field (C and V take their text, which an output may convert), and binary
// integers laid out alike in both tables.
bool same_field_shape(const DbfTable& source, int source_field, const DbfTable& target, int target_field);

// The transfer for a pair of fields of an opened source and target table.
FieldTransfer plan_field_transfer(const DbfTable& source, int source_field, const DbfTable& target, int target_field);

// Copies the value directly for a direct transfer; false for text_and_number,
// when the caller stores the text and number instead. The target field is blank
// beforehand.
[[nodiscard]] bool transfer_field_directly(FieldTransfer transfer, const DbfTable& source, int source_field, DbfTable& target,
                                           int target_field);

// Stores a copied value into a field of another shape. A number field takes the
// number with as many of its decimals as fit, rounded (never blanked while its
// integer digits fit); a character field given a number's text takes it whole, or
// the shortest text that reads back as the same number, or the text cut after its
// integer digits, or else is filled with '*'. Every other field takes the text and
// number as set_field stores them.
void store_copied_value(DbfTable& target, int field, std::string_view text, double number, bool numeric_source);

} // namespace rorarodi
