#include "table/typed_value.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "platform/byte_words.h"
#include "table/byte_utf8.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// Longest run of digits that always fits a signed 64-bit integer.
constexpr size_t kInt64Digits = 18;
constexpr int64_t kCurrencyScale = 10000;
// Integers a double holds exactly: up to 2^53.
constexpr double kExactDoubleIntegers = 9007199254740992.0;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void append_two_digits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

void append_iso_date(std::string& out, const DateParts& parts) {
    append_two_digits(out, parts.year / 100);
    append_two_digits(out, parts.year % 100);
    out += '-';
    append_two_digits(out, parts.month);
    out += '-';
    append_two_digits(out, parts.day);
}

void append_iso_time(std::string& out, const DateParts& parts) {
    out += 'T';
    append_two_digits(out, parts.hour);
    out += ':';
    append_two_digits(out, parts.minute);
    out += ':';
    append_two_digits(out, parts.second);
}

// The decimal text of a currency value: the stored integer in ten-thousandths.
void currency_text(int64_t stored, std::string& out) {
    out.clear();
    uint64_t magnitude = stored < 0 ? 0 - static_cast<uint64_t>(stored) : static_cast<uint64_t>(stored);
    if (stored < 0) out += '-';
    out += std::to_string(magnitude / kCurrencyScale);
    out += '.';
    const std::string fraction = std::to_string(magnitude % kCurrencyScale + kCurrencyScale);
    out.append(fraction, 1, std::string::npos);
}

// A decimal text without fraction or exponent: digits after an optional '-'.
bool is_integer_text(const std::string& text) {
    // A plain loop: find_first_of looks each character up with a call of its own.
    for (char c : text)
        if (c == '.' || c == 'e' || c == 'E') return false;
    return true;
}

// True when the text holds a zero byte, looked for eight bytes at a time (a short
// text is not worth a call of memchr).
bool holds_zero(std::string_view text) {
    return !all_bytes(text, [](uint64_t word) { return zero_bytes(word) == 0; }, [](unsigned char c) { return c != 0; });
}

// True when every byte of the text is ASCII and none is zero.
bool plain_ascii(std::string_view text) {
    return all_bytes(text, [](uint64_t word) { return (high_bytes(word) | zero_bytes(word)) == 0; },
                     [](unsigned char c) { return c != 0 && c < 0x80; });
}

// True when every byte of the text is ASCII from the space on, and none is '"' or
// '\\': plain ASCII that a quoted form writes as it is.
bool quotable_ascii(std::string_view text) {
    return all_bytes(
        text,
        [](uint64_t word) {
            return (high_bytes(word) | bytes_below(word, 0x20) | bytes_equal(word, '"') | bytes_equal(word, '\\')) == 0;
        },
        [](unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; });
}

// How many of the eight bytes at `at` from the end on are spaces or NULs, on a
// little-endian machine.
size_t trailing_blanks(const char* at) {
    const uint64_t word = load_word(at);
    const uint64_t other = ~(zero_bytes(word) | bytes_equal(word, ' ')) & kHighBits;
    return static_cast<size_t>(std::countl_zero(other)) / 8;
}

} // namespace

bool exact_number_text(std::string_view stored, std::string& out) {
    out.clear();
    size_t i = 0;
    const size_t end = stored.size();
    auto at = [&](size_t k) -> char {
        if (k >= end) return '\0';
        // The first ',' reads as a decimal point; any later one ends the number.
        const char c = stored[k];
        if (c == ',' && stored.find(',') == k) return '.';
        return c;
    };
    while (i < end && (stored[i] == ' ' || (stored[i] >= '\t' && stored[i] <= '\r'))) ++i;
    bool negative = false;
    if (at(i) == '+' || at(i) == '-') negative = at(i++) == '-';
    const size_t integer_start = i;
    while (is_digit(at(i))) ++i;
    const size_t integer_end = i;
    size_t fraction_start = i, fraction_end = i;
    if (at(i) == '.') {
        fraction_start = fraction_end = ++i;
        while (is_digit(at(i))) ++i;
        fraction_end = i;
    }
    if (integer_start == integer_end && fraction_start == fraction_end) return false;
    if (negative) out += '-';
    size_t first = integer_start;
    while (first + 1 < integer_end && stored[first] == '0') ++first;
    if (first == integer_end)
        out += '0';
    else
        out.append(stored.substr(first, integer_end - first));
    if (fraction_end > fraction_start) {
        out += '.';
        out.append(stored.substr(fraction_start, fraction_end - fraction_start));
    }
    // An exponent counts only with at least one digit.
    if (at(i) == 'e' || at(i) == 'E') {
        size_t k = i + 1;
        if (at(k) == '+' || at(k) == '-') ++k;
        if (is_digit(at(k))) {
            const size_t exponent_start = i;
            while (is_digit(at(k))) ++k;
            out.append(stored.substr(exponent_start, k - exponent_start));
        }
    }
    return true;
}

