#include "expr/field_list.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "platform/progress.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/row_sort.h"
#include "table/text_convert.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

// Integers, currency and doubles enter a sort key as their text right-aligned in
// a width that holds the whole value, not as their stored bytes.
bool aligned_in_key(const DbfTable& table, int field) {
    switch (table.field(field).type) {
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
    switch (table.field(field).type) {
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
    // Names typed in UTF-8 are looked up in the table's page.
    TokenReader tokens(table.options.utf8_field_names ? text_utf8_page(table).from_utf8(text) : text);
    for (auto token = tokens.next(kFieldListDelimiters); token && indexes.size() < max_fields;
         token = tokens.next(kFieldListDelimiters)) {
        const int found = find_field(table, token->c_str());
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

namespace {

// The compact date form, which a date part of a key always takes.
constexpr const char* kCompactDateFormat = "%04d%02d%02d";
constexpr size_t kPositionBytes = 4;

// The width a part takes: at most what a text form can hold.
size_t part_width(size_t width) { return std::min(width, kTextBufferSize - 1); }

// Writes the key part of a character field: all of its stored bytes, every zero
// byte taken as a space (the text form would end at the first one). Under a left
// trim the leading spaces go, as they go from the text form; the part is filled
// with spaces to its width, so trimmed values order by their value.
void write_character_part(const uint8_t* stored, size_t stored_width, size_t width, TrimMode trim, char* out) {
    size_t start = 0;
    const size_t end = std::min(stored_width, width);
    if (trims_left(trim))
        while (start < end && (stored[start] == ' ' || stored[start] == 0)) ++start;
    const size_t length = end - start;
    std::memcpy(out, stored + start, length);
    std::replace(out, out + length, '\0', ' ');
    std::memset(out + length, ' ', width - length);
}

// Writes a key part from the record buffer: a character field's stored bytes, or
// the field's text form (dates in the compact form). Integers, currency and
// doubles are right-aligned and raise `longest` to their length; other texts are
// filled with spaces to the width.
void write_text_part(DbfTable& table, int field, size_t width, size_t* longest, char* out) {
    if (field_is_character_copy(table, field)) {
        const std::string_view stored = field_stored_bytes(table, field);
        write_character_part(reinterpret_cast<const uint8_t*>(stored.data()), stored.size(), width, table.options.trim_mode, out);
        return;
    }
    const char* text = field_text(table, field, DateMode::compact);
    const size_t length = std::strlen(text);
    const size_t shown = std::min(length, width);
    if (aligned_in_key(table, field)) {
        if (longest && length > *longest) *longest = length;
        std::memset(out, ' ', width - shown);
        std::memcpy(out + (width - shown), text, shown);
    } else {
        std::memcpy(out, text, shown);
        std::memset(out + shown, ' ', width - shown);
    }
}

// Negative numbers sort below all others, larger magnitudes first: a part with a
// '-' has its spaces and sign made '0', then every character but the point made
// the one whose code is 58 minus its code.
void invert_negative_part(char* part, size_t width) {
    if (!std::memchr(part, '-', width)) return;
    for (size_t i = 0; i < width; ++i) {
        char& c = part[i];
        if (c == ' ' || c == '-') c = '0';
        if (c != '.') c = static_cast<char>(58 - static_cast<unsigned char>(c));
    }
}

// Where a key part comes from. Stored bytes serve whenever they equal what the
// text form would give; any other record goes through the text form.
enum class KeySource {
    stored_characters,  // C, V, Q, 0: the bytes, zero bytes as spaces
    stored_number,      // N, F: the bytes when they are the formatted number
    stored_date,        // D: eight digits of a valid date
    text_form,
};

struct KeyPart {
    int field = -1;
    size_t width = 0;         // in the key
    size_t key_offset = 0;    // of the part in the key
    size_t field_offset = 0;  // of the field in the record buffer
    size_t stored_width = 0;
    unsigned decimals = 0;
    bool numeric = false;
    KeySource source = KeySource::text_form;
};

std::vector<KeyPart> plan_key_parts(const DbfTable& table, const std::vector<size_t>& widths) {
    std::vector<KeyPart> parts;
    size_t key_offset = 0;
    for (size_t k = 0; k < table.order_fields.size(); ++k) {
        KeyPart part;
        part.field = table.order_fields[k];
        part.width = part_width(widths[k]);
        part.key_offset = key_offset;
        key_offset += part.width;
        part.numeric = field_is_numeric(table, part.field);
        const FieldDescriptor& f = table.field(part.field);
        part.field_offset = f.offset;
        part.stored_width = field_width(table, part.field);
        part.decimals = f.decimals;
        // Stored bytes are read where the whole field lies within the record.
        const bool in_record = part.field_offset + part.stored_width <= table.record_length();
        switch (f.type) {
        case 'C':
        case 'V':
        case 'Q':
        case '0':
            if (in_record && part.stored_width == part.width) part.source = KeySource::stored_characters;
            break;
        case 'N':
        case 'F':
            if (in_record && part.stored_width == part.width) part.source = KeySource::stored_number;
            break;
        case 'D':
            if (in_record && part.stored_width >= kCompactDateLength && part.width == kCompactDateLength &&
                table.options.date_formats[static_cast<size_t>(DateMode::compact)] == kCompactDateFormat)
                part.source = KeySource::stored_date;
            break;
        default: break;
        }
        parts.push_back(part);
    }
    return parts;
}

// Writes the key of a record, before case folding.
void write_key(DbfTable& table, const std::vector<KeyPart>& parts, FetchedRecord& record, std::vector<size_t>* longest,
               char* key) {
    for (size_t k = 0; k < parts.size(); ++k) {
        const KeyPart& part = parts[k];
        char* out = key + part.key_offset;
        const uint8_t* stored = record.bytes + part.field_offset;
        switch (part.source) {
        case KeySource::stored_characters:
            write_character_part(stored, part.stored_width, part.width, table.options.trim_mode, out);
            continue;
        case KeySource::stored_number:
            if (is_canonical_number(reinterpret_cast<const char*>(stored), part.stored_width, part.decimals)) {
                std::memcpy(out, stored, part.width);
                invert_negative_part(out, part.width);
                continue;
            }
            break;
        case KeySource::stored_date:
            if (is_compact_date(stored)) {
                std::memcpy(out, stored, kCompactDateLength);
                continue;
            }
            break;
        case KeySource::text_form: break;
        }
        record.into_buffer(table);
        write_text_part(table, part.field, part.width, longest ? &(*longest)[k] : nullptr, out);
        if (part.numeric) invert_negative_part(out, part.width);
    }
}

// The byte each key byte becomes under the table's case folding (upper_case_key,
// which works byte by byte and never makes a zero byte of another).
std::array<uint8_t, 256> key_case_map(const DbfTable& table) {
    std::array<uint8_t, 256> map{};
    for (size_t b = 0; b < 256; ++b) {
        char text[2] = {static_cast<char>(b), 0};
        upper_case_key(table, text);
        map[b] = static_cast<uint8_t>(text[0]);
    }
    return map;
}

// Folds the case of a key row. Each part of a key in a double-byte page is read
// character by character, so that no second byte of a character changes.
void fold_key_row(const std::vector<KeyPart>& parts, const Utf8Page* pairs, const std::array<uint8_t, 256>& case_map,
                  uint8_t* row, size_t key_size) {
    if (!pairs) {
        for (size_t i = 0; i < key_size; ++i) row[i] = case_map[row[i]];
        return;
    }
    for (const KeyPart& part : parts) {
        uint8_t* bytes = row + part.key_offset;
        const std::string_view text(reinterpret_cast<const char*>(bytes), part.width);
        for (size_t i = 0; i < text.size(); i += pairs->character_length(text, i)) bytes[i] = case_map[bytes[i]];
    }
}

// One row per view position: the case-folded key, then the position as four
// big-endian bytes. Rows in memcmp order are thus the keys in order with equal
// keys in view order.
struct KeyRows {
    std::unique_ptr<uint8_t[]> bytes;
    size_t row_size = 0;
    size_t key_size = 0;
    uint32_t count = 0;
};

// Builds the rows of every view position with the part widths given; `longest` is
// raised to the longest aligned text of each part.
KeyRows build_key_rows(DbfTable& table, const std::vector<size_t>& widths, std::vector<size_t>& longest,
                       uint32_t first, uint32_t count, ProgressMeter& progress) {
    const std::vector<KeyPart> parts = plan_key_parts(table, widths);
    KeyRows rows;
    for (const KeyPart& part : parts) rows.key_size += part.width;
    rows.row_size = rows.key_size + kPositionBytes;
    rows.count = count;
    rows.bytes = std::make_unique_for_overwrite<uint8_t[]>(size_t{rows.count} * rows.row_size);
    const bool fold = table.options.case_insensitive;
    const std::array<uint8_t, 256> case_map = fold ? key_case_map(table) : std::array<uint8_t, 256>{};
    const Utf8Page* pairs = double_byte_page(table);
    ViewReader reader(table, view_record_count(table));
    FetchedRecord record;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t position = first + k;
        progress.step(position);
        record = reader.fetch(position);
        uint8_t* row = rows.bytes.get() + size_t{k} * rows.row_size;
        write_key(table, parts, record, &longest, reinterpret_cast<char*>(row));
        if (fold) fold_key_row(parts, pairs, case_map, row, rows.key_size);
        write_be32(row + rows.key_size, position);
    }
    if (record.bytes) record.into_buffer(table);
    reader.finish();
    return rows;
}

// The view's rows sorted in runs of at most `budget` bytes, each spilled into
// `runs` as it is made, with the widths given (`longest` as in build_key_rows);
// false when a run could not be written.
bool spill_key_rows(DbfTable& table, const std::vector<size_t>& widths, std::vector<size_t>& longest,
                    uint64_t budget, SpilledRuns& runs) {
    const uint32_t count = view_record_count(table);
    size_t row_size = kPositionBytes;
    for (size_t width : widths) row_size += width;
    const auto per_run = static_cast<uint32_t>(std::clamp<uint64_t>(budget / row_size, 1, count));
    ProgressMeter progress(count);
    for (uint32_t first = 0; first < count; first += std::min(per_run, count - first)) {
        KeyRows rows = build_key_rows(table, widths, longest, first, std::min(per_run, count - first), progress);
        sort_rows(rows.bytes.get(), rows.count, rows.row_size);
        if (!runs.add_run(rows.bytes.get(), rows.count)) return false;
    }
    return true;
}

// The merged rows' positions as an order of `count` entries: in memory when they
// take at most half the budget, the merge then reading through the rest; in a
// scratch file otherwise.
std::optional<OrderList> merged_order(DbfTable& table, SpilledRuns& runs, size_t key_size, uint32_t count,
                                      uint64_t budget) {
    const bool descending = table.options.descending;
    const uint64_t order_bytes = uint64_t{count} * sizeof(uint32_t);
    if (order_bytes <= budget / 2) {
        std::vector<uint32_t> order(count);
        uint32_t k = 0;
        const bool merged = runs.merge(static_cast<size_t>(std::min<uint64_t>(budget - order_bytes, SIZE_MAX)),
                                       [&](const uint8_t* row) {
                                           if (k < count) order[descending ? count - 1 - k : k] = read_be32(row + key_size);
                                           ++k;
                                       });
        if (!merged || k != count) return std::nullopt;
        return OrderList(std::move(order));
    }
    OrderListWriter writer(table.table_file_name, count, descending);
    if (!writer.ready()) return std::nullopt;
    bool written = true;
    const bool merged = runs.merge(static_cast<size_t>(std::min<uint64_t>(budget, SIZE_MAX)), [&](const uint8_t* row) {
        written = writer.add(read_be32(row + key_size)) && written;
    });
    if (!merged || !written) return std::nullopt;
    return writer.finish();
}

// The order of a view too large for the budget: its rows sorted in runs on disk
// and merged. Nothing when the runs cannot be written or read back.
std::optional<OrderList> spilled_order(DbfTable& table, std::vector<size_t> widths, uint64_t budget) {
    std::vector<size_t> longest = widths;
    for (int pass = 0; pass < 2; ++pass) {
        size_t key_size = 0;
        for (size_t width : widths) key_size += width;
        SpilledRuns runs(table.table_file_name, key_size + kPositionBytes);
        if (!runs.ready() || !spill_key_rows(table, widths, longest, budget, runs)) return std::nullopt;
        // A value too long for its part: the keys are made once more, widened.
        if (longest != widths) {
            widths = longest;
            continue;
        }
        return merged_order(table, runs, key_size, view_record_count(table), budget);
    }
    return std::nullopt;
}

} // namespace

std::string build_sort_key(DbfTable& table, const std::vector<size_t>& widths, std::vector<size_t>* longest) {
    std::string key;
    for (size_t k = 0; k < table.order_fields.size(); ++k) {
        const int field = table.order_fields[k];
        std::string part(part_width(widths[k]), ' ');
        write_text_part(table, field, part.size(), longest ? &(*longest)[k] : nullptr, part.data());
        if (field_is_numeric(table, field)) invert_negative_part(part.data(), part.size());
        key += part;
    }
    return key;
}

std::string build_sort_key(DbfTable& table) { return build_sort_key(table, sort_key_widths(table)); }

void build_order(DbfTable& table, std::optional<OrderList>& slot) {
    slot.reset();
    // Each record is read and its key built once, into one block of rows that is
    // sorted in place. A value too long for its part makes the keys be built again
    // with that part widened.
    std::vector<size_t> widths = sort_key_widths(table);
    // Past the memory budget the rows are sorted in runs on disk; where no run can
    // be written (a directory the program may not write), in memory after all.
    const uint64_t budget = sort_memory_budget();
    // In memory the rows and the order are held together at the end.
    size_t row_size = kPositionBytes + sizeof(uint32_t);
    for (size_t width : widths) row_size += width;
    if (uint64_t{view_record_count(table)} * row_size > budget) {
        if (std::optional<OrderList> order = spilled_order(table, widths, budget)) {
            slot = std::move(order);
            return;
        }
    }
    std::vector<size_t> longest = widths;
    KeyRows rows;
    {
        ProgressMeter progress(view_record_count(table));
        rows = build_key_rows(table, widths, longest, 0, view_record_count(table), progress);
    }
    if (longest != widths) {
        rows = KeyRows();
        ProgressMeter progress(view_record_count(table));
        rows = build_key_rows(table, longest, longest, 0, view_record_count(table), progress);
    }
    sort_rows(rows.bytes.get(), rows.count, rows.row_size);
    // Descending order compares every key the other way round, the positions
    // included: it is the ascending order reversed.
    std::vector<uint32_t> order(rows.count);
    for (uint32_t k = 0; k < rows.count; ++k) {
        const uint32_t position = read_be32(rows.bytes.get() + size_t{k} * rows.row_size + rows.key_size);
        order[table.options.descending ? rows.count - 1 - k : k] = position;
    }
    rows = KeyRows();
    slot = OrderList(std::move(order));
}

bool order_table(DbfTable& table, const std::string& text) {
    std::vector<int> fields;
    if (!parse_field_list(table, text, fields, kOrderFieldLimit)) return false;
    // Memory running out while the order is built leaves the order as it was.
    auto previous = std::move(table.order_list);
    std::vector<int> previous_fields = std::move(table.order_fields);
    try {
        table.order_fields = fields;
        build_order(table, table.order_list);
    } catch (const std::bad_alloc&) {
        table.order_list = std::move(previous);
        table.order_fields = std::move(previous_fields);
        throw;
    }
    return true;
}

} // namespace rorarodi
