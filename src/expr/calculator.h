// The arithmetic calculator: a table-driven shift-reduce parser over numbers,
// + - * / ^, parentheses and a fixed set of functions.
#pragma once
#include <string>

namespace rorarodi {

// Evaluates `text`. On success returns the value, leaves `ok` as the caller set it
// and replaces `text` by its upper-cased copy; on failure returns 0 and clears `ok`.
double calculate(std::string& text, bool& ok);

} // namespace rorarodi
