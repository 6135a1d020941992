// The parameter dispatcher: keywords matched by prefix in a fixed order.
#pragma once
#include <string>

namespace rorarodi {

struct Session;

// Dispatches one parameter (without its leading '/' or '-').
void dispatch_parameter(Session& session, const std::string& text);

// The usage text of the program, made from the rows of the keyword table.
void print_usage();

// Flag form: on for '+' or nothing after the keyword, off for anything else.
bool parse_flag_form(const std::string& argument);

} // namespace rorarodi
