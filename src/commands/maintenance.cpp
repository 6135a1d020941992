#include "commands/maintenance.h"

namespace rorarodi {

// Recognised now; their work is added with the maintenance commands.
void handle_append(Session& session, const std::string&) {}
void handle_cpzero(Session& session, const std::string&) {}
void handle_trunc(Session& session, const std::string&) {}
void handle_check(Session& session, const std::string&) {}
void handle_blank(Session& session, const std::string&) {}
void handle_make(Session& session, const std::string&) {}
void handle_pack(Session& session, const std::string&) {}
void handle_zap(Session& session, const std::string&) {}
void handle_cdx(Session& session, const std::string&) {}

} // namespace rorarodi
