// The arithmetic calculator: a table-driven shift-reduce parser over numbers,
// + - * / ^, parentheses and a fixed set of functions.
#pragma once
#include <string>

namespace rorarodi {

// Evaluates `text`, read with its letters upper-cased. On success returns the value,
// leaves `ok` as the caller set it and upper-cases `text` in place; on failure
// (syntax error, unknown character or name, more than 30 nested parse entries, a
// quotient of positive infinity) returns 0, clears `ok` and leaves `text` alone.
double calculate(std::string& text, bool& ok);

} // namespace rorarodi
