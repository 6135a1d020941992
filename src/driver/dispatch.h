// The parameter dispatcher: keywords matched by prefix in a fixed order.
#pragma once
#include <string>

namespace rorarodi {

// Dispatches one parameter (without its leading '/' or '-').
void dispatch_parameter(const std::string& text);

// Flag form: on for '+' or nothing after the keyword, off for anything else.
bool parse_flag_form(const std::string& argument);

} // namespace rorarodi