bool shortest_double_text(double value, std::string& out) {
    out.clear();
    if (!std::isfinite(value)) return false;
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.assign(digits, result.ptr);
    return true;
}

ColumnKind column_kind(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    const bool binary = (field_flags(table, field) & kBinaryFieldFlag) != 0;
    switch (f.type) {
    case 'C': case 'V': case 'M': return binary ? ColumnKind::bytes : ColumnKind::text;
    case 'N': case 'F': return f.decimals == 0 && f.length <= kInt64Digits ? ColumnKind::integer : ColumnKind::decimal;
    case 'I': case '+': return ColumnKind::integer;
    case 'B': return field_is_memo(table, field) ? ColumnKind::bytes : ColumnKind::real;
    case 'O': return ColumnKind::real;
    case 'Y': return ColumnKind::currency;
    case 'D': return ColumnKind::date;
    case 'T': case '@': return ColumnKind::datetime;
    case 'L': return ColumnKind::logical;
    case 'G': case 'W': case 'Q': case '0': return ColumnKind::bytes;
    default: return ColumnKind::text;
    }
}

TypedReader::TypedReader(DbfTable& table) : table_(table), page_(text_utf8_page(table)) {
    if (!page_.double_byte()) single_byte_ = std::make_unique<ByteUtf8Table>(page_);
    bool any_memo = false;
    for (int field = 0; field < static_cast<int>(table.field_count()); ++field) {
        const FieldDescriptor& f = table.field(field);
        FieldPlan plan;
        plan.kind = column_kind(table, field);
        plan.memo = field_is_memo(table, field);
        plan.type = f.type;
        plan.decimals = f.decimals;
        plan.offset = f.offset;
        plan.width = field_width(table, field);
        plan.plain = f.null_bit < 0 && f.length_bit < 0 && size_t{f.offset} + plan.width <= table.record_buffer.size();
        any_memo = any_memo || plan.memo;
        plans_.push_back(plan);
    }
    if (any_memo) memos_ = std::make_unique<MemoReader>(table);
}

TypedReader::~TypedReader() = default;

std::string TypedReader::name(int field) const {
    const std::string& stored = table_.field(field).name;
    return page_.to_utf8(std::string_view(stored.c_str()));
}

int stored_logical(char c) {
    switch (c) {
    case 'T': case 't': case 'Y': case 'y': case '1': return 1;
    case 'F': case 'f': case 'N': case 'n': case '0': return 0;
    default: return -1;
    }
}

bool stored_number_is_exact(const char* stored, size_t width, unsigned decimals) {
    // A number without an integer digit (".50") is not JSON's form of it.
    return is_canonical_number(stored, width, decimals) && !(decimals > 0 && width == decimals + 1u);
}

char* put_iso_date(const char* d, char* to) {
    const char iso[] = {d[0], d[1], d[2], d[3], '-', d[4], d[5], '-', d[6], d[7]};
    std::memcpy(to, iso, sizeof iso);
    return to + sizeof iso;
}

std::string_view without_padding(std::string_view stored) {
    // Padding runs are skipped eight spaces at a time.
    size_t end = stored.size();
    for (; end >= 8 && load_word(stored.data() + end - 8) == kEightSpaces;) end -= 8;
    if (std::endian::native == std::endian::little && end >= 8) {
        // The last word's trailing spaces and NULs at once: its last byte in
        // memory is its top byte.
        end -= trailing_blanks(stored.data() + end - 8);
    }
    while (end > 0 && (stored[end - 1] == ' ' || stored[end - 1] == '\0')) --end;
    return stored.substr(0, end);
}

// Text in UTF-8 with every NUL dropped (a NUL never occurs inside the UTF-8 form
// of another character) and, for character fields, the padding spaces removed:
// trailing spaces and NULs go before the conversion, since both are dropped.
void TypedReader::read_text(std::string_view stored, bool trim) {
    if (trim) stored = without_padding(stored);
    std::string& out = value_.text;
    value_.type = ValueType::text;
    if (single_byte_ && quotable_ascii(stored)) {
        // The usual text: its UTF-8 form is itself, quoted as it is.
        out.assign(stored);
        value_.plain = true;
        return;
    }
    if (single_byte_ && plain_ascii(stored)) {
        // The usual text: its UTF-8 form is itself, with no NUL to drop.
        out.assign(stored);
        return;
    }
    out.clear();
    if (single_byte_)
        single_byte_->append(out, stored);
    else
        page_.append_utf8(out, stored);
    if (holds_zero(out)) out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
}

