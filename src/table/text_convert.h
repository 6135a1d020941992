// Text conversion and case rules of a table: OEM/ANSI conversion through the
// table's translation hooks or its code-page pair, and the upper-casing used for
// case-insensitive keys and comparisons.
#pragma once
#include <cstddef>

#include "table/table.h"

namespace rorarodi {

// In-place conversions through the table's hooks, else its code-page pair.
void to_oem(const DbfTable& table, unsigned char* text, size_t length);
void from_oem(const DbfTable& table, unsigned char* text, size_t length);
// Upper-cases a NUL-terminated text when the table's case-insensitive option is on.
void upper_case_key(const DbfTable& table, char* text);
// Upper-cases a NUL-terminated text by the letters of the table's ANSI page.
void upper_case_ansi(const DbfTable& table, char* text);
// Upper-cases a NUL-terminated text by the OEM rule: for page 866 the Latin letters
// and the Cyrillic letters 0xA0-0xAF and 0xE0-0xEF; for other pages their letters.
void upper_case_oem(const DbfTable& table, char* text);

} // namespace rorarodi
