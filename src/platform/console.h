// The console title of the run.
#pragma once
#include <cstdio>
#include <string>

namespace rorarodi {

// Sets the terminal title (ESC ] 0 ; title BEL) when standard output is a terminal.
void set_console_title(const std::string& title);

} // namespace rorarodi

namespace rorarodi {

// Data on standard output: while it is on, what the program prints as messages
// goes to standard error, and data_output() is a stream on the original standard
// output, so that a pipe receives the data alone. Turning it off puts standard
// output back.
void set_data_on_standard_output(bool on);
// The stream data goes to while data is on standard output; nothing otherwise.
std::FILE* data_output();

} // namespace rorarodi
