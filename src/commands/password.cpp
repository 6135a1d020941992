#include "commands/password.h"

namespace rorarodi {

void handle_psw(Session& session, const std::string&) {}
void handle_encode(Session& session, const std::string&) {}
void handle_decode(Session& session, const std::string&) {}

} // namespace rorarodi
