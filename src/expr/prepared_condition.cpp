#include "expr/prepared_condition.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "expr/calculator.h"
#include "platform/byte_words.h"
#include "table/field_text.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// The compact date form substitution uses ("%04d%02d%02d"): eight stored digits of
// a valid date come out unchanged.
constexpr const char* kCompactDateFormat = "%04d%02d%02d";
constexpr int kMaxExactDigits = 15;  // decimal digits that survive a round trip through a double
constexpr int kMaxExactPowerOfTen = 22;
constexpr double kCurrencyExactLimit = 1e11;  // 10^15 ten-thousandths

// An operand as the plan writes it: literal text, at most one field, literal text.
struct OperandParts {
    std::string before;
    int field = -1;
    std::string after;
    bool several_fields = false;

    void add_text(std::string_view text) { (field < 0 ? before : after) += text; }
    void add_field(int index) {
        if (field >= 0) several_fields = true;
        field = index;
    }
};

bool is_parenthesis(uint8_t c) { return c == '(' || c == ')'; }

bool only_spaces(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

// A text fit to stand beside a field in a prepared text operand: no parenthesis
// (stripping and string functions could use it) and no zero byte, also once
// case-folded.
bool plain_literal(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c == 0 || is_parenthesis(static_cast<uint8_t>(c)); });
}

// True when no record's text of the field can begin with a character that would
// join the operator before it into a pair, nor be empty: numbers, dates and
// date-times (which substitution never converts).
bool text_never_extends_operator(const DbfTable& table, int field) {
    char type = table.field(field).type;
    return field_is_numeric(table, field) || type == 'D' || type == 'T' || type == '@';
}

// The bytes of a field that lie in the record buffer, as the text forms read them.
size_t readable_width(const DbfTable& table, int field) {
    size_t offset = table.field(field).offset;
    if (offset >= table.record_buffer.size()) return 0;
    size_t width = std::min<size_t>(field_width(table, field), table.record_buffer.size() - offset);
    return std::min(width, kTextBufferSize - 1);
}

uint8_t fold_byte(const DbfTable& table, uint8_t c) {
    if (!table.options.case_insensitive || c == 0) return c;
    std::string text(1, static_cast<char>(c));
    upper_case_operand(table, text);
    return static_cast<uint8_t>(text[0]);
}

std::string fold_text(const DbfTable& table, std::string text) {
    if (table.options.case_insensitive) upper_case_operand(table, text);
    return text;
}

bool numeric_false_always(ComparisonOperator op) {
    return op == ComparisonOperator::tilde_equal || op == ComparisonOperator::other;
}

bool text_false_always(ComparisonOperator op) {
    return op == ComparisonOperator::tilde_less || op == ComparisonOperator::tilde_greater ||
           op == ComparisonOperator::tilde_equal || op == ComparisonOperator::other;
}

// Prepares a numeric operand; false when the comparison must stay general. A
// constant the calculator rejects sets `failed`.
bool prepare_number(const DbfTable& table, const OperandParts& parts, PreparedOperand& operand, bool& failed) {
    if (parts.several_fields) return false;
    if (parts.field < 0) {
        std::string text = parts.before;
        strip_unbalanced_parens(text);
        bool ok = true;
        operand.number = calculate(text, ok);
        if (!ok) failed = true;
        return true;
    }
    // Spaces around the field do not change what the calculator reads.
    if (!only_spaces(parts.before) || !only_spaces(parts.after)) return false;
    const FieldDescriptor& f = table.field(parts.field);
    operand.field = parts.field;
    operand.offset = f.offset;
    switch (f.type) {
    case 'N':
    case 'F':
        // The value is read from the stored digits; they must all lie in the record.
        if (size_t{f.offset} + f.length > table.record_length()) return false;
        operand.reading = FieldReading::number_text;
        operand.width = f.length;
        operand.decimals = f.decimals;
        return true;
    case 'I':
    case '+': operand.reading = FieldReading::integer; return true;
    case 'Y': operand.reading = FieldReading::currency; return true;
    default: return false;  // doubles show rounded to their decimals: read through the text
    }
}

