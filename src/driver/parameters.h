// Handlers of the settings parameters: version, quotes, line breaks, table kind,
// trim, date, output, filter text and the calculator.
#pragma once
#include <string>

namespace rorarodi {

constexpr int kVersionNumber = 296;

// "Version 1.40 compiled at <build date and time>" with a line end.
void print_version_line();
// The usage text of the program.
void print_usage();

void handle_version(const std::string& argument);
void handle_verbose(const std::string& argument);
void handle_quotes(const std::string& argument);
void handle_filter(const std::string& argument);
void handle_calc(const std::string& argument);
void handle_crlf(const std::string& argument);
void handle_type(const std::string& argument);
void handle_trim(const std::string& argument);
void handle_date(const std::string& argument);
void handle_out(const std::string& argument);
void handle_usage(const std::string& argument);

// Settings that the dispatcher stores without a traced handler.
void handle_ignorequotes(const std::string& argument);
void handle_sql2000(const std::string& argument);
void handle_browse(const std::string& argument);
void handle_fields(const std::string& argument);
void handle_escape(const std::string& argument);
void handle_2ansi(const std::string& argument);
void handle_2oem(const std::string& argument);
void handle_desc(const std::string& argument);
void handle_asc(const std::string& argument);
void handle_ansi(const std::string& argument);
void handle_oem(const std::string& argument);
void handle_case(const std::string& argument);
void handle_name(const std::string& argument);
void handle_memo(const std::string& argument);
void handle_del(const std::string& argument);
void handle_bak(const std::string& argument);
void handle_hdr(const std::string& argument);

} // namespace rorarodi
