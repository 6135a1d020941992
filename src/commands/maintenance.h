// Simple maintenance commands: pack, zap, truncate, append, blank, header bytes,
// header check and empty copies of the structure.
#pragma once
#include <string>

namespace rorarodi {

void handle_append(const std::string& argument);
void handle_cpzero(const std::string& argument);
void handle_trunc(const std::string& argument);
void handle_check(const std::string& argument);
void handle_blank(const std::string& argument);
void handle_make(const std::string& argument);
void handle_pack(const std::string& argument);
void handle_zap(const std::string& argument);
void handle_cdx(const std::string& argument);

} // namespace rorarodi