// Prepares a text operand; false when the comparison must stay general.
bool prepare_text(DbfTable& table, const OperandParts& parts, PreparedOperand& operand) {
    if (parts.several_fields) return false;
    if (parts.field < 0) {
        std::string text = parts.before;
        strip_unbalanced_parens(text);
        text = fold_text(table, text);
        apply_string_functions(text, table);
        operand.text = text.c_str();
        return true;
    }
    operand.prefix = fold_text(table, parts.before);
    operand.suffix = fold_text(table, parts.after);
    if (!plain_literal(parts.before) || !plain_literal(parts.after) || !plain_literal(operand.prefix) ||
        !plain_literal(operand.suffix))
        return false;
    const FieldDescriptor& f = table.field(parts.field);
    operand.field = parts.field;
    operand.offset = f.offset;
    operand.width = readable_width(table, parts.field);
    // Stored bytes are read where the whole field lies within the record.
    const bool in_record = operand.offset + field_width(table, parts.field) <= table.record_length();
    switch (f.type) {
    case 'C':
    case 'V':
    case 'Q':
    case '0': operand.reading = in_record ? FieldReading::characters : FieldReading::text_form; break;
    case 'D':
        operand.reading = in_record && operand.width >= kCompactDateLength &&
                                  table.options.date_formats[4] == kCompactDateFormat
                              ? FieldReading::date
                              : FieldReading::text_form;
        break;
    default: operand.reading = FieldReading::text_form; break;
    }
    return true;
}

std::shared_ptr<const TextByteMaps> build_byte_maps(DbfTable& table) {
    auto maps = std::make_shared<TextByteMaps>();
    for (int b = 0; b < 256; ++b) {
        const uint8_t c = static_cast<uint8_t>(b);
        uint8_t stored = c;
        if (!table.options.ansi) from_oem(table, &stored, 1);
        const uint8_t stored_folded = fold_byte(table, stored);
        maps->stored_byte[c] = stored_folded;
        maps->stored_needs_general[c] =
            stored == 0 || stored_folded == 0 || is_parenthesis(stored) || is_parenthesis(stored_folded);
        const uint8_t folded = fold_byte(table, c);
        maps->text_byte[c] = folded;
        maps->text_needs_general[c] = c == 0 || folded == 0 || is_parenthesis(c) || is_parenthesis(folded);
        if (b == 0) continue;
        if (maps->stored_needs_general[c] != is_parenthesis(c)) maps->only_parentheses_general = false;
        if (stored_folded != c) maps->stored_unchanged = false;
    }
    return maps;
}

