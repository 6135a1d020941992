#include "commands/password.h"

namespace rorarodi {

void handle_psw(const std::string&) {}
void handle_encode(const std::string&) {}
void handle_decode(const std::string&) {}

} // namespace rorarodi
