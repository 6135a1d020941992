#include "commands/maintenance.h"

namespace rorarodi {

// Recognised now; their work is added with the maintenance commands.
void handle_append(const std::string&) {}
void handle_cpzero(const std::string&) {}
void handle_trunc(const std::string&) {}
void handle_check(const std::string&) {}
void handle_blank(const std::string&) {}
void handle_make(const std::string&) {}
void handle_pack(const std::string&) {}
void handle_zap(const std::string&) {}
void handle_cdx(const std::string&) {}

} // namespace rorarodi
