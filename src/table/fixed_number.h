// Storing a number into an N or F field quickly when its digits can be had from a
// 64-bit integer: the same text as "%*.*f" (the exact binary value rounded half to
// even), worked out without the general conversion.
#pragma once

#include "table/table.h"

namespace rorarodi {

// Writes "%*.*f" of `number` with `width` and `decimals` into `out` (room for at
// least 64 bytes) and returns its length; -1 when the number is not finite, when
// `decimals` is above 22 or when the number times 10^decimals is not below 2^51
// (then only the general conversion gives the text).
int print_fixed_quickly(char* out, double number, int width, int decimals);

// Stores a number into an N or F field as store_number_text does (the text that
// "%*.*f" gives with the field's length and decimals; ".5" where no integer digit
// fits; nothing stored when it does not fit). False when it cannot tell quickly:
// the caller stores the number the general way then.
[[nodiscard]] bool store_fixed_number_quickly(DbfTable& table, int field, double number);

} // namespace rorarodi
