// Plain-ASCII text rules that names, keywords, extensions and numbers follow
// whatever the code page: letter case, comparisons ignoring it, and the integer a
// text begins with.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace rorarodi {

// 'a'..'z' to 'A'..'Z' and back; every other byte stays.
constexpr char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Comparisons with ASCII letters folded.
bool equals_ignoring_case(std::string_view a, std::string_view b);
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix);
bool ends_with_ignoring_case(std::string_view text, std::string_view ending);

// The integer a text begins with, as atoi reads it: leading white space (space and
// \t \n \v \f \r), an optional sign, then the decimal digits up to the first other
// character. A value beyond the 64-bit range is held at its end. Nothing when no
// digit follows the white space and the sign.
[[nodiscard]] std::optional<int64_t> read_leading_integer(std::string_view text);

// The same held within the 32-bit range.
std::optional<int32_t> read_leading_int32(std::string_view text);
// The same, 0 when the text begins with no number: atoi itself.
int32_t leading_int32(std::string_view text);

} // namespace rorarodi
