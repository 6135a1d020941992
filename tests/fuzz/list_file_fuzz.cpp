// The INI file and '@' list files, run through the program's own run loop on a
// small table with a memo file. The files may include each other and themselves.
// A line that the reader skips (empty, or beginning with ';' or a space) changes
// nothing: without those lines the run prints the same and leaves the same files.
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "driver/run_loop.h"
#include "fuzz_support.h"
#include "fuzz_tables.h"

namespace {

constexpr const char* kFileNames[] = {"rorarodi.ini", "s.lst", "n.lst"};

bool contains_ignoring_case(const std::string& text, const char* word) {
    const size_t length = std::char_traits<char>::length(word);
    for (size_t i = 0; i + length <= text.size(); ++i)
        if (strncasecmp(text.c_str() + i, word, length) == 0) return true;
    return false;
}

// Inputs that could reach files outside the scratch directory (a path separator
// after the first character of a line), that name a parameter whose failure ends
// the process by design (/CMP, /STRUCT), or that hold a number of six digits or
// more (/APPEND:999999 writes a million records, which is no finding) are not run.
bool fit_to_run(const std::string& text) {
    bool line_start = true;
    size_t digits = 0;
    for (char c : text) {
        if (!line_start && (c == '/' || c == '\\')) return false;
        line_start = c == '\n';
        digits = c >= '0' && c <= '9' ? digits + 1 : 0;
        if (digits >= 6) return false;
    }
    return !contains_ignoring_case(text, "cmp") && !contains_ignoring_case(text, "struct");
}

// The text without the lines that the reader skips.
std::string without_skipped_lines(const std::string& text) {
    std::string kept;
    for (size_t from = 0; from < text.size();) {
        const size_t end = text.find('\n', from);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        const std::string_view line(text.data() + from, next - from);
        const bool skipped = line[0] == ';' || line[0] == ' ' || line[0] == '\n' || line == "\r\n" || line == "\r";
        if (!skipped) kept += line;
        from = next;
    }
    return kept;
}

struct RunOutcome {
    std::string output;
    std::string table;
    std::string memo;
};

// Runs `rorarodi t.dbf @s.lst` in the scratch directory with the given list files
// on a fresh table; the program's standard output goes to an unnamed file.
RunOutcome run_with(const std::vector<std::string>& files) {
    static const std::string table = fuzzing::people_table();
    static const std::string memo = fuzzing::people_memo();
    fuzzing::clear_scratch();
    fuzzing::write_file(fuzzing::scratch_path("t.dbf"), table);
    fuzzing::write_file(fuzzing::scratch_path("t.dbt"), memo);
    for (size_t i = 0; i < files.size(); ++i) fuzzing::write_file(fuzzing::scratch_path(kFileNames[i]), files[i]);

    // The program runs in the scratch directory, where the names in the list files
    // lead; the fuzzer's own relative paths need the directory it started in.
    const int started_in = ::open(".", O_RDONLY | O_DIRECTORY);
    const int output = ::memfd_create("output", 0);
    const int saved_output = ::dup(STDOUT_FILENO);
    FUZZ_CHECK(started_in >= 0 && output >= 0 && saved_output >= 0, "cannot set up a run");
    FUZZ_CHECK(::chdir(fuzzing::scratch_directory().c_str()) == 0, "cannot enter the scratch directory");
    std::fflush(stdout);
    ::dup2(output, STDOUT_FILENO);
    std::string program = fuzzing::scratch_path("rorarodi");
    std::string table_name = "t.dbf";
    std::string list = "@s.lst";
    char* argv[] = {program.data(), table_name.data(), list.data(), nullptr};
    rorarodi::run_program(3, argv);
    std::fflush(stdout);
    ::dup2(saved_output, STDOUT_FILENO);
    FUZZ_CHECK(::fchdir(started_in) == 0, "cannot return to the starting directory");
    ::close(started_in);
    ::close(saved_output);

    RunOutcome outcome;
    char buffer[65536];
    ssize_t got;
    ::lseek(output, 0, SEEK_SET);
    while ((got = ::read(output, buffer, sizeof buffer)) > 0) outcome.output.append(buffer, static_cast<size_t>(got));
    ::close(output);
    outcome.table = fuzzing::read_file(fuzzing::scratch_path("t.dbf"));
    outcome.memo = fuzzing::read_file(fuzzing::scratch_path("t.dbt"));
    return outcome;
}

} // namespace

// Input: rorarodi.ini, s.lst, n.lst.
RORARODI_FUZZ_TARGET(list_file) {
    // Files stay below 64 MiB: a write past that fails as on a full disk.
    static const bool prepared = [] {
        fuzzing::silence_standard_output();
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 << 20, 64 << 20};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }();
    FUZZ_CHECK(prepared, "cannot limit file sizes");
    const std::vector<std::string> parts = fuzzing::split_parts(data, size, 3);
    for (const std::string& part : parts)
        if (!fit_to_run(part)) return -1;
    const RunOutcome outcome = run_with(parts);

    std::vector<std::string> kept;
    for (const std::string& part : parts) kept.push_back(without_skipped_lines(part));
    if (kept == parts) return 0;
    const RunOutcome without = run_with(kept);
    FUZZ_CHECK(outcome.output == without.output, "a skipped line changed the output");
    FUZZ_CHECK(outcome.table == without.table && outcome.memo == without.memo, "a skipped line changed the table");
    return 0;
}
