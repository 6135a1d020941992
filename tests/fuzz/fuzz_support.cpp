#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzzing {

std::vector<std::string> split_parts(const uint8_t* data, size_t size, size_t max_parts) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    while (parts.size() + 1 < max_parts) {
        size_t at = input.find(kPartSeparator);
        if (at == std::string_view::npos) break;
        parts.emplace_back(input.substr(0, at));
        input.remove_prefix(at + kPartSeparator.size());
    }
    parts.emplace_back(input);
    return parts;
}

std::string join_parts(const std::vector<std::string>& parts) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) joined += kPartSeparator;
        joined += parts[i];
    }
    return joined;
}

void silence_standard_output() {
    std::fflush(stdout);
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

namespace {

void remove_entries(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        std::string path = directory + "/" + name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            remove_entries(path);
            ::rmdir(path.c_str());
        } else {
            ::unlink(path.c_str());
        }
    }
}

// The scratch directory, removed with its files when the process ends normally.
struct ScratchDirectory {
    std::string path;
    ScratchDirectory() {
        // Under RORARODI_FUZZ_SCRATCH when set (the fuzz script sets it and removes
        // it afterwards: libFuzzer ends without running destructors), else /dev/shm.
        struct stat status {};
        const char* chosen = std::getenv("RORARODI_FUZZ_SCRATCH");
        const char* tmp = std::getenv("TMPDIR");
        const bool shm = ::stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) && ::access("/dev/shm", W_OK) == 0;
        const std::string base = chosen && *chosen ? chosen : shm ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp");
        path = base + "/rorarodi-fuzz-XXXXXX";
        if (!::mkdtemp(path.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
    }
    ~ScratchDirectory() {
        remove_entries(path);
        ::rmdir(path.c_str());
    }
};

} // namespace

const std::string& scratch_directory() {
    static const ScratchDirectory directory;
    return directory.path;
}

std::string scratch_path(const std::string& name) { return scratch_directory() + "/" + name; }

void clear_scratch() { remove_entries(scratch_directory()); }

void write_file(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        std::abort();
    }
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::string read_file(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

void invariant_failed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz invariant broken: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

#if defined(RORARODI_FUZZ_REPLAY)
namespace {
std::map<std::string, TargetFunction>& registry() {
    static std::map<std::string, TargetFunction> targets;
    return targets;
}
} // namespace

bool register_target(const char* name, TargetFunction function) {
    registry()[name] = function;
    return true;
}

TargetFunction find_target(const std::string& name) {
    auto found = registry().find(name);
    return found == registry().end() ? nullptr : found->second;
}
#endif

} // namespace fuzzing
