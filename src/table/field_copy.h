// Direct copies of a field value between tables where storing the value's text and
// number (set_field) would give exactly the source bytes back: appends from another
// table then skip formatting and parsing for the common cases.
#pragma once

#include "table/table.h"

namespace rorarodi {

// How a target field takes the value of a source field.
enum class FieldTransfer {
    text_and_number,  // through the text form and the number
    character,        // C into C: the bytes up to the first zero byte
    logical,          // L into L: the letter, upper-cased, when it is one of YNFT01
    number_text,      // N or F into N or F of the same length and decimals
    date,             // D into D, both eight characters wide
};

// The transfer for a pair of fields of an opened source and target table. The
// direct ones assume the source's text forms are untrimmed (a freshly opened table)
// and that both tables show dates in the same mode.
FieldTransfer plan_field_transfer(const DbfTable& source, int source_field, const DbfTable& target, int target_field);

// Copies the value directly for a direct transfer; false when the transfer is
// through text and number, or when the value is not in the form the direct copy
// reproduces (a number not written as its own formatting, a date that is not a
// valid date written in digits), and the caller must
// store the text and number instead. The target field is blank beforehand.
[[nodiscard]] bool transfer_field_directly(FieldTransfer transfer, const DbfTable& source, int source_field, DbfTable& target,
                             int target_field);

} // namespace rorarodi
