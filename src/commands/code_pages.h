// Code pages: the translation tables and the code-page pair of the session, and
// the /OEM2ANSI and /ANSI2OEM conversions of a whole table.
#pragma once
#include <string>

#include "table/table.h"

namespace rorarodi {

struct Session;

// Installs the translation-table hooks of the session into a freshly opened table.
void install_conversion_hooks(const Session& session, DbfTable& table);

void handle_oem2ansi(Session& session, const std::string& argument);
void handle_ansi2oem(Session& session, const std::string& argument);
void handle_normal_table(Session& session, const std::string& argument);
void handle_lowercase_table(Session& session, const std::string& argument);
void handle_uppercase_table(Session& session, const std::string& argument);
void handle_table_oem(Session& session, const std::string& argument);
void handle_table_ansi(Session& session, const std::string& argument);
// CodePages=OEM,ANSI: chooses the code-page pair; the first accepted value is kept.
void handle_code_pages(Session& session, const std::string& argument);

} // namespace rorarodi
