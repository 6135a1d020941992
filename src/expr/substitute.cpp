#include "expr/substitute.h"

#include <array>

#include <cstring>

#include "platform/text.h"
#include "table/field_text.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

constexpr std::string_view kOperatorCharacters = "><=~^+-/*()";
constexpr size_t kWordCompareLength = 10;

bool is_word_character(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 128;
}

bool is_date_type(char type) { return type == 'D' || type == 'T' || type == '@'; }

// Walks a source text and reports what substitution makes of it: copied characters,
// the first operator character (reported right before it is copied) and fields.
template <typename Sink>
void scan_source(const DbfTable& table, std::string_view source, Sink& sink) {
    const std::array<char, 2>& quotes = table.options.expression_quotes;
    char open_quote = 0;
    bool operator_seen = false;
    bool in_word = false;
    for (size_t i = 0; i < source.size(); ++i) {
        char c = source[i];
        if (open_quote) {
            if (c == open_quote)
                open_quote = 0;
            else
                sink.copy(c);
            continue;
        }
        if (c != 0 && (c == quotes[0] || c == quotes[1])) {
            open_quote = c;
            continue;
        }
        if (!operator_seen && kOperatorCharacters.find(c) != std::string_view::npos) {
            operator_seen = true;
            sink.mark_operator();
        }
        if (!is_word_character(static_cast<unsigned char>(c))) {
            sink.copy(c);
            in_word = false;
        } else if (in_word) {
            sink.copy(c);
        } else {
            size_t length = 0;
            while (length < kWordCompareLength && i + length < source.size() &&
                   is_word_character(static_cast<unsigned char>(source[i + length])))
                ++length;
            int field = find_field(table, source.substr(i, length));
            if (field >= 0) {
                sink.field(field);
                i += length - 1;
            } else {
                sink.copy(c);
            }
            in_word = true;
        }
    }
}

struct DirectSink {
    DbfTable& table;
    std::string& output;
    bool& numeric;
    int operator_position = -1;

    void copy(char c) { output += c; }
    void mark_operator() { operator_position = static_cast<int>(output.size()); }
    void field(int index) { append_substituted_field(table, index, output, numeric); }
};

struct PlanSink {
    const DbfTable& table;
    SubstitutionPlan& plan;

    std::string& literal() {
        if (plan.parts.empty() || plan.parts.back().field >= 0) plan.parts.emplace_back();
        return plan.parts.back().text;
    }
    void copy(char c) { literal() += c; }
    void mark_operator() {
        std::string& text = literal();
        plan.has_operator = true;
        plan.operator_part = plan.parts.size() - 1;
        plan.operator_offset = text.size();
    }
    void field(int index) {
        plan.parts.push_back({std::string(), index});
        char type = table.field(index).type;
        if (!is_date_type(type) && field_is_numeric(table, index)) plan.numeric = true;
    }
};

// Unsigned view of a 32-bit integer, as a length comparison of C sees it.
uint32_t as_unsigned(long long value) { return static_cast<uint32_t>(static_cast<int32_t>(value)); }

void append_trimmed(std::string& out, std::string_view text, bool leading, bool trailing) {
    size_t begin = 0, end = text.size();
    if (leading)
        while (begin < end && text[begin] == ' ') ++begin;
    if (trailing)
        while (end > begin && text[end - 1] == ' ') --end;
    out.append(text.substr(begin, end - begin));
}

void op_trim(std::string& out, std::string_view arg, DbfTable&) { append_trimmed(out, arg, true, true); }
void op_ltrim(std::string& out, std::string_view arg, DbfTable&) { append_trimmed(out, arg, true, false); }
void op_rtrim(std::string& out, std::string_view arg, DbfTable&) { append_trimmed(out, arg, false, true); }
void op_unchanged(std::string& out, std::string_view arg, DbfTable&) { out.append(arg); }

// Splits an argument at its first ','; without one the argument is the result.
bool split_argument(std::string& out, std::string_view arg, std::string_view& text, std::string_view& rest) {
    size_t comma = arg.find(',');
    if (comma == std::string_view::npos) {
        out.append(arg);
        return false;
    }
    text = arg.substr(0, comma);
    rest = arg.substr(comma + 1);
    return true;
}

