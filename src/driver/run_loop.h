// Program entry and run loop: single-purpose forms, pattern expansion, the per-file
// steps, and parameter-list files (the INI file and '@' files).
#pragma once
#include <string>

namespace rorarodi {

struct Session;

// The whole program; returns the exit status.
int run_program(int argc, char** argv);

// Applies every parameter line of a list file; false when it cannot be opened.
// `depth` counts the list files being read around this one.
bool read_parameter_list(Session& session, const std::string& path, int depth = 0);

} // namespace rorarodi
