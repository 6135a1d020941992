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
