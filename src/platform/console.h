// Console title and the UTC date stamped into headers.
#pragma once
#include <string>

namespace rorarodi {

// Sets the terminal title (ESC ] 0 ; title BEL) when standard output is a terminal.
void set_console_title(const std::string& title);

struct UtcDate {
    int year;  // full year, e.g. 2026
    int month; // 1..12
    int day;   // 1..31
};

// Today's date in UTC.
UtcDate current_utc_date();

} // namespace rorarodi
