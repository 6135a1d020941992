// Table password and encryption (/PSW, /ENCODE, /DECODE).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_psw(Session& session, const std::string& argument);
void handle_encode(Session& session, const std::string& argument);
void handle_decode(Session& session, const std::string& argument);

} // namespace rorarodi
