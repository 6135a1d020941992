// Handlers of the settings parameters: version, quotes, line breaks, table kind,
// trim, date, output, filter text and the calculator.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

constexpr int kVersionNumber = 296;

// "Version 1.40 compiled at <build date and time>" with a line end.
void print_version_line();

void handle_version(Session& session, const std::string& argument);
void handle_verbose(Session& session, const std::string& argument);
void handle_quotes(Session& session, const std::string& argument);
void handle_filter(Session& session, const std::string& argument);
void handle_calc(Session& session, const std::string& argument);
void handle_crlf(Session& session, const std::string& argument);
void handle_type(Session& session, const std::string& argument);
void handle_trim(Session& session, const std::string& argument);
void handle_date(Session& session, const std::string& argument);
void handle_out(Session& session, const std::string& argument);
void handle_usage(Session& session, const std::string& argument);

// Settings that the dispatcher stores without a traced handler.
void handle_ignorequotes(Session& session, const std::string& argument);
void handle_sql2000(Session& session, const std::string& argument);
void handle_browse(Session& session, const std::string& argument);
void handle_fields(Session& session, const std::string& argument);
void handle_escape(Session& session, const std::string& argument);
void handle_2ansi(Session& session, const std::string& argument);
void handle_2oem(Session& session, const std::string& argument);
void handle_utf8(Session& session, const std::string& argument);
void handle_desc(Session& session, const std::string& argument);
void handle_asc(Session& session, const std::string& argument);
void handle_ansi(Session& session, const std::string& argument);
void handle_oem(Session& session, const std::string& argument);
void handle_case(Session& session, const std::string& argument);
void handle_name(Session& session, const std::string& argument);
void handle_memo(Session& session, const std::string& argument);
void handle_del(Session& session, const std::string& argument);
void handle_bak(Session& session, const std::string& argument);
void handle_hdr(Session& session, const std::string& argument);

} // namespace rorarodi
