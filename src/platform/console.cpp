#include "platform/console.h"

#include <cstdio>
#include <unistd.h>

namespace rorarodi {

void set_console_title(const std::string& title) {
    if (!::isatty(STDOUT_FILENO)) return;
    std::printf("\x1b]0;%s\x07", title.c_str());
    std::fflush(stdout);
}

} // namespace rorarodi

namespace rorarodi {

namespace {
std::FILE* data_stream = nullptr;  // the original standard output, while data goes there
}

void set_data_on_standard_output(bool on) {
    if (on == (data_stream != nullptr)) return;
    std::fflush(stdout);
    if (on) {
        const int saved = ::dup(STDOUT_FILENO);
        if (saved < 0) return;
        data_stream = ::fdopen(saved, "w");
        if (!data_stream) {
            ::close(saved);
            return;
        }
        (void)::dup2(STDERR_FILENO, STDOUT_FILENO);  // messages on standard error from now on
        return;
    }
    std::fflush(data_stream);
    (void)::dup2(::fileno(data_stream), STDOUT_FILENO);  // standard output as it was
    (void)std::fclose(data_stream);                      // closes the second handle only
    data_stream = nullptr;
}

std::FILE* data_output() { return data_stream; }

} // namespace rorarodi
