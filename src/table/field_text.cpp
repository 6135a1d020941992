#include "table/field_text.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"
#include "table/dbf_format.h"

namespace rorarodi {

namespace {

// Day number of the day before 1 January of year 0, and of 31 December 9999.
constexpr int64_t kDayBeforeYearZero = 1721059;
constexpr int32_t kLastDayNumber = 5373484;
constexpr int32_t kSecondsPerDay = 86400;
constexpr int64_t kDaysPer400Years = 146097;
constexpr int kMonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr uint64_t kTopBit = 0x8000000000000000ull;
constexpr size_t kSmtReferenceWidth = 10;
constexpr size_t kDateWorkArea = 20;
constexpr size_t kNumberWorkArea = 256;
constexpr size_t kFixedTextRoom = 640;
constexpr size_t kCompactDateTimeWidth = 14;

// Storage width clipped to what the record buffer holds from the field's offset.
size_t usable_width(const DbfTable& table, int field) {
    size_t offset = table.field(field).offset;
    if (offset >= table.record_buffer.size()) return 0;
    return std::min<size_t>(field_width(table, field), table.record_buffer.size() - offset);
}

// True when the field is at least `count` bytes wide and they lie in the record buffer.
bool field_holds(const DbfTable& table, int field, size_t count) { return usable_width(table, field) >= count; }

const uint8_t* field_bytes(const DbfTable& table, int field) {
    return table.record_buffer.data() + table.field(field).offset;
}

uint8_t* field_bytes(DbfTable& table, int field) { return table.record_buffer.data() + table.field(field).offset; }

uint64_t read_le64(const uint8_t* p) {
    return static_cast<uint64_t>(read_le32(p)) | (static_cast<uint64_t>(read_le32(p + 4)) << 32);
}

void write_le64(uint8_t* p, uint64_t v) {
    write_le32(p, static_cast<uint32_t>(v));
    write_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

double bits_to_double(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint64_t double_to_bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The text buffer, (re)sized to its full size when a table was never opened.
char* text_area(DbfTable& table) {
    if (table.text_buffer.size() < kTextBufferSize) table.text_buffer.assign(kTextBufferSize, 0);
    return table.text_buffer.data();
}

const char* put_text(DbfTable& table, const std::string& text) {
    char* out = text_area(table);
    size_t length = std::min(text.size(), table.text_buffer.size() - 1);
    std::memcpy(out, text.data(), length);
    out[length] = 0;
    return out;
}

// "%*.*f" of a number into `out` (room for `room` bytes and the ending zero);
// the length, or -1 when it does not fit. Most numbers go through
// print_fixed_quickly; another finite number goes through to_chars,
// which gives the same digits (both round the exact binary value) many times
// faster; anything else through snprintf.
int print_fixed(char* out, size_t room, double number, int width, int decimals) {
    if (room >= kQuickFixedRoom) {
        const int length = print_fixed_quickly(out, number, width, decimals);
        if (length >= 0) return length;
    }
    if (std::isfinite(number) && decimals >= 0 && room > 0) {
        const std::to_chars_result r = std::to_chars(out, out + room - 1, number, std::chars_format::fixed, decimals);
        if (r.ec == std::errc()) {
            auto length = static_cast<size_t>(r.ptr - out);
            if (width > 0 && length < static_cast<size_t>(width)) {
                if (static_cast<size_t>(width) >= room) return -1;
                const size_t pad = static_cast<size_t>(width) - length;
                std::memmove(out + pad, out, length);
                std::memset(out, ' ', pad);
                length += pad;
            }
            out[length] = 0;
            return static_cast<int>(length);
        }
    }
    const int length = std::snprintf(out, room, "%*.*f", width, decimals, number);
    return length >= 0 && static_cast<size_t>(length) < room ? length : -1;
}

std::string format_fixed(double number, int width, int decimals) {
    // Widths and decimals are single bytes: the text nearly always fits here.
    char text_area[kFixedTextRoom];
    int fitted = print_fixed(text_area, sizeof text_area, number, width, decimals);
    if (fitted >= 0 && static_cast<size_t>(fitted) < sizeof text_area)
        return std::string(text_area, static_cast<size_t>(fitted));
    int length = std::snprintf(nullptr, 0, "%*.*f", width, decimals, number);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%*.*f", width, decimals, number);
    text.resize(static_cast<size_t>(length));
    return text;
}

// "%*.*f" of a number straight into the text buffer. Widths and decimals come from
// single bytes, so the text (at most a few hundred characters) always fits.
const char* put_fixed(DbfTable& table, double number, int width, int decimals) {
    char* out = text_area(table);
    if (print_fixed(out, table.text_buffer.size(), number, width, decimals) < 0)
        std::snprintf(out, table.text_buffer.size(), "%*.*f", width, decimals, number);
    return out;
}

// Field bytes up to the first zero byte (a V or Q value up to its length), with
// the table's trim mode applied.
const char* character_copy(DbfTable& table, int field) {
    char* out = text_area(table);
    size_t width = std::min(field_value_bytes(table, field).size(), table.text_buffer.size() - 1);
    std::memcpy(out, field_bytes(table, field), width);
    out[width] = 0;
    size_t length = std::strlen(out);
    if (trims_right(table.options.trim_mode)) {
        while (length > 0 && out[length - 1] == ' ') --length;
        out[length] = 0;
    }
    if (trims_left(table.options.trim_mode)) {
        size_t start = 0;
        while (out[start] == ' ') ++start;
        std::memmove(out, out + start, length - start + 1);
    }
    return out;
}

// The field's length-byte characters read as a number; a ',' counts as the point.
double number_from_text(const DbfTable& table, int field) {
    // The length is one byte, so the work area always holds the text and its end.
    char work[kNumberWorkArea];
    size_t length = std::min<size_t>(table.field(field).length, usable_width(table, field));
    std::memcpy(work, field_bytes(table, field), length);
    work[length] = 0;
    char* comma = std::strchr(work, ',');
    if (comma) *comma = '.';
    return std::strtod(work, nullptr);
}

// atoi of the characters [start, start + count) of a text; pieces beyond its end give 0.
int text_piece(const char* text, size_t length, size_t start, size_t count) {
    if (start >= length) return 0;
    return leading_int32(std::string_view(text, length).substr(start, count));
}

int month_length(int month, int year) {
    if (month < 1 || month > 12) return 0;
    return month == 2 && is_leap_year(year) ? 29 : kMonthLengths[month - 1];
}

int year_length(int year) { return is_leap_year(year) ? 366 : 365; }

// Days of the years 0 .. year-1 (none for a negative year).
int64_t days_before_year(int64_t year) {
    if (year <= 0) return 0;
    return 365 * year + (year + 3) / 4 - (year + 99) / 100 + (year + 399) / 400;
}

// The three date arguments in the order of a mode's format.
void date_arguments(DateMode mode, const DateParts& parts, int& a, int& b, int& c) {
    switch (mode) {
    case DateMode::day_month_year: a = parts.day, b = parts.month, c = parts.year; break;
    case DateMode::month_day_year: a = parts.month, b = parts.day, c = parts.year; break;
    default: a = parts.year, b = parts.month, c = parts.day; break;
    }
}

const char* format_date(DbfTable& table, DateMode mode, const DateParts& parts) {
    int a, b, c;
    date_arguments(mode, parts, a, b, c);
    char* out = text_area(table);
    std::snprintf(out, table.text_buffer.size(), table.options.date_formats[static_cast<size_t>(mode)].c_str(), a, b, c);
    return out;
}

const char* format_datetime(DbfTable& table, DateMode mode, const DateParts& parts) {
    int a, b, c;
    date_arguments(mode, parts, a, b, c);
    char* out = text_area(table);
    std::snprintf(out, table.text_buffer.size(), table.options.datetime_formats[static_cast<size_t>(mode)].c_str(), a, b, c,
                  parts.hour, parts.minute, parts.second);
    return out;
}

const char* spaces(DbfTable& table, size_t count) { return put_text(table, std::string(count, ' ')); }


double currency_value(const DbfTable& table, int field) {
    if (!field_holds(table, field, 8)) return 0;
    return static_cast<double>(static_cast<int64_t>(read_le64(field_bytes(table, field)))) / 10000.0;
}

// Level 7 doubles are stored big-endian with the sign bit set for non-negative
// values and all bits inverted for negative ones, so that bytes sort as numbers.
double level7_double(const DbfTable& table, int field) {
    if (!field_holds(table, field, 8)) return 0;
    const uint8_t* p = field_bytes(table, field);
    uint64_t bits = (static_cast<uint64_t>(read_be32(p)) << 32) | read_be32(p + 4);
    bool negative = false;
    if (bits & kTopBit) {
        bits &= ~kTopBit;
    } else {
        bits = ~bits & ~kTopBit;
        negative = true;
    }
    double value = bits_to_double(bits);
    if (!std::isfinite(value)) return 0;
    return negative ? -value : value;
}

double binary_double(const DbfTable& table, int field) {
    if (!field_holds(table, field, 8)) return 0;
    return bits_to_double(read_le64(field_bytes(table, field)));
}

// Date and date-time texts by date mode: character positions of day, month, year,
// hour, minute and second.
struct DatePositions {
    size_t day, month, year, hour, minute, second;
};

DatePositions date_positions(DateMode mode) {
    switch (mode) {
    case DateMode::day_month_year: return {0, 3, 6, 11, 14, 17};
    case DateMode::month_day_year: return {3, 0, 6, 11, 14, 17};
    case DateMode::year_month_day: return {8, 5, 0, 11, 14, 17};
    default: return {6, 4, 0, 8, 10, 12};
    }
}

// Parses a date or date-time text by the table's date mode and stores it; a month
// or day of 0 blanks the field. '@' fields are only ever blanked.
void store_date_text(DbfTable& table, int field, const char* text, size_t length) {
    const char type = table.field(field).type;
    DatePositions at = date_positions(table.options.date_mode);
    int day = text_piece(text, length, at.day, 2);
    int month = text_piece(text, length, at.month, 2);
    int year = text_piece(text, length, at.year, 4);
    int hour = 0, minute = 0, second = 0;
    if (type == 'T' || type == '@') {
        hour = text_piece(text, length, at.hour, 2);
        minute = text_piece(text, length, at.minute, 2);
        second = text_piece(text, length, at.second, 2);
    }
    if (month == 0 || day == 0) {
        blank_field(table, field);
        return;
    }
    if (type == '@') return;
    store_date_parts(table, field, year, month, day, hour, minute, second);
}

// The text form and the number of the bytes a field holds, null or not.
const char* stored_field_text(DbfTable& table, int field, DateMode mode);
double stored_field_number(DbfTable& table, int field);

// Bit `bit` of the table's `_NullFlags` field in the record buffer.
bool null_flag_set(const DbfTable& table, int bit) {
    const FieldDescriptor& flags = table.field(table.null_flags_field);
    const size_t at = flags.offset + static_cast<size_t>(bit) / 8;
    return at < table.record_buffer.size() && (table.record_buffer[at] >> (bit % 8) & 1) != 0;
}

} // namespace

DateParts timestamp_parts(const DbfTable& table, int field) {
    DateParts parts;
    parts.month = 1;
    if (!field_holds(table, field, 8)) return parts;
    const uint8_t* p = field_bytes(table, field);
    uint32_t date_word = read_le32(p);
    // The milliseconds round to the nearest second, which may be the next day.
    uint32_t seconds = static_cast<uint32_t>((static_cast<uint64_t>(read_le32(p + 4)) + 500) / 1000);
    if (seconds >= static_cast<uint32_t>(kSecondsPerDay) && date_word >= 1 &&
        date_word < static_cast<uint32_t>(kLastDayNumber)) {
        date_word += seconds / kSecondsPerDay;
        seconds %= kSecondsPerDay;
    }
    parts.hour = static_cast<int>(seconds / 3600u);
    parts.minute = static_cast<int>(seconds % 3600u / 60u);
    parts.second = static_cast<int>(seconds % 60u);
    if (date_word >= 1 && date_word <= static_cast<uint32_t>(kLastDayNumber))
        julian_day_to_date(static_cast<int32_t>(date_word), parts.year, parts.month, parts.day);
    return parts;
}

std::string_view field_stored_bytes(const DbfTable& table, int field) {
    return std::string_view(reinterpret_cast<const char*>(field_bytes(table, field)), usable_width(table, field));
}

bool field_is_character_copy(const DbfTable& table, int field) {
    switch (table.field(field).type) {
    case 'C': case 'V': case 'Q': case '0': return true;
    default: return false;
    }
}

const char* field_type_name(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    return type_name_for(f.type, f.length);
}

bool field_is_numeric(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    switch (f.type) {
    case 'N': case 'F': case 'Y': case 'I': case '+': case 'O': return true;
    case 'B': return f.length == 8;
    default: return false;
    }
}

bool field_is_memo(const DbfTable& table, int field) {
    return is_memo_type(table.field(field).type, field_width(table, field));
}

uint32_t field_display_width(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    const uint32_t width = field_width(table, field);
    switch (f.type) {
    case 'Y': return 24;
    case 'B': case 'O': return width == 10 ? 10 : 20;
    case 'I': case '+': case 'G': case 'M': return 10;
    case 'D': return table.options.date_mode != DateMode::as_stored ? 10 : width;
    case 'T': case '@':
        // Binary values show their compact text as stored.
        if (table.options.date_mode != DateMode::as_stored) return 19;
        return width == 8 ? static_cast<uint32_t>(kCompactDateTimeWidth) : width;
    default: return width;
    }
}

bool is_compact_date(const uint8_t* digits) {
    for (size_t i = 0; i < kCompactDateLength; ++i)
        if (digits[i] < '0' || digits[i] > '9') return false;
    auto number = [digits](size_t at, size_t count) {
        int value = 0;
        for (size_t i = at; i < at + count; ++i) value = value * 10 + (digits[i] - '0');
        return value;
    };
    DateParts parts;
    parts.year = number(0, 4);
    parts.month = number(4, 2);
    parts.day = number(6, 2);
    return date_parts_valid(parts);
}

// True when the stored characters of a number field are exactly the text that
// formatting their value gives: optional spaces, an optional '-', integer digits
// without leading zeros (a lone 0 allowed), and for decimals a '.' and exactly
// that many digits, filling the whole length; or, when the length leaves no room
// for an integer digit, '.' and the decimals alone. With at most 15 significant
// digits the value reads back to the same digits, so the text form is the stored
// text itself and no conversion is needed.
bool is_canonical_number(const char* text, size_t length, unsigned decimals) {
    if (decimals > 0 && length == decimals + 1) {
        if (text[0] != '.') return false;
        size_t significant = 0;
        for (size_t i = 1; i < length; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            if (significant > 0 || text[i] != '0') ++significant;
        }
        return significant <= 15;
    }
    size_t i = 0;
    while (i < length && text[i] == ' ') ++i;
    if (i < length && text[i] == '-') ++i;
    const size_t integer_start = i;
    while (i < length && text[i] >= '0' && text[i] <= '9') ++i;
    const size_t integer_digits = i - integer_start;
    if (integer_digits == 0 || (integer_digits > 1 && text[integer_start] == '0')) return false;
    size_t significant = text[integer_start] == '0' ? 0 : integer_digits;
    if (decimals > 0) {
        if (i >= length || text[i] != '.') return false;
        ++i;
        if (length - i != decimals) return false;
        bool leading = significant == 0;
        for (; i < length; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            if (text[i] != '0') leading = false;
            if (!leading) ++significant;
        }
    }
    return i == length && significant <= 15;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t julian_day_number(int year, int month, int day) {
    if (month < 1 || month > 12) return 0;
    int64_t days = day + days_before_year(year) + kDayBeforeYearZero;
    for (int m = 1; m < month; ++m) days += month_length(m, year);
    return static_cast<int32_t>(static_cast<uint32_t>(days));
}

void julian_day_to_date(int32_t day_number, int& year, int& month, int& day) {
    int64_t rest = static_cast<int64_t>(day_number) - kDayBeforeYearZero;
    year = 0;
    // Whole 400-year cycles first (146097 days each); the years then go one by one.
    while (rest > kDaysPer400Years) {
        rest -= kDaysPer400Years;
        year += 400;
    }
    while (rest > 0 && rest > year_length(year)) {
        rest -= year_length(year);
        ++year;
    }
    month = 1;
    while (rest > 0 && month < 12 && rest > month_length(month, year)) {
        rest -= month_length(month, year);
        ++month;
    }
    day = static_cast<int>(std::clamp<int64_t>(rest, INT_MIN, INT_MAX));
}

DateParts decode_date_parts(DbfTable& table, int field) {
    DateParts parts;
    const FieldDescriptor& f = table.field(field);
    if (f.type == 'T' && field_width(table, field) == 8) {
        if (!field_holds(table, field, 8)) return parts;
        const uint8_t* p = field_bytes(table, field);
        int32_t day_number = static_cast<int32_t>(read_le32(p));
        int32_t milliseconds = static_cast<int32_t>(read_le32(p + 4));
        if (day_number > kLastDayNumber) return parts;
        // The milliseconds round to the nearest second, which may be the next day.
        int32_t seconds = milliseconds < 0 ? milliseconds / 1000
                                           : static_cast<int32_t>((static_cast<int64_t>(milliseconds) + 500) / 1000);
        if (seconds >= kSecondsPerDay && day_number < kLastDayNumber) {
            day_number += seconds / kSecondsPerDay;
            seconds %= kSecondsPerDay;
        }
        julian_day_to_date(day_number, parts.year, parts.month, parts.day);
        parts.hour = seconds / 3600;
        parts.minute = seconds % 3600 / 60;
        parts.second = seconds % 60;
        return parts;
    }
    const char* text = reinterpret_cast<const char*>(field_bytes(table, field));
    size_t length = usable_width(table, field);
    length = std::find(text, text + length, '\0') - text;
    parts.year = text_piece(text, length, 0, 4);
    parts.month = text_piece(text, length, 4, 2);
    parts.day = text_piece(text, length, 6, 2);
    if (f.type == 'T' || f.type == '@') {
        parts.hour = text_piece(text, length, 8, 2);
        parts.minute = text_piece(text, length, 10, 2);
        parts.second = text_piece(text, length, 12, 2);
    }
    return parts;
}

bool date_parts_valid(const DateParts& parts) {
    // Negative parts come from negative milliseconds of a binary value.
    if (parts.second < 0 || parts.minute < 0 || parts.hour < 0) return false;
    if (parts.second > 59 || parts.minute > 59 || parts.hour > 23) return false;
    if (parts.month < 1 || parts.month > 12 || parts.day < 1 || parts.year < 0 || parts.year > 9999) return false;
    return parts.day <= month_length(parts.month, parts.year);
}

void store_date_parts(DbfTable& table, int field, int year, int month, int day, int hour, int minute, int second) {
    const FieldDescriptor& f = table.field(field);
    const uint32_t width = field_width(table, field);
    if (f.type == 'T' && width == 8) {
        // Months outside the year have no length to sum: the field stays as it is.
        if (month < 1 || month > 12 || !field_holds(table, field, 8)) return;
        int64_t milliseconds = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000;
        uint8_t* p = field_bytes(table, field);
        write_le32(p, static_cast<uint32_t>(julian_day_number(year, month, day)));
        write_le32(p + 4, static_cast<uint32_t>(milliseconds));
        return;
    }
    if (f.type != 'D' && f.type != 'T') return;
    char digits[96];
    int length = std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute,
                               second);
    if (length < 0) return;
    if (f.type == 'T' && length != 14) return;
    size_t count = std::min<size_t>(static_cast<size_t>(length), usable_width(table, field));
    if (f.type == 'D') {
        // A date holds the eight date digits; a wider field has spaces after them,
        // never the time digits.
        count = std::min(count, kCompactDateLength);
        std::memset(field_bytes(table, field), ' ', usable_width(table, field));
    }
    std::memcpy(field_bytes(table, field), digits, count);
}

bool memo_reference_present(const DbfTable& table, int field) {
    if (table.version() == kVersionSmt) {
        size_t count = std::min(usable_width(table, field), kSmtReferenceWidth);
        const uint8_t* p = field_bytes(table, field);
        return std::any_of(p, p + count, [](uint8_t b) { return b != 0; });
    }
    if (field_width(table, field) == 4) return field_integer(table, field) != 0;
    double number = std::trunc(number_from_text(table, field));
    return !std::isnan(number) && number != 0;
}

uint32_t memo_block_number(const DbfTable& table, int field) {
    if (table.version() == kVersionSmt) {
        if (!field_holds(table, field, kSmtReferenceWidth)) return 0;
        return read_le32(field_bytes(table, field) + 6);
    }
    if (field_width(table, field) == 4) {
        int32_t block = field_integer(table, field);
        return block > 0 ? static_cast<uint32_t>(block) : 0;
    }
    double number = std::trunc(number_from_text(table, field));
    if (!(number >= 1 && number <= 4294967295.0)) return 0;
    return static_cast<uint32_t>(number);
}

bool store_number_text(DbfTable& table, int field, double number, unsigned length, unsigned decimals) {
    if (!std::isfinite(number) || !field_holds(table, field, length)) return false;
    // The text in a work area; a longer one (a huge number) in a string of its own.
    char area[kFixedTextRoom];
    std::string long_text;
    const int printed = print_fixed(area, sizeof area, number, static_cast<int>(length), static_cast<int>(decimals));
    if (printed < 0) long_text = format_fixed(number, static_cast<int>(length), static_cast<int>(decimals));
    std::string_view text = printed >= 0 ? std::string_view(area, static_cast<size_t>(printed)) : long_text;
    if (decimals == 0) {
        if (text.size() > length) return false;
    } else {
        const long integer_room = static_cast<long>(length) - static_cast<long>(decimals) - 1;
        // No room for an integer digit: "0.5" is stored as ".5".
        if (integer_room == 0 && text.size() >= 2 && text[0] == '0' && text[1] == '.') text.remove_prefix(1);
        size_t point = text.find('.');
        if (point == std::string::npos || static_cast<long>(point) > integer_room) return false;
    }
    std::memcpy(field_bytes(table, field), text.data(), std::min<size_t>(text.size(), length));
    return true;
}

bool store_fitted_number(DbfTable& table, int field, double number) {
    const FieldDescriptor& f = table.field(field);
    for (int decimals = f.decimals; decimals >= 0; --decimals)
        if (store_number_text(table, field, number, f.length, static_cast<unsigned>(decimals))) return true;
    return false;
}

// Below this a double's units in the last place are at most 0.5, so the rounding
// of print_fixed_quickly can be decided exactly.
constexpr double kExactFixedLimit = 2251799813685248.0;  // 2^51

int print_fixed_quickly(char* out, double number, int width, int decimals) {
    if (!std::isfinite(number) || decimals < 0 || decimals > 22 || width < 0 || width > 40) return -1;
    const double scale = kExactPowersOfTen[decimals];
    // number * scale exactly is product + error (both doubles).
    const double product = number * scale;
    if (!(std::fabs(product) < kExactFixedLimit)) return -1;
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

StoredTextPlan stored_text_plan(const DbfTable& table, int field, DateMode mode) {
    StoredTextPlan plan;
    const FieldDescriptor& f = table.field(field);
    const uint32_t width = field_width(table, field);
    // A nullable field, a V or Q value with a length of its own, and a field
    // that does not lie whole in the record always go through field_text.
    if (f.null_bit >= 0 || f.length_bit >= 0 || width == 0 || size_t{f.offset} + width > table.record_buffer.size())
        return plan;
    plan.offset = f.offset;
    plan.width = width;
    plan.decimals = f.decimals;
    plan.trim_left = trims_left(table.options.trim_mode);
    plan.trim_right = trims_right(table.options.trim_mode);
    switch (f.type) {
    case 'C': case 'V': case 'Q':
        if (width < kTextBufferSize) plan.form = StoredForm::characters;
        break;
    case 'N': case 'F':
        plan.form = StoredForm::number;
        break;
    case 'D':
        // Only the stored form and the compact one show a valid date as its digits.
        if (width == kCompactDateLength &&
            (mode == DateMode::as_stored ||
             (mode == DateMode::compact &&
              table.options.date_formats[static_cast<size_t>(DateMode::compact)] == "%04d%02d%02d")))
            plan.form = StoredForm::compact_date;
        break;
    case 'L':
        plan.form = StoredForm::logical;
        break;
    default:
        break;
    }
    return plan;
}

bool stored_text_view(const StoredTextPlan& plan, const uint8_t* record, std::string_view& text) {
    const char* bytes = reinterpret_cast<const char*>(record) + plan.offset;
    switch (plan.form) {
    case StoredForm::characters: {
        size_t length = plan.width;
        if (const void* zero = std::memchr(bytes, 0, length)) length = static_cast<size_t>(static_cast<const char*>(zero) - bytes);
        text = trimmed_by_plan(plan, std::string_view(bytes, length));
        return true;
    }
    case StoredForm::number:
        if (!is_canonical_number(bytes, plan.width, plan.decimals)) return false;
        text = std::string_view(bytes, plan.width);
        return true;
    case StoredForm::compact_date:
        if (!is_compact_date(reinterpret_cast<const uint8_t*>(bytes))) return false;
        text = std::string_view(bytes, kCompactDateLength);
        return true;
    case StoredForm::logical:
        text = std::string_view(bytes, bytes[0] != 0 ? 1 : 0);
        return true;
    case StoredForm::none: break;
    }
    return false;
}

std::string_view trimmed_by_plan(const StoredTextPlan& plan, std::string_view text) {
    if (plan.trim_right)
        while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (plan.trim_left)
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

const char* field_text(DbfTable& table, int field) { return field_text(table, field, table.options.date_mode); }

bool field_is_null(const DbfTable& table, int field) {
    const int bit = table.field(field).null_bit;
    return bit >= 0 && null_flag_set(table, bit);
}

std::string_view field_value_bytes(const DbfTable& table, int field) {
    const std::string_view stored = field_stored_bytes(table, field);
    const int bit = table.field(field).length_bit;
    if (bit < 0 || stored.empty() || !null_flag_set(table, bit)) return stored;
    const size_t length = static_cast<uint8_t>(stored.back());
    return stored.substr(0, std::min(length, stored.size() - 1));
}

const char* field_text(DbfTable& table, int field, DateMode mode) {
    if (!field_is_null(table, field)) return stored_field_text(table, field, mode);
    // A null value shows as the blank value of its type; the record keeps its bytes.
    const std::string_view stored = field_stored_bytes(table, field);
    const std::string kept(stored);
    blank_field(table, field);
    const char* text = stored_field_text(table, field, mode);
    std::memcpy(field_bytes(table, field), kept.data(), kept.size());
    return text;
}

double field_number(DbfTable& table, int field) {
    if (field_is_null(table, field)) return 0;
    return stored_field_number(table, field);
}

namespace {

const char* stored_field_text(DbfTable& table, int field, DateMode mode) {
    char* out = text_area(table);
    const size_t capacity = table.text_buffer.size();
    const FieldDescriptor& f = table.field(field);
    const bool formatted = mode != DateMode::as_stored;
    switch (f.type) {
    case 'C': case 'V': case 'Q': case '0':  // field_is_character_copy
        return character_copy(table, field);
    case 'N': case 'F': {
        const size_t length = std::min<size_t>(f.length, usable_width(table, field));
        const char* stored = reinterpret_cast<const char*>(field_bytes(table, field));
        if (length == f.length && length > 0 && is_canonical_number(stored, length, f.decimals)) {
            std::memcpy(out, stored, length);
            out[length] = 0;
            return out;
        }
        put_fixed(table, number_from_text(table, field), f.length, f.decimals);
        // No room for an integer digit: "0.50" shows as ".50".
        if (f.decimals != 0 && f.length - f.decimals == 1 && out[0] == '0' && out[1] == '.')
            std::memmove(out, out + 1, std::strlen(out));
        return out;
    }
    case 'L':
        out[0] = field_holds(table, field, 1) ? static_cast<char>(field_bytes(table, field)[0]) : 0;
        out[1] = 0;
        return out;
    case 'D': {
        DateParts parts = decode_date_parts(table, field);
        if (!date_parts_valid(parts)) return spaces(table, formatted ? 10 : 8);
        return formatted ? format_date(table, mode, parts) : character_copy(table, field);
    }
    case 'T': {
        DateParts parts = decode_date_parts(table, field);
        if (!date_parts_valid(parts)) return spaces(table, formatted ? 19 : 14);
        if (formatted) return format_datetime(table, mode, parts);
        // Binary date-times have no stored text: "as stored" shows their compact text.
        return field_width(table, field) == 8 ? format_datetime(table, DateMode::compact, parts)
                                              : character_copy(table, field);
    }
    case '@':
        if (formatted) return format_datetime(table, mode, timestamp_parts(table, field));
        if (field_width(table, field) != 8) return character_copy(table, field);
        {
            DateParts parts = timestamp_parts(table, field);
            if (!date_parts_valid(parts)) return spaces(table, kCompactDateTimeWidth);
            return format_datetime(table, DateMode::compact, parts);
        }
    case 'I': case '+':
        std::snprintf(out, capacity, "%10d", field_integer(table, field));
        return out;
    case 'Y':
        std::snprintf(out, capacity, "%24.4f", currency_value(table, field));
        return out;
    case 'O':
        std::snprintf(out, capacity, "%20.8f", level7_double(table, field));
        return out;
    case 'B':
        if (f.length == 8) return put_fixed(table, binary_double(table, field), 20, f.decimals);
        [[fallthrough]];
    case 'M': case 'G': case 'W':
        std::snprintf(out, capacity, "%-10s", memo_reference_present(table, field) ? "Full memo" : "Empty memo");
        return out;
    default:
        out[0] = 0;
        return out;
    }
}

double stored_field_number(DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    switch (f.type) {
    case 'I': case '+': return field_integer(table, field);
    case 'B': return f.length == 8 ? binary_double(table, field) : 0;
    case 'N': case 'F': return number_from_text(table, field);
    case 'O': return level7_double(table, field);
    case 'Y': return currency_value(table, field);
    default: return 0;
    }
}

} // namespace

void set_non_memo_field(DbfTable& table, int field, std::string_view data, double number) {
    const std::string_view text = data.substr(0, data.find('\0'));
    const FieldDescriptor& f = table.field(field);
    switch (f.type) {
    case 'C': case 'Q': case 'V': {
        size_t count = std::min(text.size(), usable_width(table, field));
        std::memcpy(field_bytes(table, field), text.data(), count);
        return;
    }
    case 'N': case 'F':
        (void)store_number_text(table, field, number, f.length, f.decimals);  // too long: field unchanged
        return;
    case 'L': {
        if (!field_holds(table, field, 1)) return;
        const char c = text.empty() ? '\0' : ascii_upper(text[0]);
        field_bytes(table, field)[0] = std::strchr("YNFT01", c) && c != 0 ? static_cast<uint8_t>(c) : ' ';
        return;
    }
    case 'D': {
        // At most 10 characters in a space-filled work area, cut to the mode's length.
        char work[kDateWorkArea];
        std::memset(work, ' ', sizeof work);
        std::memcpy(work, text.data(), std::min<size_t>(text.size(), 10));
        store_date_text(table, field, work, table.options.date_mode != DateMode::as_stored ? 10 : 8);
        return;
    }
    case 'T': case '@':
        store_date_text(table, field, text.data(), text.size());
        return;
    case 'I': case '+': {
        int32_t value = 0;
        if (number <= 2147483647.0 && number >= -2147483648.0) value = static_cast<int32_t>(number);
        store_field_integer(table, field, value);
        return;
    }
    case 'Y': {
        // Rounded, not truncated: 12.3456 * 10000 is 123455.99999... in binary.
        double scaled = std::round(number * 10000.0);
        if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) return;
        if (!field_holds(table, field, 8)) return;
        write_le64(field_bytes(table, field), static_cast<uint64_t>(static_cast<int64_t>(scaled)));
        return;
    }
    case 'O': {
        if (!field_holds(table, field, 8)) return;
        uint64_t bits = double_to_bits(number);
        bits = number < 0 ? ~(bits | kTopBit) : (bits | kTopBit);
        uint8_t* p = field_bytes(table, field);
        write_be32(p, static_cast<uint32_t>(bits >> 32));
        write_be32(p + 4, static_cast<uint32_t>(bits));
        return;
    }
    case 'B':
        if (!field_is_memo(table, field) && field_holds(table, field, 8))
            write_le64(field_bytes(table, field), double_to_bits(number));
        return;
    default:
        return;
    }
}

void set_date_separator(DbfTable& table, char separator) {
    const char c = separator ? separator : '.';
    for (int mode = 1; mode <= 3; ++mode) {
        for (std::string* format : {&table.options.date_formats[static_cast<size_t>(mode)],
                                    &table.options.datetime_formats[static_cast<size_t>(mode)]}) {
            if (format->size() > 4) (*format)[4] = c;
            if (format->size() > 9) (*format)[9] = c;
        }
    }
}

} // namespace rorarodi