// SUBSTR(text,start[,count]): a zero-based start; at most count characters.
void op_substr(std::string& out, std::string_view arg, DbfTable&) {
    std::string_view text, rest;
    if (!split_argument(out, arg, text, rest)) return;
    size_t second = rest.find(',');
    uint32_t length = static_cast<uint32_t>(text.size());
    uint32_t taken = length;
    if (second != std::string_view::npos) {
        uint32_t count = as_unsigned(leading_int32(rest.substr(second + 1)));
        if (count < length) taken = count;
        rest = rest.substr(0, second);
    }
    uint32_t start = as_unsigned(leading_int32(rest));
    if (start >= length) return;
    out.append(text.substr(start, taken));
}

void op_left(std::string& out, std::string_view arg, DbfTable&) {
    std::string_view text, rest;
    if (!split_argument(out, arg, text, rest)) return;
    long long count = leading_int32(rest);
    if (count < 0 || static_cast<size_t>(count) >= text.size())
        out.append(text);
    else
        out.append(text.substr(0, static_cast<size_t>(count)));
}

void op_right(std::string& out, std::string_view arg, DbfTable&) {
    std::string_view text, rest;
    if (!split_argument(out, arg, text, rest)) return;
    long long count = leading_int32(rest);
    if (count < 0) return;
    if (static_cast<size_t>(count) >= text.size())
        out.append(text);
    else
        out.append(text.substr(text.size() - static_cast<size_t>(count)));
}

// DTOS(: year, month and day (and the time when the argument is longer than 10
// characters) picked at the offsets of the table's date layout. Parts that lie
// beyond the argument are empty.
void op_dtos(std::string& out, std::string_view arg, DbfTable& table) {
    struct Layout {
        size_t year, month, day, hour, minute, second;
    };
    static constexpr Layout kLayouts[] = {
        {0, 4, 6, 8, 10, 12},    // as stored and compact
        {6, 3, 0, 11, 14, 17},   // day-month-year
        {6, 0, 3, 11, 14, 17},   // month-day-year
        {0, 5, 8, 11, 14, 17},   // year-month-day
    };
    const DateMode mode = table.options.date_mode;
    const bool ordered = mode == DateMode::day_month_year || mode == DateMode::month_day_year ||
                         mode == DateMode::year_month_day;
    const Layout& layout = kLayouts[ordered ? static_cast<size_t>(mode) : 0];
    auto part = [&](size_t offset, size_t length) {
        if (offset < arg.size()) out.append(arg.substr(offset, length));
    };
    part(layout.year, 4);
    part(layout.month, 2);
    part(layout.day, 2);
    if (arg.size() > 10) {
        part(layout.hour, 2);
        part(layout.minute, 2);
        part(layout.second, 2);
    }
}

// Appends the text with change(byte, previous byte) applied to its ASCII letters;
// in a double-byte page the characters of two bytes are copied as they are.
template <typename Change>
void change_case(std::string& out, std::string_view arg, const DbfTable& table, Change change) {
    const Utf8Page* pairs = double_byte_page(table);
    char previous = ' ';
    for (size_t i = 0; i < arg.size(); ++i) {
        if (pairs && pairs->character_length(arg, i) == 2) {
            out.append(arg.substr(i, 2));
            previous = arg[++i];
            continue;
        }
        out += change(arg[i], previous);
        previous = arg[i];
    }
}

void op_upper(std::string& out, std::string_view arg, DbfTable& table) {
    change_case(out, arg, table, [](char c, char) { return ascii_upper(c); });
}

void op_lower(std::string& out, std::string_view arg, DbfTable& table) {
    change_case(out, arg, table, [](char c, char) { return ascii_lower(c); });
}

void op_cap(std::string& out, std::string_view arg, DbfTable& table) {
    change_case(out, arg, table, [](char c, char previous) {
        return (previous == ' ' || previous == '\t') ? ascii_upper(c) : ascii_lower(c);
    });
}

struct StringFunction {
    std::string_view name;  // including the opening parenthesis
    void (*apply)(std::string& out, std::string_view argument, DbfTable& table);
};

// Tried in this order at every position.
constexpr StringFunction kStringFunctions[] = {
    {"TRIM(", op_trim},       {"LTRIM(", op_ltrim},         {"RTRIM(", op_rtrim},     {"SUBSTR(", op_substr},
    {"LEFT(", op_left},       {"RIGHT(", op_right},         {"DTOS(", op_dtos},       {"SPACE(", op_unchanged},
    {"REPLICATE(", op_unchanged}, {"UPPER(", op_upper},     {"LOWER(", op_lower},     {"CAP(", op_cap},
};

} // namespace

