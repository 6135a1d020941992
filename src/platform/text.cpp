#include "platform/text.h"

#include <algorithm>
#include <limits>

namespace rorarodi {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equals_ignoring_case(text.substr(0, prefix.size()), prefix);
}

bool ends_with_ignoring_case(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && equals_ignoring_case(text.substr(text.size() - ending.size()), ending);
}

std::optional<int64_t> read_leading_integer(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    // Accumulated as a negative number, whose range reaches one further.
    constexpr int64_t kLowest = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value < (kLowest + digit) / 10 ? kLowest : value * 10 - digit;
    }
    if (negative) return value;
    return value == kLowest ? std::numeric_limits<int64_t>::max() : -value;
}

std::optional<int32_t> read_leading_int32(std::string_view text) {
    const std::optional<int64_t> value = read_leading_integer(text);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(
        std::clamp<int64_t>(*value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int32_t leading_int32(std::string_view text) { return read_leading_int32(text).value_or(0); }

} // namespace rorarodi
