#include "expr/field_list.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <strings.h>

#include "table/field_text.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

constexpr size_t kPositionSuffixWidth = 10;

// Integers, currency and doubles enter a sort key as their text right-aligned in
// a width that holds the whole value, not as their stored bytes.
bool aligned_in_key(const DbfTable& table, int field) {
    switch (table.field_table[static_cast<size_t>(field)].type) {
    case 'I':
    case '+':
    case 'Y':
    case 'O': return true;
    case 'B': return field_is_numeric(table, field);
    default: return false;
    }
}

// Width a field takes in a sort key. Dates and date-times take their compact
// form; integers take 11 characters (a sign and ten digits), currency and doubles
// their column width, widened when a value's text is longer.
size_t key_width(const DbfTable& table, int field) {
    switch (table.field_table[static_cast<size_t>(field)].type) {
    case 'D': return 8;
    case 'T':
    case '@': return 14;
    case 'I':
    case '+': return 11;
    default:
        return aligned_in_key(table, field) ? field_display_width(table, field) : field_width(table, field);
    }
}

} // namespace

std::optional<std::string> TokenReader::next(const char* delimiters) {
    std::bitset<256> is_delimiter;
    for (const unsigned char* d = reinterpret_cast<const unsigned char*>(delimiters); *d; ++d) is_delimiter.set(*d);
    size_t start = position_;
    while (start < text_.size() && is_delimiter.test(static_cast<unsigned char>(text_[start]))) ++start;
    if (start >= text_.size()) {
        position_ = text_.size();
        return std::nullopt;
    }
    size_t end = start;
    while (end < text_.size() && !is_delimiter.test(static_cast<unsigned char>(text_[end]))) ++end;
    position_ = end < text_.size() ? end + 1 : end;
    return text_.substr(start, end - start);
}

bool parse_field_list(const DbfTable& table, const std::string& text, std::vector<int>& indexes, size_t max_fields) {
    indexes.clear();
    TokenReader tokens(text);
    for (auto token = tokens.next(kFieldListDelimiters); token && indexes.size() < max_fields;
         token = tokens.next(kFieldListDelimiters)) {
        int found = -1;
        for (size_t i = 0; i < table.field_table.size(); ++i) {
            if (strcasecmp(table.field_table[i].name.c_str(), token->c_str()) == 0) {
                found = static_cast<int>(i);
                break;
            }
        }
        if (found < 0) break;
        indexes.push_back(found);
    }
    return !indexes.empty();
}

std::vector<size_t> sort_key_widths(const DbfTable& table) {
    std::vector<size_t> widths;
    for (int field : table.order_fields) widths.push_back(key_width(table, field));
    return widths;
}

std::string build_sort_key(DbfTable& table, const std::vector<size_t>& widths, std::vector<size_t>* longest) {
    std::string key;
    for (size_t k = 0; k < table.order_fields.size(); ++k) {
        const int field = table.order_fields[k];
        const int saved_mode = table.date_mode;
        table.date_mode = 4;
        const char* text = field_text(table, field);
        table.date_mode = saved_mode;
        const size_t width = std::min(widths[k], table.text_buffer.size() - 1);
        std::string part;
        if (aligned_in_key(table, field)) {
            const size_t length = std::strlen(text);
            if (longest && length > (*longest)[k]) (*longest)[k] = length;
            if (length < width) part.assign(width - length, ' ');
            part.append(text, std::min(length, width));
        } else {
            // The text form filled with spaces to the key width: this puts back the
            // spaces that trimming cut off, whichever side they were cut from.
            const size_t length = std::min(std::strlen(text), width);
            part.assign(text, length);
            part.append(width - length, ' ');
        }
        if (field_is_numeric(table, field) && part.find('-') != std::string::npos) {
            // Negative numbers sort below all others, larger magnitudes first.
            for (char& c : part) {
                if (c == ' ' || c == '-') c = '0';
                if (c != '.') c = static_cast<char>(58 - static_cast<unsigned char>(c));
            }
        }
        key += part;
    }
    return key;
}

std::string build_sort_key(DbfTable& table) { return build_sort_key(table, sort_key_widths(table)); }

namespace {

// The keys of every view position, case-folded and ended by the position, with the
// part widths given; `longest` is raised to the longest aligned text of each part.
std::vector<std::string> view_keys(DbfTable& table, const std::vector<size_t>& widths, std::vector<size_t>& longest) {
    const uint32_t count = view_record_count(table);
    std::vector<std::string> keys(count);
    char suffix[32];
    for (uint32_t position = 0; position < count; ++position) {
        read_view_record(table, position);
        std::string key = build_sort_key(table, widths, &longest);
        upper_case_key(table, key.data());
        std::snprintf(suffix, sizeof suffix, "%10d", static_cast<int>(position));
        key.append(suffix, kPositionSuffixWidth);
        keys[position] = std::move(key);
    }
    return keys;
}

} // namespace

void build_order(DbfTable& table, std::optional<std::vector<int32_t>>& slot) {
    slot.reset();
    // Each record is read and its key built once; keys have one length, end with
    // the position, and are therefore all distinct. A value too long for its part
    // makes the keys be built again with that part widened.
    std::vector<size_t> widths = sort_key_widths(table);
    std::vector<size_t> longest = widths;
    std::vector<std::string> keys = view_keys(table, widths, longest);
    if (longest != widths) keys = view_keys(table, longest, longest);
    const uint32_t count = static_cast<uint32_t>(keys.size());
    std::vector<int32_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    const bool descending = table.descending;
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const std::string& ka = keys[static_cast<size_t>(a)];
        const std::string& kb = keys[static_cast<size_t>(b)];
        int result = std::strncmp(ka.c_str(), kb.c_str(), ka.size());
        return descending ? result > 0 : result < 0;
    });
    slot = std::move(order);
}

bool order_table(DbfTable& table, const std::string& text) {
    std::vector<int> fields;
    if (!parse_field_list(table, text, fields, kOrderFieldLimit)) return false;
    table.order_fields = fields;
    build_order(table, table.order_list);
    return true;
}

} // namespace rorarodi
