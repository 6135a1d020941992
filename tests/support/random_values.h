// Small helpers of the randomised tests: picks, chances and stored-value shapes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace testing_support {

using Random = std::mt19937;

inline size_t pick(Random& random, size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); }
inline bool chance(Random& random, int percent) { return static_cast<int>(pick(random, 100)) < percent; }

template <typename T, size_t N>
const T& one_of(Random& random, const T (&items)[N]) {
    return items[pick(random, N)];
}

// `value` cut or padded with spaces to `width`, on the left when `right`.
inline std::string fit(std::string value, size_t width, bool right) {
    if (value.size() >= width) return value.substr(0, width);
    return right ? std::string(width - value.size(), ' ') + value : value + std::string(width - value.size(), ' ');
}

// The low `bytes` bytes of `value`, least significant first.
inline std::string little_endian(uint64_t value, size_t bytes) {
    std::string out;
    for (size_t i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

} // namespace testing_support
