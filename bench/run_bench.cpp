// Runs the benchmark jobs and prints one Markdown table: job, CPU seconds and
// wall seconds (medians of the runs), peak memory in MiB (largest resident set
// over the runs, child processes included), the floor's CPU and wall seconds
// (medians) and the ratios job / floor of both.
//
// Usage: run_bench <jobs-file> <runs> name=value...
//
// CPU time is the user and system time of the command and its children, which a
// machine busy with other work disturbs less (a command that runs on several
// cores at once counts the time of each); wall time is the elapsed time, which
// includes what the command waits for (syncs, the disk).
//
// The jobs file lists one job a line: "name | command | floor command"; '#'
// starts a comment line. The first two " | " (space, bar, space) end the name and
// the command; the floor command is the rest of the line and may be left out or
// written "-". Commands run under /bin/sh; {name} is replaced by the value given
// as name=value on the command line (for example {bin}, {floor}, {dir}).
//
// Every command runs once untimed first, so that all runs read from the page
// cache. A command that fails is reported on standard error with what it wrote
// there. When a job and its floor both end their output with a whole number (the
// count), the two numbers are compared and a difference is reported too.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Job {
    std::string name;
    std::string command;
    std::string floor;  // empty: none
};

struct Measure {
    bool ok = false;
    double seconds = 0;  // CPU
    double wall = 0;
    double peak_mib = 0;
    std::string output;  // standard output of the last run
    std::string errors;  // standard error of a failed run
};

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string expand(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) {
        const std::string key = "{" + name + "}";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    }
    return text;
}

std::optional<std::vector<Job>> read_jobs(const char* path, const std::map<std::string, std::string>& values) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::vector<Job> jobs;
    std::string line;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t first = t.find(" | ");
        if (first == std::string::npos) {
            std::fprintf(stderr, "run_bench: no command in: %s\n", t.c_str());
            continue;
        }
        Job job;
        job.name = trim(t.substr(0, first));
        std::string rest = t.substr(first + 3);
        size_t second = rest.find(" | ");
        job.command = expand(trim(rest.substr(0, second)), values);
        if (second != std::string::npos) job.floor = trim(rest.substr(second + 3));
        if (job.floor == "-") job.floor.clear();
        job.floor = expand(job.floor, values);
        jobs.push_back(job);
    }
    return jobs;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double seconds_of(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

// One run of a command: its time, peak resident set of it and its children.
Measure run_once(const std::string& command, const std::string& out_path, const std::string& err_path) {
    Measure m;
    const double start = now();
    pid_t pid = fork();
    if (pid < 0) {
        m.errors = std::strerror(errno);
        return m;
    }
    if (pid == 0) {
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        ::close(out);
        ::close(err);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    m.seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    m.wall = now() - start;
    m.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m.output = read_file(out_path);
    if (!m.ok) m.errors = read_file(err_path);
    return m;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Measure measure(const std::string& command, int runs, const std::string& out_path, const std::string& err_path) {
    Measure warm = run_once(command, out_path, err_path);
    if (!warm.ok) return warm;
    std::vector<double> times, walls;
    Measure result = warm;
    result.peak_mib = 0;
    for (int r = 0; r < runs; ++r) {
        Measure m = run_once(command, out_path, err_path);
        if (!m.ok) return m;
        times.push_back(m.seconds);
        walls.push_back(m.wall);
        result.peak_mib = std::max(result.peak_mib, m.peak_mib);
        result.output = m.output;
    }
    result.seconds = median(times);
    result.wall = median(walls);
    return result;
}

// The whole number that ends an output, if any.
std::optional<long long> last_number(const std::string& output) {
    std::string t = trim(output);
    size_t line = t.find_last_of('\n');
    std::string last = trim(line == std::string::npos ? t : t.substr(line + 1));
    if (last.empty()) return std::nullopt;
    char* end = nullptr;
    long long value = std::strtoll(last.c_str(), &end, 10);
    if (*end != 0) return std::nullopt;
    return value;
}

std::string escape_cell(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|') out += '\\';
        out += c;
    }
    return out;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: run_bench <jobs-file> <runs> name=value...\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[2]));
    std::map<std::string, std::string> values;
    for (int i = 3; i < argc; ++i) {
        const char* eq = std::strchr(argv[i], '=');
        if (eq) values[std::string(argv[i], static_cast<size_t>(eq - argv[i]))] = eq + 1;
    }
    std::optional<std::vector<Job>> jobs = read_jobs(argv[1], values);
    if (!jobs) {
        std::fprintf(stderr, "run_bench: cannot read %s\n", argv[1]);
        return 2;
    }
    char dir_template[] = "/tmp/run_bench.XXXXXX";
    if (!mkdtemp(dir_template)) {
        std::perror("run_bench");
        return 2;
    }
    const std::string scratch = dir_template;
    const std::string out_path = scratch + "/out", err_path = scratch + "/err";

    bool all_ok = true;
    std::printf("| job | CPU s | wall s | peak MiB | floor CPU s | floor wall s | ratio CPU | ratio wall |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    for (const Job& job : *jobs) {
        Measure m = measure(job.command, runs, out_path, err_path);
        std::optional<Measure> f;
        if (m.ok && !job.floor.empty()) f = measure(job.floor, runs, out_path, err_path);
        const bool floored = f && f->ok;
        std::string seconds = m.ok ? format("%.3f", m.seconds) : "failed";
        std::string wall = m.ok ? format("%.3f", m.wall) : "-";
        std::string peak = m.ok ? format("%.1f", m.peak_mib) : "-";
        std::string floor_seconds = floored ? format("%.3f", f->seconds) : (f ? "failed" : "-");
        std::string floor_wall = floored ? format("%.3f", f->wall) : "-";
        std::string ratio = floored && f->seconds > 0 ? format("%.1f", m.seconds / f->seconds) : "-";
        std::string ratio_wall = floored && f->wall > 0 ? format("%.1f", m.wall / f->wall) : "-";
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", escape_cell(job.name).c_str(), seconds.c_str(),
                    wall.c_str(), peak.c_str(), floor_seconds.c_str(), floor_wall.c_str(), ratio.c_str(),
                    ratio_wall.c_str());
        std::fflush(stdout);
        if (!m.ok) {
            all_ok = false;
            std::fprintf(stderr, "run_bench: %s failed: %s\n%s", job.name.c_str(), job.command.c_str(), m.errors.c_str());
        } else if (f && !f->ok) {
            all_ok = false;
            std::fprintf(stderr, "run_bench: floor of %s failed: %s\n%s", job.name.c_str(), job.floor.c_str(),
                         f->errors.c_str());
        } else if (f) {
            std::optional<long long> a = last_number(m.output), b = last_number(f->output);
            if (a && b && *a != *b) {
                all_ok = false;
                std::fprintf(stderr, "run_bench: %s counted %lld, its floor %lld\n", job.name.c_str(), *a, *b);
            }
        }
    }
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    ::rmdir(scratch.c_str());
    return all_ok ? 0 : 1;
}
