// Program entry and run loop: single-purpose forms, pattern expansion, the per-file
// steps, and parameter-list files (the INI file and '@' files).
#pragma once
#include <string>

namespace rorarodi {

// The whole program; returns the exit status.
int run_program(int argc, char** argv);

// Applies every parameter line of a list file; false when it cannot be opened.
// Nested list files are read up to a fixed depth, and never one that is already
// being read around the line that names it.
bool read_parameter_list(const std::string& path);

// Drive + directory + the file-name part of `name` + extension.
std::string make_sibling_path(const std::string& drive, const std::string& directory, const std::string& name,
                              const std::string& extension);
// The file-name part of `name` placed in the directory of `base_path`.
std::string path_beside(const std::string& base_path, const std::string& name);

} // namespace rorarodi
