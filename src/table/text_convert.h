// Text conversion and case rules of a table: OEM/ANSI conversion through the
// table's translation hooks or its code-page pair, and the upper-casing used for
// case-insensitive keys and comparisons.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/code_pages.h"
#include "table/table.h"

namespace rorarodi {

// In-place conversions through the table's hooks, else its code-page pair. Text
// in a double-byte page (text_code_page) stays as it is: such a page serves as
// both OEM and ANSI page.
void to_oem(const DbfTable& table, unsigned char* text, size_t length);
void from_oem(const DbfTable& table, unsigned char* text, size_t length);
// The code page of the table's text: the page its code-page mark names when it is a
// known text page, otherwise the ANSI page of its pair for ANSI text (/ANSI), else
// the pair's OEM page. Follows the mark as it is now (/CPZERO changes it).
int text_code_page(const DbfTable& table);
// The UTF-8 conversion tables of that page.
const Utf8Page& text_utf8_page(const DbfTable& table);
// Those tables when the page is a double-byte one, else nothing.
const Utf8Page* double_byte_page(const DbfTable& table);

// Table text as a listing shows it: up to its first NUL, filled with spaces to
// `width` characters, then converted to UTF-8 when `utf8` is given (the filling
// counts characters, so columns stay aligned in UTF-8 too).
std::string listed_text(const Utf8Page* utf8, std::string_view text, size_t width = 0);

// The upper-casings below change only ASCII letters of text in a double-byte page,
// never the second byte of a character.

// Upper-cases a NUL-terminated text when the table's case-insensitive option is on.
void upper_case_key(const DbfTable& table, char* text);
// Upper-cases a NUL-terminated text by the letters of the table's ANSI page.
void upper_case_ansi(const DbfTable& table, char* text);
// Upper-cases a NUL-terminated text by the OEM rule: for page 866 the Latin letters
// and the Cyrillic letters 0xA0-0xAF and 0xE0-0xEF; for other pages their letters.
void upper_case_oem(const DbfTable& table, char* text);

} // namespace rorarodi
