// Table password and encryption (/PSW, /ENCODE, /DECODE).
#pragma once
#include <string>

namespace rorarodi {

void handle_psw(const std::string& argument);
void handle_encode(const std::string& argument);
void handle_decode(const std::string& argument);

} // namespace rorarodi
