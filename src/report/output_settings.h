// Settings of what listings and exports write: the output file and its format,
// quotes, escapes, line breaks, code-page conversion, names, memos, deletion marks
// and header line; and /CALC, which prints a computed value.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_out(Session& session, const std::string& argument);
void handle_quotes(Session& session, const std::string& argument);
void handle_crlf(Session& session, const std::string& argument);
void handle_calc(Session& session, const std::string& argument);
void handle_sql2000(Session& session, const std::string& argument);
void handle_escape(Session& session, const std::string& argument);
void handle_2ansi(Session& session, const std::string& argument);
void handle_2oem(Session& session, const std::string& argument);
void handle_utf8(Session& session, const std::string& argument);
void handle_name(Session& session, const std::string& argument);
void handle_memo(Session& session, const std::string& argument);
void handle_del(Session& session, const std::string& argument);
void handle_hdr(Session& session, const std::string& argument);
// /REPLACE[+|-]: the first export of the run into each output replaces it.
void handle_replace(Session& session, const std::string& argument);

} // namespace rorarodi
