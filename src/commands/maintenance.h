// Simple maintenance commands: pack, zap, truncate, append, blank, header bytes,
// header check and empty copies of the structure.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

void handle_append(Session& session, const std::string& argument);
void handle_cpzero(Session& session, const std::string& argument);
void handle_trunc(Session& session, const std::string& argument);
void handle_check(Session& session, const std::string& argument);
void handle_blank(Session& session, const std::string& argument);
void handle_make(Session& session, const std::string& argument);
void handle_pack(Session& session, const std::string& argument);
void handle_zap(Session& session, const std::string& argument);
void handle_cdx(Session& session, const std::string& argument);

} // namespace rorarodi
