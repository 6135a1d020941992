#include "table/fixed_number.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "table/field_text.h"

namespace rorarodi {

namespace {

constexpr double kPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// Below this a double's units in the last place are at most 0.5, so the rounding
// below can be decided exactly.
constexpr double kExactLimit = 2251799813685248.0;  // 2^51

} // namespace

int print_fixed_quickly(char* out, double number, int width, int decimals) {
    if (!std::isfinite(number) || decimals < 0 || decimals > 22 || width < 0 || width > 40) return -1;
    const double scale = kPowersOfTen[decimals];
    // number * scale exactly is product + error (both doubles).
    const double product = number * scale;
    if (!(std::fabs(product) < kExactLimit)) return -1;
    const double error = std::fma(number, scale, -product);
    // The nearest integer, half to even, of the exact product: the product's own
    // rounding decides unless the product is a half and the error tips it.
    double integer = std::nearbyint(product);
    const double fraction = product - integer;  // exact: both lie within 2^51
    if (std::fabs(fraction) == 0.5 && error != 0) {
        if ((fraction > 0) == (error > 0)) integer += fraction > 0 ? 1 : -1;
    }
    uint64_t digits_value = static_cast<uint64_t>(std::fabs(integer));
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + digits_value % 10);
        digits_value /= 10;
    } while (digits_value > 0);
    while (count < decimals + 1) digits[count++] = '0';
    char text[64];
    int length = 0;
    // "%f" shows the sign of a negative number that rounds to zero, and of -0.
    if (std::signbit(number)) text[length++] = '-';
    for (int i = count - 1; i >= decimals; --i) text[length++] = digits[i];
    if (decimals > 0) {
        text[length++] = '.';
        for (int i = decimals - 1; i >= 0; --i) text[length++] = digits[i];
    }
    const int pad = width > length ? width - length : 0;
    std::memset(out, ' ', static_cast<size_t>(pad));
    std::memcpy(out + pad, text, static_cast<size_t>(length));
    out[pad + length] = 0;
    return pad + length;
}

bool store_fixed_number_quickly(DbfTable& table, int field, double number) {
    const FieldDescriptor& f = table.field(field);
    const size_t offset = f.offset;
    if ((f.type != 'N' && f.type != 'F') || field_width(table, field) < f.length || offset >= table.record_buffer.size() ||
        table.record_buffer.size() - offset < f.length)
        return false;
    char text[80];
    int size = print_fixed_quickly(text, number, f.length, f.decimals);
    if (size < 0) return false;
    const int length = f.length;
    char* start = text;
    if (f.decimals == 0) {
        if (size > length) return true;  // too long: the field stays as it is
    } else {
        const int integer_room = length - f.decimals - 1;
        // No room for an integer digit: "0.5" is stored as ".5".
        if (integer_room == 0 && size >= 2 && text[0] == '0' && text[1] == '.') {
            ++start;
            --size;
        }
        // The text ends in the point and the decimals.
        if (size - f.decimals - 1 > integer_room) return true;
    }
    std::memcpy(table.record_buffer.data() + f.offset, start, static_cast<size_t>(std::min(size, length)));
    return true;
}

} // namespace rorarodi
