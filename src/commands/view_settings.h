// Settings of the open table's view and records: the filter, the text forms of
// fields (trim, date layout, code page, case), the field layout and order
// direction, backups, expression quotes and the kind of new tables.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_filter(Session& session, const std::string& argument);
void handle_type(Session& session, const std::string& argument);
void handle_trim(Session& session, const std::string& argument);
void handle_date(Session& session, const std::string& argument);
void handle_ignorequotes(Session& session, const std::string& argument);
void handle_browse(Session& session, const std::string& argument);
void handle_fields(Session& session, const std::string& argument);
void handle_desc(Session& session, const std::string& argument);
void handle_asc(Session& session, const std::string& argument);
void handle_ansi(Session& session, const std::string& argument);
void handle_oem(Session& session, const std::string& argument);
void handle_case(Session& session, const std::string& argument);
void handle_bak(Session& session, const std::string& argument);

} // namespace rorarodi
