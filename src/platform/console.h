// The console title of the run.
#pragma once
#include <string>

namespace rorarodi {

// Sets the terminal title (ESC ] 0 ; title BEL) when standard output is a terminal.
void set_console_title(const std::string& title);

} // namespace rorarodi
