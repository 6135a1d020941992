// Runs fuzz targets without libFuzzer, over saved inputs: the regression inputs
// that once failed, and the generated seeds.
//
//   fuzz_replay TARGET [--seeds] [FILE|DIRECTORY]...
//
// A directory stands for every regular file in it. A broken invariant or a
// sanitizer report aborts the run, so any failure shows as a failed test.
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "fuzz_support.h"

namespace {

std::vector<std::string> input_files(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return {};
    if (!S_ISDIR(status.st_mode)) return {path};
    std::vector<std::string> files;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string file = path + "/" + entry->d_name;
            if (entry->d_name[0] != '.' && ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode))
                files.push_back(file);
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

int run(fuzzing::TargetFunction target, const std::string& input) {
    return target(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "use: %s TARGET [--seeds] [FILE|DIRECTORY]...\n", argv[0]);
        return 2;
    }
    const std::string name = argv[1];
    fuzzing::TargetFunction target = fuzzing::find_target(name);
    if (!target) {
        std::fprintf(stderr, "no fuzz target named %s\n", name.c_str());
        return 2;
    }
    size_t count = 0, rejected = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seeds") {
            for (const auto& [seed_name, bytes] : fuzzing::make_seeds(name)) {
                rejected += run(target, bytes) < 0;
                ++count;
            }
            continue;
        }
        for (const std::string& file : input_files(argument)) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), file.c_str());
            rejected += run(target, fuzzing::read_file(file)) < 0;
            ++count;
        }
    }
    // A target turns down inputs it cannot run safely (they are not fuzzed further).
    std::fprintf(stderr, "%s: %zu inputs replayed, %zu turned down\n", name.c_str(), count, rejected);
    return 0;
}
