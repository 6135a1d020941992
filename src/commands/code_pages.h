// Code pages: OEM/ANSI conversions, translation tables, upper-casing, and the
// /OEM2ANSI and /ANSI2OEM conversions of a whole table.
#pragma once
#include <cstddef>
#include <string>

#include "table/table.h"

namespace rorarodi {

// In-place conversions through the table's hooks, else the system code pages.
void to_oem(DbfTable& table, unsigned char* text, size_t length);
void from_oem(DbfTable& table, unsigned char* text, size_t length);
// Upper-cases a NUL-terminated text when the table's case-insensitive option is on.
void upper_case_key(DbfTable& table, char* text);
// Upper-cases a NUL-terminated text by the ANSI page (the system upper-casing).
void upper_case_ansi(char* text);
// Upper-cases a NUL-terminated text by the OEM rule: for page 866 the Latin letters
// and the Cyrillic letters 0xA0-0xAF and 0xE0-0xEF; for other pages their letters.
void upper_case_oem(char* text);

// Installs the translation-table hooks into a freshly opened table.
void install_conversion_hooks(DbfTable& table);

void handle_oem2ansi(const std::string& argument);
void handle_ansi2oem(const std::string& argument);
void handle_normal_table(const std::string& argument);
void handle_lowercase_table(const std::string& argument);
void handle_uppercase_table(const std::string& argument);
void handle_table_oem(const std::string& argument);
void handle_table_ansi(const std::string& argument);
// CodePages=OEM,ANSI: chooses the code-page pair; the first accepted value is kept.
void handle_code_pages(const std::string& argument);

// Back to the default code-page pair, with no CodePages= value given yet.
void reset_code_page_choice();

} // namespace rorarodi
