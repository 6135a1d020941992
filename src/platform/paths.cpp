#include "platform/paths.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/text.h"

namespace rorarodi {

size_t last_separator(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t back = path.rfind('\\');
    if (slash == std::string::npos) return back;
    if (back == std::string::npos) return slash;
    return std::max(slash, back);
}

PathParts split_path(const std::string& path) {
    PathParts parts;
    size_t sep = last_separator(path);
    std::string file = path;
    if (sep != std::string::npos) {
        parts.directory = path.substr(0, sep + 1);
        file = path.substr(sep + 1);
    }
    size_t dot = file.rfind('.');
    if (dot != std::string::npos) {
        parts.name = file.substr(0, dot);
        parts.extension = file.substr(dot);
    } else {
        parts.name = file;
    }
    return parts;
}

std::string with_extension(const std::string& path, std::string_view extension) {
    const PathParts parts = split_path(path);
    return parts.directory + parts.name + std::string(extension);
}

bool wildcard_match(const std::string& pattern, const std::string& name) {
    // Iterative matcher with single-star backtracking: linear in practice.
    size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    auto same = [](char a, char b) { return ascii_lower(a) == ascii_lower(b); };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

namespace {
std::vector<std::string> directory_entries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
} // namespace

std::vector<std::string> find_matches(const std::string& pattern) {
    std::vector<std::string> matches;
    size_t sep = last_separator(pattern);
    std::string directory = sep == std::string::npos ? std::string() : pattern.substr(0, sep + 1);
    std::string last = sep == std::string::npos ? pattern : pattern.substr(sep + 1);
    if (last.empty()) return matches;
    if (last.find_first_of("*?") == std::string::npos) {
        struct stat st {};
        if (::stat(pattern.c_str(), &st) == 0) {
            matches.push_back(pattern);
            return matches;
        }
        for (const std::string& name : directory_entries(directory)) {
            if (equals_ignoring_case(name.c_str(), last.c_str())) {
                matches.push_back(directory + name);
                break;
            }
        }
        return matches;
    }
    for (const std::string& name : directory_entries(directory)) {
        if (wildcard_match(last, name) && file_exists(directory + name)) matches.push_back(directory + name);
    }
    return matches;
}

std::string resolve_companion_name(const std::string& name) { return resolve_companion_name(name, std::string()); }

std::string resolve_companion_name(const std::string& name, const std::string& owner) {
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) return name;
    size_t sep = last_separator(name);
    std::string directory = sep == std::string::npos ? std::string() : name.substr(0, sep + 1);
    std::string last = sep == std::string::npos ? name : name.substr(sep + 1);
    const std::vector<std::string> entries = directory_entries(directory);
    const std::string wanted_base = split_path(last).name;
    const std::string owner_extension = split_path(owner).extension;
    // A file whose base name is exactly `base` with the owner's extension (its letter
    // case ignored) is another table, unless it is the owner itself.
    auto another_table_named = [&](const std::string& base) {
        for (const std::string& entry : entries) {
            PathParts parts = split_path(entry);
            if (parts.name == base && equals_ignoring_case(parts.extension.c_str(), owner_extension.c_str()) &&
                directory + entry != owner)
                return true;
        }
        return false;
    };
    for (const std::string& entry : entries) {
        if (!equals_ignoring_case(entry.c_str(), last.c_str())) continue;
        const std::string base = split_path(entry).name;
        if (!owner.empty() && base != wanted_base && another_table_named(base)) continue;
        return directory + entry;
    }
    return name;
}

bool is_absolute_table_path(const std::string& argument) {
    if (argument.size() < 2 || argument[0] != '/') return false;
    size_t last = argument.rfind('/');
    if (last == 0) return false;
    return is_directory(argument.substr(0, last));
}

std::string program_directory(const char* argv0) {
    std::string path = argv0 ? argv0 : "";
    size_t sep = last_separator(path);
    if (sep != std::string::npos) return path.substr(0, sep + 1);
    std::string exe(4096, '\0');
    ssize_t length = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    if (length <= 0) return std::string();
    exe.resize(static_cast<size_t>(length));
    sep = exe.rfind('/');
    return sep == std::string::npos ? std::string() : exe.substr(0, sep + 1);
}

} // namespace rorarodi
