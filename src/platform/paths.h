// Path splitting, pattern search and letter-case fallback for companion files.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace rorarodi {

// The parts of a path as the table code names them; `directory` keeps its
// trailing separator.
struct PathParts {
    std::string directory;
    std::string name;
    std::string extension; // with its leading '.', or empty
};

// Splits at the last '/' or '\', whichever comes later; the extension starts at
// the last '.' of the file-name part.
PathParts split_path(const std::string& path);

// The path with the extension of its file-name part replaced by `extension`
// (appended when there is none): "dir/a.dbf" with ".bak" gives "dir/a.bak".
std::string with_extension(const std::string& path, std::string_view extension);

// Position of the last '/' or '\' in `path`, or npos.
size_t last_separator(const std::string& path);

// Names of the regular files matching the pattern's last component ('*' and '?',
// ASCII letter case ignored), in ascending byte order, each prefixed with the
// pattern's directory part. A pattern without wildcards names one file (exactly,
// or else a file differing only in letter case); a directory named exactly is
// returned too, so that opening it fails as a table.
std::vector<std::string> find_matches(const std::string& pattern);

// Case-insensitive wildcard match of a whole name.
bool wildcard_match(const std::string& pattern, const std::string& name);

// The name itself when such a file exists; otherwise a file of the same directory
// whose name differs only in letter case; otherwise the name unchanged.
std::string resolve_companion_name(const std::string& name);
// The same for a companion derived from the table file `owner`: a file found by its
// letter case is passed over when it belongs to another table, that is when the
// directory holds a table other than `owner` whose base name matches the file's
// exactly (`A.FPT` beside `A.DBF` is not the memo file of `a.dbf`).
std::string resolve_companion_name(const std::string& name, const std::string& owner);

// True when an argument beginning with '/' is an absolute table path rather than
// a parameter: it holds a second '/' and the text before its last '/' is an
// existing directory.
bool is_absolute_table_path(const std::string& argument);

// Directory (with trailing '/') of the running program: from argv[0] when it has a
// directory part, otherwise from /proc/self/exe.
std::string program_directory(const char* argv0);

} // namespace rorarodi
