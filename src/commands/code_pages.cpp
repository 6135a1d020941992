#include "commands/code_pages.h"

namespace rorarodi {

void to_oem(DbfTable&, unsigned char*, size_t) {}
void from_oem(DbfTable&, unsigned char*, size_t) {}
void upper_case_key(DbfTable&, char*) {}
void upper_case_ansi(char*) {}
void install_conversion_hooks(DbfTable&) {}
void handle_oem2ansi(const std::string&) {}
void handle_ansi2oem(const std::string&) {}
void handle_normal_table(const std::string&) {}
void handle_lowercase_table(const std::string&) {}
void handle_uppercase_table(const std::string&) {}
void handle_table_oem(const std::string&) {}
void handle_table_ansi(const std::string&) {}
void handle_code_pages(const std::string&) {}

} // namespace rorarodi
