// Shared pieces of the fuzz targets: how a target is declared (the libFuzzer entry,
// or an entry in the replay table), inputs made of several files, a private
// scratch directory for the files a target writes, and invariant checks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fuzzing {

using TargetFunction = int (*)(const uint8_t* data, size_t size);

#if defined(RORARODI_FUZZ_REPLAY)
// The replay driver holds every target, found by name.
bool register_target(const char* name, TargetFunction function);
TargetFunction find_target(const std::string& name);
#define RORARODI_FUZZ_TARGET(name)                                                           \
    static int fuzz_##name(const uint8_t* data, size_t size);                              \
    [[maybe_unused]] static const bool registered_##name =                                 \
        fuzzing::register_target(#name, fuzz_##name);                                      \
    static int fuzz_##name(const uint8_t* data, size_t size)
#else
// A libFuzzer executable holds one target.
#define RORARODI_FUZZ_TARGET(name)                                                           \
    static int fuzz_##name(const uint8_t* data, size_t size);                              \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {               \
        return fuzz_##name(data, size);                                                     \
    }                                                                                       \
    static int fuzz_##name(const uint8_t* data, size_t size)
#endif

// An input that stands for several files holds their contents joined by this line.
inline constexpr std::string_view kPartSeparator = "\n--8<--\n";

// Splits an input into at most `max_parts` parts (the last part keeps any further
// separators).
std::vector<std::string> split_parts(const uint8_t* data, size_t size, size_t max_parts);
std::string join_parts(const std::vector<std::string>& parts);

// Sends the program's standard output to /dev/null for the rest of the process
// (the fuzzers run millions of inputs; standard error stays for reports).
void silence_standard_output();

// A directory of this process (under /dev/shm when there is one), made on first use
// and removed at exit.
const std::string& scratch_directory();
std::string scratch_path(const std::string& name);
// Removes every file of the scratch directory.
void clear_scratch();
void write_file(const std::string& path, const std::string& bytes);
// The whole file, or an empty text when it cannot be read.
std::string read_file(const std::string& path);

// Reports a broken invariant on standard error and aborts, which the fuzzer and
// the replay driver both take as a failure.
[[noreturn]] void invariant_failed(const char* what, const char* file, int line);
#define FUZZ_CHECK(condition, what)                                                          \
    do {                                                                                   \
        if (!(condition)) fuzzing::invariant_failed(what, __FILE__, __LINE__);             \
    } while (0)

// Seed inputs of a target, named, built with the test table builder.
std::vector<std::pair<std::string, std::string>> make_seeds(const std::string& target);
// The names of the targets, in build order.
const std::vector<std::string>& target_names();

} // namespace fuzzing
