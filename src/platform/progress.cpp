#include "platform/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace rorarodi {

namespace {

// Records between two looks at the clock, and the waits before the line
// appears and between two drawings of it.
constexpr uint64_t kStride = 256;
constexpr double kFirstShow = 1.0;
constexpr double kRedraw = 0.25;
constexpr size_t kDefaultWidth = 80;

double monotonic_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct ProgressState {
    std::string table;
    std::string parameter;
    double job_start = 0;
    double walk_start = 0;
    double last_draw = 0;
    bool walking = false;     // a meter owns the line
    size_t shown = 0;         // characters of the line now on the terminal
    int terminal = -1;        // -1: not asked yet
};

ProgressState& state() {
    static ProgressState s;
    return s;
}

void write_all(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a terminal that refuses text loses the line, nothing more
        done += static_cast<size_t>(n);
    }
}

void erase_line() {
    ProgressState& s = state();
    if (s.shown == 0) return;
    std::string text = "\r";
    text.append(s.shown, ' ');
    text += '\r';
    s.shown = 0;
    write_all(text);
}

bool stderr_is_terminal() {
    ProgressState& s = state();
    if (s.terminal < 0) {
        s.terminal = ::isatty(STDERR_FILENO) ? 1 : 0;
        // A run that ends from inside a walk (a fatal message) leaves no line behind.
        if (s.terminal) std::atexit(erase_line);
    }
    return s.terminal == 1;
}

size_t terminal_width() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return kDefaultWidth;
}

std::string base_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string duration(double seconds) {
    const auto whole = static_cast<unsigned long long>(seconds + 0.5);
    char text[48];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
    return text;
}

// The wait before the line appears. The test build takes it from
// RORARODI_PROGRESS_AFTER (seconds), so that a test need not run for a second.
double first_show() {
#ifdef RORARODI_FAULT_INJECTION
    if (const char* text = std::getenv("RORARODI_PROGRESS_AFTER")) return std::strtod(text, nullptr);
#endif
    return kFirstShow;
}

} // namespace

std::string progress_text(const std::string& table, const std::string& parameter, uint64_t done, uint64_t total,
                          double seconds, size_t width) {
    char numbers[160];
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 0;
    std::snprintf(numbers, sizeof numbers, ": %llu of %llu records (%u%%), %.0f/s", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total), percent, rate);
    std::string text = table + " " + parameter + numbers;
    if (rate > 0 && done <= total) text += ", " + duration(static_cast<double>(total - done) / rate) + " left";
    // The parameter may hold anything: control characters would move the cursor.
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    if (text.size() > width) text.resize(width);
    return text;
}

void set_progress_job(const std::string& table_path, const std::string& parameter) {
    ProgressState& s = state();
    s.table = base_name(table_path);
    s.parameter = parameter;
    s.job_start = monotonic_seconds();
}

ProgressMeter::ProgressMeter(uint64_t total, ProgressOutput output)
    : total_(total), next_check_(std::numeric_limits<uint64_t>::max()) {
    ProgressState& s = state();
    if (s.walking || total == 0 || !stderr_is_terminal()) return;
    if (output == ProgressOutput::prints_to_stdout && ::isatty(STDOUT_FILENO)) return;
    owner_ = true;
    s.walking = true;
    s.walk_start = monotonic_seconds();
    s.last_draw = 0;
    next_check_ = kStride;
}

ProgressMeter::~ProgressMeter() {
    if (!owner_) return;
    erase_line();
    state().walking = false;
}

void ProgressMeter::check(uint64_t done) {
    next_check_ = done + kStride;
    ProgressState& s = state();
    const double now = monotonic_seconds();
    if (now - s.job_start < first_show() || now - s.last_draw < kRedraw || done >= total_) return;
    s.last_draw = now;
    const std::string text = progress_text(s.table, s.parameter, done, total_, now - s.walk_start, terminal_width() - 1);
    std::string line = "\r" + text;
    if (text.size() < s.shown) line.append(s.shown - text.size(), ' ');
    s.shown = std::max(s.shown, text.size());
    write_all(line);
}

} // namespace rorarodi
