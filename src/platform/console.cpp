#include "platform/console.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace rorarodi {

void set_console_title(const std::string& title) {
    if (!::isatty(STDOUT_FILENO)) return;
    std::printf("\x1b]0;%s\x07", title.c_str());
    std::fflush(stdout);
}

UtcDate current_utc_date() {
    std::time_t now = std::time(nullptr);
    std::tm parts {};
    ::gmtime_r(&now, &parts);
    return UtcDate{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

} // namespace rorarodi