void append_substituted_field(DbfTable& table, int field, std::string& output, bool& numeric) {
    char type = table.field(field).type;
    size_t start = output.size();
    if (is_date_type(type)) {
        output += field_text(table, field, DateMode::compact);
    } else if (field_is_numeric(table, field)) {
        numeric = true;
        output += field_text(table, field);
    } else {
        output += field_text(table, field);
        if (!table.options.ansi && output.size() > start)
            from_oem(table, reinterpret_cast<unsigned char*>(output.data() + start), output.size() - start);
    }
}

int substitute_fields(DbfTable& table, const std::string& source, std::string& output, bool& numeric) {
    output.clear();
    numeric = false;
    DirectSink sink{table, output, numeric};
    scan_source(table, source, sink);
    return sink.operator_position;
}

SubstitutionPlan plan_substitution(const DbfTable& table, std::string_view source) {
    SubstitutionPlan plan;
    PlanSink sink{table, plan};
    scan_source(table, source, sink);
    return plan;
}

int substitute_planned(DbfTable& table, const SubstitutionPlan& plan, std::string& output, bool& numeric) {
    output.clear();
    numeric = false;
    int operator_position = -1;
    for (size_t k = 0; k < plan.parts.size(); ++k) {
        const SubstitutionPlan::Part& part = plan.parts[k];
        if (plan.has_operator && k == plan.operator_part)
            operator_position = static_cast<int>(output.size() + plan.operator_offset);
        if (part.field >= 0)
            append_substituted_field(table, part.field, output, numeric);
        else
            output += part.text;
    }
    return operator_position;
}

void apply_string_functions(std::string& text, DbfTable& table, std::string& scratch) {
    // Every name ends in '(': a text without one has no call.
    if (text.find('(') == std::string::npos) return;
    scratch.swap(text);
    text.clear();
    const std::string_view source = scratch;
    size_t i = 0;
    while (i < source.size()) {
        const StringFunction* call = nullptr;
        const char first = ascii_upper(source[i]);
        for (const StringFunction& function : kStringFunctions) {
            if (first == function.name[0] && starts_with_ignoring_case(source.substr(i), function.name)) {
                call = &function;
                break;
            }
        }
        if (!call) {
            text += source[i++];
            continue;
        }
        size_t start = i + call->name.size();
        size_t close = source.find(')', start);
        size_t end = close == std::string_view::npos ? source.size() : close;
        call->apply(text, source.substr(start, end - start), table);
        i = close == std::string_view::npos ? source.size() : close + 1;
    }
}

void apply_string_functions(std::string& text, DbfTable& table) {
    std::string scratch;
    apply_string_functions(text, table, scratch);
}

std::string condition_from_utf8(const DbfTable& table, std::string_view utf8) {
    std::string text = text_utf8_page(table).from_utf8(utf8);
    if (table.options.ansi) return text;
    // The words scan_source would take for field names stay; everything else is text.
    auto to_ansi = [&](size_t i) {
        if (static_cast<unsigned char>(text[i]) >= 128) from_oem(table, reinterpret_cast<unsigned char*>(&text[i]), 1);
    };
    const std::array<char, 2>& quotes = table.options.expression_quotes;
    char open_quote = 0;
    bool in_word = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (open_quote) {
            if (c == open_quote)
                open_quote = 0;
            else
                to_ansi(i);
            continue;
        }
        if (c != 0 && (c == quotes[0] || c == quotes[1])) {
            open_quote = c;
            continue;
        }
        if (!is_word_character(static_cast<unsigned char>(c))) {
            in_word = false;
            continue;
        }
        if (!in_word) {
            size_t length = 0;
            while (length < kWordCompareLength && i + length < text.size() &&
                   is_word_character(static_cast<unsigned char>(text[i + length])))
                ++length;
            if (find_field(table, std::string_view(text).substr(i, length)) >= 0) {
                i += length - 1;
                in_word = true;
                continue;
            }
        }
        to_ansi(i);
        in_word = true;
    }
    return text;
}

} // namespace rorarodi
