// The comparison at the heart of a simple condition: its operator, and how two
// numbers or two texts compare under it.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "table/table.h"

namespace rorarodi {

// Comparison operators after the pairs are identified.
enum class ComparisonOperator {
    equal,          // =
    exact,          // ==
    contains,       // ~
    lacks,          // ^
    less,           // < <<
    greater,        // > >>
    less_equal,     // <= =<
    greater_equal,  // >= =>
    not_equal,      // <> ><
    tilde_less,     // ~<
    tilde_greater,  // ~>
    tilde_equal,    // ~=
    other,          // + - / * ( )
};

// The operator whose first character is `first`, followed in the text by `second`
// (0 at the end); `length` becomes the number of characters it takes (1 or 2).
ComparisonOperator identify_operator(char first, char second, size_t& length);

// True when `second` after `first` makes the two one operator.
bool forms_operator_pair(char first, char second);

bool compare_numbers(ComparisonOperator op, double left, double right);

// The verdict of a prefix-comparing operator (=, <, >, <=, >=, <>) on the sign of
// the comparison of the two texts over the shorter length; false for the others.
bool prefix_verdict(ComparisonOperator op, int sign);

// Texts compared as C strings: each view must end before the text's first zero byte.
bool compare_texts(ComparisonOperator op, std::string_view left, std::string_view right);

// Upper-cases a comparison text up to its first zero byte: the table's upper-casing
// hook, else the letters of its ANSI page.
void upper_case_operand(const DbfTable& table, std::string& text);

// The count of '(' less the count of ')' in a text.
int parenthesis_balance(std::string_view text);
// Removes '(' from the front while more open than close, and ')' from the back
// while more close than open.
void strip_unbalanced_parens(std::string& text);

} // namespace rorarodi
