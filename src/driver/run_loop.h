// Program entry and run loop: single-purpose forms, pattern expansion, the per-file
// steps, and parameter-list files (the INI file and '@' files).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

// The whole program; returns the exit status.
int run_program(int argc, char** argv);

// Applies every parameter line of a list file; false when it cannot be opened.
// Nested list files are read up to a fixed depth, and never one that is already
// being read around the line that names it.
[[nodiscard]] bool read_parameter_list(Session& session, const std::string& path);

} // namespace rorarodi
