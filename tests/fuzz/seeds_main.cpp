// Writes the seed inputs of every fuzz target: OUTPUT/<target>/<name>.
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "fuzz_support.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "use: %s OUTPUT-DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string output = argv[1];
    ::mkdir(output.c_str(), 0755);
    for (const std::string& target : fuzzing::target_names()) {
        const std::string directory = output + "/" + target;
        ::mkdir(directory.c_str(), 0755);
        for (const auto& [name, bytes] : fuzzing::make_seeds(target)) fuzzing::write_file(directory + "/" + name, bytes);
    }
    return 0;
}