// The value the calculator reads from a numeric field's text, taken from the stored
// characters: spaces, a sign, digits with one point, spaces (a zero byte ends them).
// False when they are anything else, or a number whose formatted text would not
// read back as the same double; the record then goes the general way.
bool stored_number_value(const uint8_t* bytes, size_t length, unsigned decimals, double& value) {
    size_t i = 0;
    while (i < length && bytes[i] == ' ') ++i;
    bool negative = false;
    if (i < length && (bytes[i] == '-' || bytes[i] == '+')) negative = bytes[i++] == '-';
    uint64_t mantissa = 0;
    int significant = 0, fraction = 0;
    bool digits = false, point = false;
    for (; i < length; ++i) {
        const uint8_t c = bytes[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (mantissa != 0 || c != '0') ++significant;
            if (significant > kMaxExactDigits) return false;
            mantissa = mantissa * 10 + (c - '0');
            if (point) ++fraction;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    for (; i < length && bytes[i] != 0; ++i)
        if (bytes[i] != ' ') return false;
    if (!digits) {
        value = 0;  // nothing converted: the field shows as zero
        return true;
    }
    // The text shows `decimals` places: the stored value must keep within them and
    // within the digits a double holds, so that printing and reading give it back.
    if (fraction > static_cast<int>(decimals) || fraction > kMaxExactPowerOfTen ||
        significant + (static_cast<int>(decimals) - fraction) > kMaxExactDigits)
        return false;
    value = static_cast<double>(mantissa) / kExactPowersOfTen[fraction];
    if (negative) value = -value;
    return true;
}

bool operand_value(DbfTable& table, const PreparedOperand& operand, FetchedRecord& record, double& value) {
    if (operand.field < 0) {
        value = operand.number;
        return true;
    }
    switch (operand.reading) {
    case FieldReading::number_text:
        return stored_number_value(record.bytes + operand.offset, operand.width, operand.decimals, value);
    case FieldReading::integer:
        record.into_buffer(table);
        value = field_integer(table, operand.field);
        return true;
    case FieldReading::currency:
        record.into_buffer(table);
        value = field_number(table, operand.field);
        return std::fabs(value) < kCurrencyExactLimit;
    default: return false;
    }
}

// The length of stored characters up to the first zero byte (at most `width`);
// false when a parenthesis comes before it. Eight bytes are checked at a time, the
// last eight overlapping the ones before; a word holding a zero byte or a
// parenthesis is looked at byte by byte.
bool scan_stored_characters(const uint8_t* bytes, size_t width, size_t& length) {
    auto suspect = [](const uint8_t* p) {
        const uint64_t v = load_word(p);
        return (zero_bytes(v) | bytes_equal(v, '(') | bytes_equal(v, ')')) != 0;
    };
    size_t i = 0;
    if (width >= 8) {
        while (i + 8 <= width && !suspect(bytes + i)) i += 8;
        if (i + 8 > width && (i == width || !suspect(bytes + width - 8))) {
            length = width;
            return true;
        }
    }
    for (; i < width; ++i) {
        if (bytes[i] == 0) break;
        if (is_parenthesis(bytes[i])) return false;
    }
    length = i;
    return true;
}

// A character field's text as the text form shows it: the stored bytes up to a
// zero byte, trimmed as /TRIM says; false when a parenthesis stands among them.
bool stored_characters(const DbfTable& table, const PreparedOperand& operand, const FetchedRecord& record,
                       const uint8_t*& bytes, size_t& length) {
    bytes = record.bytes + operand.offset;
    if (!scan_stored_characters(bytes, operand.width, length)) return false;
    if (trims_right(table.options.trim_mode))
        while (length > 0 && bytes[length - 1] == ' ') --length;
    if (trims_left(table.options.trim_mode))
        while (length > 0 && bytes[0] == ' ') ++bytes, --length;
    return true;
}

// The first `count` stored bytes, as compared, against a text: below 0, 0 or above 0.
int compare_stored(const TextByteMaps& maps, const uint8_t* bytes, std::string_view text, size_t count) {
    if (count == 0) return 0;
    if (maps.stored_unchanged) return std::memcmp(bytes, text.data(), count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t a = maps.stored_byte[bytes[i]];
        const uint8_t b = static_cast<uint8_t>(text[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

// A direct comparison of a character field with a constant; -1 when the record
// needs the general path, -2 when the texts have to be written out (~ and ^).
int evaluate_direct(const DbfTable& table, const PreparedComparison& comparison, const FetchedRecord& record) {
    const bool field_left = comparison.left.field >= 0;
    const PreparedOperand& field = field_left ? comparison.left : comparison.right;
    const std::string_view constant = field_left ? comparison.right.text : comparison.left.text;
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    if (!stored_characters(table, field, record, bytes, length)) return -1;
    switch (comparison.op) {
    case ComparisonOperator::contains:
    case ComparisonOperator::lacks: return -2;
    case ComparisonOperator::exact:
        return length == constant.size() && compare_stored(*comparison.maps, bytes, constant, length) == 0 ? 1 : 0;
    default: {
        int sign = compare_stored(*comparison.maps, bytes, constant, std::min(length, constant.size()));
        if (!field_left) sign = -sign;
        return prefix_verdict(comparison.op, sign) ? 1 : 0;
    }
    }
}

// The text of an operand as the comparison sees it; false when the record needs
// the general path.
bool operand_text(DbfTable& table, const PreparedComparison& comparison, const PreparedOperand& operand,
                  FetchedRecord& record, PreparedWork& work, std::string& buffer, std::string_view& text) {
    if (operand.field < 0) {
        text = operand.text;
        return true;
    }
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    const TextByteMaps& maps = *comparison.maps;
    const uint8_t* map = maps.text_byte.data();
    const bool* needs_general = maps.text_needs_general.data();
    switch (operand.reading) {
    case FieldReading::characters:
        if (!stored_characters(table, operand, record, bytes, length)) return false;
        map = maps.stored_byte.data();
        needs_general = maps.stored_needs_general.data();
        break;
    case FieldReading::date:
        bytes = record.bytes + operand.offset;
        if (is_compact_date(bytes)) {
            length = kCompactDateLength;
            break;
        }
        [[fallthrough]];
    default: {
        bool numeric = false;
        record.into_buffer(table);
        work.field.clear();
        append_substituted_field(table, operand.field, work.field, numeric);
        bytes = reinterpret_cast<const uint8_t*>(work.field.data());
        length = work.field.size();
        break;
    }
    }
    buffer.resize(operand.prefix.size() + length + operand.suffix.size());
    char* out = buffer.data();
    std::memcpy(out, operand.prefix.data(), operand.prefix.size());
    out += operand.prefix.size();
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = bytes[i];
        if (needs_general[c]) return false;
        out[i] = static_cast<char>(map[c]);
    }
    std::memcpy(out + length, operand.suffix.data(), operand.suffix.size());
    text = buffer;
    return true;
}

} // namespace

PreparedComparison prepare_comparison(DbfTable& table, const SubstitutionPlan& plan,
                                      std::shared_ptr<const TextByteMaps>& maps) {
    PreparedComparison comparison;
    if (!plan.has_operator) {
        comparison.form = PreparedForm::fixed;
        return comparison;
    }
    const std::vector<SubstitutionPlan::Part>& parts = plan.parts;
    const std::string& operator_text = parts[plan.operator_part].text;
    const size_t at = plan.operator_offset;
    const char first = operator_text[at];
    char second = 0;
    if (at + 1 < operator_text.size()) {
        second = operator_text[at + 1];
    } else if (plan.operator_part + 1 < parts.size() && forms_operator_pair(first, '=') &&
               !text_never_extends_operator(table, parts[plan.operator_part + 1].field)) {
        return comparison;  // the field's first character decides the operator
    }
    size_t length = 1;
    comparison.op = identify_operator(first, second, length);

    OperandParts left, right;
    for (size_t k = 0; k < plan.operator_part; ++k) {
        if (parts[k].field >= 0)
            left.add_field(parts[k].field);
        else
            left.add_text(parts[k].text);
    }
    left.add_text(std::string_view(operator_text).substr(0, at));
    right.add_text(std::string_view(operator_text).substr(at + length));
    for (size_t k = plan.operator_part + 1; k < parts.size(); ++k) {
        if (parts[k].field >= 0)
            right.add_field(parts[k].field);
        else
            right.add_text(parts[k].text);
    }

    if (plan.numeric) {
        bool failed = false;
        if (!prepare_number(table, left, comparison.left, failed) ||
            !prepare_number(table, right, comparison.right, failed)) {
            // A constant the calculator rejects fails the comparison all the same.
            if (failed) comparison.form = PreparedForm::fixed;
            return comparison;
        }
        if (failed || numeric_false_always(comparison.op)) {
            comparison.form = PreparedForm::fixed;
            return comparison;
        }
        comparison.form = PreparedForm::numeric;
        return comparison;
    }

    if (text_false_always(comparison.op)) {
        comparison.form = PreparedForm::fixed;
        return comparison;
    }
    if (!prepare_text(table, left, comparison.left) || !prepare_text(table, right, comparison.right)) return comparison;
    if (comparison.left.field < 0 && comparison.right.field < 0) {
        comparison.form = PreparedForm::fixed;
        comparison.verdict = compare_texts(comparison.op, comparison.left.text, comparison.right.text);
        return comparison;
    }
    // A byte map cannot tell the second byte of a double-byte character from a
    // letter, which upper-casing must leave alone.
    if (table.options.case_insensitive && double_byte_page(table)) return comparison;
    if (!maps) maps = build_byte_maps(table);
    comparison.maps = maps;
    comparison.form = PreparedForm::text;
    const PreparedOperand& field = comparison.left.field >= 0 ? comparison.left : comparison.right;
    const PreparedOperand& other = comparison.left.field >= 0 ? comparison.right : comparison.left;
    comparison.direct = other.field < 0 && field.reading == FieldReading::characters && field.prefix.empty() &&
                        field.suffix.empty() && maps->only_parentheses_general;
    return comparison;
}

int evaluate_prepared(DbfTable& table, const PreparedComparison& comparison, PreparedWork& work,
                      FetchedRecord& record) {
    switch (comparison.form) {
    case PreparedForm::fixed: return comparison.verdict ? 1 : 0;
    case PreparedForm::numeric: {
        double left = 0, right = 0;
        if (!operand_value(table, comparison.left, record, left) ||
            !operand_value(table, comparison.right, record, right))
            return -1;
        return compare_numbers(comparison.op, left, right) ? 1 : 0;
    }
    case PreparedForm::text: {
        if (comparison.direct) {
            const int verdict = evaluate_direct(table, comparison, record);
            if (verdict != -2) return verdict;
        }
        std::string_view left, right;
        if (!operand_text(table, comparison, comparison.left, record, work, work.left, left) ||
            !operand_text(table, comparison, comparison.right, record, work, work.right, right))
            return -1;
        return compare_texts(comparison.op, left, right) ? 1 : 0;
    }
    default: return -1;
    }
}

int evaluate_prepared(DbfTable& table, const PreparedComparison& comparison, PreparedWork& work) {
    FetchedRecord record{table.record_buffer.data(), true};
    return evaluate_prepared(table, comparison, work, record);
}

} // namespace rorarodi