void TypedReader::read_memo(int field, bool as_text) {
    raw_.clear();
    if (memos_ && memos_->start(field))
        for (std::span<char> piece = memos_->next(); !piece.empty(); piece = memos_->next())
            raw_.append(piece.data(), piece.size());
    if (as_text) {
        read_text(raw_, false);
    } else {
        value_.text.swap(raw_);
        value_.type = ValueType::bytes;
    }
}

const TypedValue& TypedReader::read(int field) {
    TypedValue& v = value_;
    v.type = ValueType::null;
    v.plain = false;
    v.text.clear();
    const FieldPlan& plan = plans_[static_cast<size_t>(field)];
    const ColumnKind kind = plan.kind;
    // A V or Q value is exactly as long as its length says: nothing of it is padding.
    const std::string_view stored =
        plan.plain ? std::string_view(reinterpret_cast<const char*>(table_.record_buffer.data()) + plan.offset, plan.width)
                   : field_value_bytes(table_, field);
    if (!plan.plain && field_is_null(table_, field)) return v;
    if (plan.memo) {
        read_memo(field, kind == ColumnKind::text);
        return v;
    }
    switch (kind) {
    case ColumnKind::text: read_text(stored, plan.type != 'V'); break;
    case ColumnKind::bytes:
        v.text.assign(stored);
        v.type = ValueType::bytes;
        break;
    case ColumnKind::integer:
    case ColumnKind::decimal:
        if (plan.type == 'I' || plan.type == '+') {
            v.integer = field_integer(table_, field);
            v.text = std::to_string(v.integer);
            v.type = ValueType::integer;
            break;
        }
        if (plan.plain && stored_number_is_exact(stored.data(), stored.size(), plan.decimals)) {
            // Spaces, an optional '-', digits without leading zeros and the decimals:
            // the stored text without its spaces is the exact number's text, an
            // integer's when there are no decimals (no point, no exponent).
            v.text.assign(trim_spaces(stored));
            v.type = ValueType::number;
            if (plan.decimals == 0 && v.text.size() - (v.text[0] == '-') <= kInt64Digits) {
                std::from_chars(v.text.data(), v.text.data() + v.text.size(), v.integer);
                v.type = ValueType::integer;
            }
            break;
        }
        if (!exact_number_text(stored, v.text)) break;
        v.type = ValueType::number;
        if (is_integer_text(v.text) && v.text.size() - (v.text[0] == '-') <= kInt64Digits) {
            std::from_chars(v.text.data(), v.text.data() + v.text.size(), v.integer);
            v.type = ValueType::integer;
        } else if (kind == ColumnKind::integer) {
            // A whole number written with a point or an exponent in a field
            // without decimals is that integer.
            const double real = std::strtod(v.text.c_str(), nullptr);
            if (std::trunc(real) == real && std::fabs(real) <= kExactDoubleIntegers) {
                v.integer = static_cast<int64_t>(real);
                v.text = std::to_string(v.integer);
                v.type = ValueType::integer;
            }
        }
        break;
    case ColumnKind::real:
        if (shortest_double_text(field_number(table_, field), v.text)) v.type = ValueType::number;
        break;
    case ColumnKind::currency: {
        if (stored.size() < 8) break;
        int64_t raw = 0;
        for (int i = 7; i >= 0; --i) raw = static_cast<int64_t>(static_cast<uint64_t>(raw) << 8 | static_cast<uint8_t>(stored[i]));
        currency_text(raw, v.text);
        v.type = ValueType::number;
        break;
    }
    case ColumnKind::date:
    case ColumnKind::datetime: {
        if (plan.plain && plan.type == 'D' && stored.size() == 8 && is_compact_date(reinterpret_cast<const uint8_t*>(stored.data()))) {
            // Eight digits of a valid date: its ISO form is those digits.
            char iso[kCompactDateLength + 2];
            v.text.assign(iso, static_cast<size_t>(put_iso_date(stored.data(), iso) - iso));
            v.type = ValueType::date;
            v.plain = true;
            break;
        }
        const bool binary_timestamp = plan.type == '@' && stored.size() == 8;
        const DateParts parts = binary_timestamp ? timestamp_parts(table_, field) : decode_date_parts(table_, field);
        if (!date_parts_valid(parts)) break;
        append_iso_date(v.text, parts);
        if (kind == ColumnKind::datetime) append_iso_time(v.text, parts);
        v.type = kind == ColumnKind::date ? ValueType::date : ValueType::datetime;
        break;
    }
    case ColumnKind::logical: {
        const int truth = stored_logical(stored.empty() ? ' ' : stored[0]);
        if (truth >= 0) {
            v.integer = truth;
            v.type = ValueType::logical;
        }
        break;
    }
    }
    return v;
}

} // namespace rorarodi
