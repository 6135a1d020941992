#include "commands/restructure.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "commands/code_pages.h"
#include "commands/update.h"
#include "expr/calculator.h"
#include "expr/substitute.h"
#include "platform/change.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "platform/text.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/cipher.h"
#include "table/create.h"
#include "table/dbf_format.h"
#include "table/field_copy.h"
#include "table/field_store.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/null_flags.h"
#include "table/table.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

// A structure-file line is read in pieces of at most this many characters; a longer
// line counts as several lines, except that an expression runs to the line's end.
constexpr size_t kLinePiece = 259;
// Names in structure files are cut to the longest any layout holds.
constexpr size_t kMaxEntryName = kLevel7NameLength;
constexpr uint32_t kNewMemoBlockSize = 256;
constexpr const char* kTempTableName = "$temp$.dbf";
constexpr const char* kTokenSeparators = " \t\n()[],;.";
constexpr const char* kDefinableTypes = "CNFDLMTGYBI0@+OVQW";
constexpr size_t kCopyBlockBytes = 1 << 20;
constexpr long long kNumberLimit = 1000000000000LL;

enum class StructureMode { modify, create };

// One structure-file line that has a first token.
struct StructureEntry {
    std::string line;  // the line as read, for messages
    std::string name;  // "-NAME" drops a field, "OLD=NEW" renames one, anything else defines one
    char type = 0;     // 0 when the line gives no type
    long long length = 0;
    long long decimals = 0;
    std::string before_name;
    bool has_counter = false;
    long long counter = 0;
    std::string expression;
    bool used = false;

    bool drops() const { return !name.empty() && name[0] == '-'; }
    bool renames() const { return !drops() && name.find('=') != std::string::npos; }
    bool defines() const { return !drops() && !renames(); }
};

// A field of the new table and where its definition came from.
struct NewField {
    FieldDescriptor descriptor;
    bool from_structure = false;  // defined or renamed by the structure file
};

bool same_name(const std::string& a, const std::string& b) { return equals_ignoring_case(a.c_str(), b.c_str()); }

// The integer at the start of a text as atoi reads it, kept within a sane range.
long long leading_integer(const std::string& text) {
    return std::clamp<long long>(read_leading_integer(text.c_str()).value_or(0), -kNumberLimit, kNumberLimit);
}

// The decimal number a text begins with ("12.5 kg" reads 12.5; 0 when it begins
// with no number). Only plain decimal notation counts: no hexadecimal, no "inf".
double leading_number(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    const char* digits = p;
    while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    if (*p == '.') {
        ++p;
        while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    }
    if (p == digits || (p == digits + 1 && *digits == '.')) return 0;
    if (*p == 'e' || *p == 'E') {
        const char* exponent = p + 1;
        if (*exponent == '+' || *exponent == '-') ++exponent;
        if (std::isdigit(static_cast<unsigned char>(*exponent))) {
            p = exponent;
            while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
        }
    }
    return std::strtod(std::string(start, p).c_str(), nullptr);
}

std::vector<std::string> split_tokens(const std::string& text) {
    std::vector<std::string> tokens;
    size_t from = 0;
    while ((from = text.find_first_not_of(kTokenSeparators, from)) != std::string::npos) {
        size_t end = text.find_first_of(kTokenSeparators, from);
        if (end == std::string::npos) end = text.size();
        tokens.push_back(text.substr(from, end - from));
        from = end;
    }
    return tokens;
}

// Names are kept to 31 characters; the parts of "-NAME" and "OLD=NEW" each.
std::string cut_entry_name(const std::string& name) {
    std::string cut;
    size_t equals = name.find('=');
    if (!name.empty() && name[0] == '-') {
        cut.assign(1, '-');
        cut.append(name, 1, kMaxEntryName);
    } else if (equals != std::string::npos) {
        cut.assign(name, 0, std::min(equals, kMaxEntryName));
        cut.append(1, '=');
        cut.append(name, equals + 1, kMaxEntryName);
    } else {
        cut.assign(name, 0, kMaxEntryName);
    }
    return cut;
}

void add_entry(std::string piece, std::string expression, bool has_expression, std::vector<StructureEntry>& entries) {
    StructureEntry entry;
    entry.line = has_expression ? piece + "EXP:" + expression : piece;
    entry.expression = std::move(expression);
    size_t counter = piece.find("INC:");
    if (counter != std::string::npos) {
        entry.counter = leading_integer(piece.substr(counter + 4));
        entry.has_counter = entry.counter != 0;
        piece.erase(counter);
    }
    std::vector<std::string> tokens = split_tokens(piece);
    if (tokens.empty()) return;
    std::string& first = tokens[0];
    size_t slash = first.find('/');
    if (slash != std::string::npos) {
        entry.before_name = first.substr(slash + 1, kMaxEntryName);
        first.erase(slash);
    }
    entry.name = cut_entry_name(first);
    if (tokens.size() > 1) entry.type = tokens[1][0];
    if (tokens.size() > 2) entry.length = leading_integer(tokens[2]);
    if (tokens.size() > 3 && entry.type != 'C') entry.decimals = leading_integer(tokens[3]);
    entries.push_back(std::move(entry));
}

// One physical line: its text ends at a zero byte; it is taken in pieces of 259
// characters, and "EXP:" takes the rest of the line as the expression.
void add_line(std::string line, std::vector<StructureEntry>& entries) {
    line.erase(std::min(line.find('\0'), line.size()));
    for (size_t from = 0; from < line.size(); from += kLinePiece) {
        std::string piece = line.substr(from, kLinePiece);
        size_t expression = piece.find("EXP:");
        if (expression != std::string::npos) {
            std::string text = piece.substr(expression + 4) + line.substr(std::min(line.size(), from + kLinePiece));
            piece.erase(expression);
            add_entry(std::move(piece), std::move(text), true, entries);
            return;
        }
        add_entry(std::move(piece), std::string(), false, entries);
    }
}

// Reads the structure file; nothing when it cannot be opened.
std::optional<std::vector<StructureEntry>> read_structure_entries(const std::string& file_name) {
    if (is_directory(file_name)) return std::nullopt;
    const StdioFile file(std::fopen(file_name.c_str(), "rb"));
    if (!file) return std::nullopt;
    std::string content;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) content.append(chunk, got);
    if (std::ferror(file.get())) return std::nullopt;

    std::vector<StructureEntry> entries;
    size_t from = 0;
    while (from < content.size()) {
        size_t end = content.find('\n', from);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        add_line(std::move(line), entries);
        from = end + 1;
    }
    return entries;
}

std::string trimmed_line(const std::string& line) {
    size_t end = line.find_last_not_of(" \t");
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

// Types whose width the table kind does not fix: they need a length.
bool needs_length(char type) { return std::strchr("CNF0VQ", type) != nullptr; }

// The field an entry defines, or nothing (with a message) when its definition is
// not one a table can hold. An entry without a type that names an existing field
// keeps that field's definition.
std::optional<FieldDescriptor> entry_field(Session& session, const StructureEntry& entry, size_t name_length,
                                           const FieldDescriptor* existing) {
    const std::string name = entry.name.substr(0, name_length);
    if (entry.type == 0 && existing) {
        FieldDescriptor kept = *existing;
        kept.name = name;
        return kept;
    }
    const long long max_length = entry.type == 'C' ? 0xFFFF : 0xFF;
    bool valid = !name.empty() && entry.type != 0 && std::strchr(kDefinableTypes, entry.type) != nullptr &&
                 entry.length >= 0 && entry.length <= max_length && entry.decimals >= 0 && entry.decimals <= 0xFF &&
                 !(entry.length == 0 && needs_length(entry.type)) &&
                 !((entry.type == 'N' || entry.type == 'F') && entry.decimals >= entry.length);
    if (!valid) {
        report_failure(session, kInvalidFieldDefinition, trimmed_line(entry.line));
        return std::nullopt;
    }
    FieldDescriptor field;
    field.name = name;
    field.type = entry.type;
    if (entry.type == 'C') {
        field.length = static_cast<uint8_t>(entry.length & 0xFF);
        field.decimals = static_cast<uint8_t>(entry.length >> 8);
    } else {
        field.length = static_cast<uint8_t>(entry.length);
        field.decimals = static_cast<uint8_t>(entry.decimals);
    }
    return field;
}

// The new field list: in modify mode the current table's fields merged with the
// entries, in create mode the entries alone. `source_names` receives each current
// field's name after renames (empty for a dropped field). Nothing (after a message) when a definition is invalid.
std::optional<std::vector<NewField>> merge_fields(Session& session, std::vector<StructureEntry>& entries,
                                                  const DbfTable* current, size_t name_length,
                                                  std::vector<std::string>& source_names) {
    std::vector<NewField> fields;
    auto cut = [name_length](const std::string& name) { return name.substr(0, name_length); };
    auto add = [&](const StructureEntry& entry, const FieldDescriptor* existing) {
        std::optional<FieldDescriptor> field = entry_field(session, entry, name_length, existing);
        if (!field) return false;
        fields.push_back({*field, true});
        return true;
    };

    if (current) {
        for (const FieldDescriptor& field : current->field_table) {
            std::string name = field.name;
            bool renamed = false;
            enum class Fate { keep, drop, redefine } fate = Fate::keep;
            const StructureEntry* redefinition = nullptr;
            // Fields named to come before this one are inserted whatever the line
            // order; the first drop, redefinition or rename decides the field's fate.
            for (StructureEntry& entry : entries) {
                if (entry.used) continue;
                if (entry.defines() && !entry.before_name.empty() &&
                    (same_name(cut(entry.before_name), name) || same_name(cut(entry.before_name), field.name))) {
                    entry.used = true;
                    if (!add(entry, nullptr)) return std::nullopt;
                    continue;
                }
                if (fate != Fate::keep) continue;
                if (entry.drops() && same_name(cut(entry.name.substr(1)), name)) {
                    fate = Fate::drop;
                    entry.used = true;
                } else if (entry.defines() && same_name(cut(entry.name), name)) {
                    fate = Fate::redefine;
                    redefinition = &entry;
                    entry.used = true;
                } else if (entry.renames()) {
                    const size_t equals = entry.name.find('=');
                    if (entry.name.compare(0, equals, name) != 0 || equals != name.size()) continue;
                    const std::string new_name = cut(entry.name.substr(equals + 1));
                    if (new_name.empty()) {
                        report_failure(session, kInvalidFieldDefinition, trimmed_line(entry.line));
                        return std::nullopt;
                    }
                    name = new_name;
                    renamed = true;
                    entry.used = true;
                }
            }
            // A dropped field's values go nowhere, even when another field now has
            // its name.
            source_names.push_back(fate == Fate::drop ? std::string() : name);
            if (fate == Fate::drop) continue;
            if (fate == Fate::redefine) {
                FieldDescriptor existing = field;
                if (!add(*redefinition, &existing)) return std::nullopt;
                continue;
            }
            FieldDescriptor kept = field;
            kept.name = name;
            fields.push_back({kept, renamed});
        }
    }
    for (const StructureEntry& entry : entries)
        if (!entry.used && entry.defines() && !add(entry, nullptr)) return std::nullopt;

    // Two fields of one name cannot both be found by it; a structure file may not
    // bring one about (a table that already has two is left as it is).
    std::unordered_map<std::string, size_t> seen;
    for (size_t i = 0; i < fields.size(); ++i) {
        std::string key = fields[i].descriptor.name;
        for (char& c : key) c = ascii_upper(c);
        auto [it, inserted] = seen.emplace(key, i);
        if (!inserted && (fields[i].from_structure || fields[it->second].from_structure)) {
            report_failure(session, kDuplicateFieldName, fields[i].descriptor.name);
            return std::nullopt;
        }
    }
    if (fields.empty()) {
        report_failure(session, kNoFieldsDefined);
        return std::nullopt;
    }
    return fields;
}

std::vector<FieldDescriptor> descriptors_of(const std::vector<NewField>& fields) {
    std::vector<FieldDescriptor> descriptors;
    descriptors.reserve(fields.size());
    for (const NewField& field : fields) descriptors.push_back(field.descriptor);
    return descriptors;
}

// "\r%d%%" as the records are copied, on standard output only when it is a
// terminal: a file or a pipe gets none of it. The terminal is sent a percentage
// only when it changes, which shows the same. Where standard output is no
// terminal, the progress line on standard error stands in for it.
class Progress {
public:
    explicit Progress(uint32_t total) : total_(total), line_(total, ProgressOutput::prints_to_stdout) {}
    void record(uint64_t done) {
        line_.step(done);
        if (!shown_) return;
        const uint64_t percent = done * 100 / total_;
        if (percent == last_) return;
        last_ = percent;
        std::printf("\r%u%%", static_cast<unsigned>(percent));
        std::fflush(stdout);
    }
private:
    const uint32_t total_;
    const bool shown_ = ::isatty(STDOUT_FILENO) != 0;
    uint64_t last_ = UINT64_MAX;
    ProgressMeter line_;
};

// A computed field of the new table: a counter, an expression, or both.
struct ComputedField {
    int field = -1;
    bool has_counter = false;
    long long counter = 0;
    bool has_expression = false;
    SubstitutionPlan plan;
};

// How a field of the current table reaches the new one.
enum class FieldCopy : uint8_t {
    none,       // no new field of its name
    memo,       // the memo's bytes
    bytes,      // same shape: the stored bytes
    character,  // character into character: the text up to its first zero byte, cut to the new width
                // (FieldTransfer::character)
    value,      // through the text form and the number
};

struct CopyPlan {
    std::vector<int> target;        // per current field: the new field of its name, or -1
    std::vector<FieldCopy> copy;    // per current field
    std::vector<bool> flagged;      // per current field: null or length bits to compute for its value
    std::vector<bool> compact_date; // per current field: formatted as yyyymmddhhmmss
    std::vector<ComputedField> computed;
    // Expressions the calculator rejected: how many, and the first texts.
    uint64_t errors = 0;
    std::vector<std::string> error_texts;
};

// A character field without null or length bits, not a memo.
bool plain_character_field(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    return f.type == 'C' && f.null_bit < 0 && f.length_bit < 0 && !field_is_memo(table, field);
}

bool takes_text_prefix(const DbfTable& table, int field) {
    return std::strchr("CVQ", table.field(field).type) != nullptr;
}

// Stores a text and a number into a field as set_field does. A memo field stores
// exactly the text's bytes, so that a number given for another type never makes it
// read past the text. False when a memo could not be written.
[[nodiscard]] bool store_value(DbfTable& table, int field, const char* text, size_t length, double number) {
    if (field_is_memo(table, field)) return length == 0 || write_memo_bytes(table, field, std::string(text, length));
    set_field(table, field, text, number);
    return true;
}

// A computed text replaces the field's contents whole, not only its first bytes.
[[nodiscard]] bool store_computed_text(DbfTable& table, int field, const std::string& text, double number) {
    if (takes_text_prefix(table, field)) blank_field(table, field);
    const bool stored = store_value(table, field, text.c_str(), text.size(), number);
    if (has_null_flag_bits(table, field) && !field_is_memo(table, field))
        flag_copied_value(table, field, false, stored_text_length(table, field, text));
    return stored;
}

// A counter's value: numbers without decimals are laid out here as "%*.0f" would
// lay out the integer; every other field takes its digits through set_field.
[[nodiscard]] bool store_counter(DbfTable& table, int field, long long counter) {
    const FieldDescriptor& f = table.field(field);
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, counter).ptr;
    const size_t count = static_cast<size_t>(end - digits);
    if ((f.type == 'N' || f.type == 'F') && f.decimals == 0) {
        if (count <= f.length) {
            uint8_t* bytes = table.record_buffer.data() + f.offset;
            std::memset(bytes, ' ', f.length - count);
            std::memcpy(bytes + (f.length - count), digits, count);
        }
        return true;
    }
    return store_computed_text(table, field, std::string(digits, count), static_cast<double>(counter));
}

std::string number_text(double value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ec == std::errc() ? result.ptr : text);
}

CopyPlan plan_copy(DbfTable& current, DbfTable& target, const std::vector<std::string>& source_names,
                   std::vector<StructureEntry>& entries, size_t name_length) {
    CopyPlan plan;
    const int target_count = static_cast<int>(target.field_count());
    for (size_t s = 0; s < current.field_count(); ++s) {
        const FieldDescriptor& source = current.field_table[s];
        int found = -1;
        for (int t = 0; t < target_count && found < 0; ++t)
            if (same_name(target.field(t).name, source_names[s])) found = t;
        plan.target.push_back(found);
        const int si = static_cast<int>(s);
        FieldCopy copy = FieldCopy::value;
        if (found < 0 || found == target.null_flags_field) {
            // The new table's null flags are computed for each value copied.
            copy = FieldCopy::none;
        } else if (field_is_memo(current, si)) {
            copy = FieldCopy::memo;
        } else if (same_field_shape(current, si, target, found)) {
            // A field that keeps its type and width keeps its stored bytes.
            copy = FieldCopy::bytes;
        } else if (plain_character_field(current, si) && plain_character_field(target, found)) {
            // The text form of a character field is its bytes up to the first zero
            // byte (whole texts: no trimming while copying), which the new field
            // takes up to its width.
            copy = FieldCopy::character;
        }
        plan.copy.push_back(copy);
        plan.flagged.push_back(copy != FieldCopy::none &&
                               (source.null_bit >= 0 || has_null_flag_bits(target, found)));
        // A binary date-time has no text form of its own as stored: it travels in
        // the compact form, which reads back in every layout that takes it as stored.
        plan.compact_date.push_back(current.options.date_mode == DateMode::as_stored &&
                                    (source.type == '@' || (source.type == 'T' && field_width(current, si) == 8)));
    }
    for (int t = 0; t < target_count; ++t) {
        const std::string& name = target.field(t).name;
        for (const StructureEntry& entry : entries) {
            if (!entry.defines() || !same_name(entry.name.substr(0, name_length), name)) continue;
            if (entry.has_counter || !entry.expression.empty()) {
                ComputedField computed;
                computed.field = t;
                computed.has_counter = entry.has_counter;
                computed.counter = entry.counter;
                computed.has_expression = !entry.expression.empty();
                if (computed.has_expression) computed.plan = plan_substitution(target, entry.expression);
                plan.computed.push_back(std::move(computed));
            }
            break;
        }
    }
    return plan;
}

// Carries the values of the record in `current` into the blank record of `target`;
// false when a memo could not be written.
[[nodiscard]] bool copy_values(DbfTable& current, DbfTable& target, const CopyPlan& plan) {
    bool stored = true;
    for (size_t s = 0; s < plan.target.size(); ++s) {
        const int t = plan.target[s];
        const int si = static_cast<int>(s);
        switch (plan.copy[s]) {
        case FieldCopy::none: continue;
        case FieldCopy::memo: {
            std::optional<std::string> memo = read_memo_bytes(current, si);
            if (memo) stored &= store_value(target, t, memo->c_str(), memo->size(), static_cast<double>(memo->size()));
            if (plan.flagged[s])
                flag_copied_value(target, t, field_is_null(current, si),
                                  memo ? stored_text_length(target, t, *memo) : 0);
            continue;
        }
        case FieldCopy::bytes:
            (void)transfer_field_directly(FieldTransfer::bytes, current, si, target, t);
            if (plan.flagged[s])
                flag_copied_value(target, t, field_is_null(current, si), field_value_bytes(current, si).size());
            continue;
        case FieldCopy::character:
            (void)transfer_field_directly(FieldTransfer::character, current, si, target, t);
            continue;
        case FieldCopy::value: break;
        }
        const char* text = field_text(current, si, plan.compact_date[s] ? DateMode::compact : current.options.date_mode);
        const size_t length = std::strlen(text);
        if (field_is_memo(target, t)) {
            const size_t skipped = field_is_numeric(current, si) ? std::strspn(text, " ") : 0;
            stored &= store_value(target, t, text + skipped, length - skipped, 0);
        } else if (field_is_numeric(current, si)) {
            // A number field's own number, or the text of a character field (the
            // number keeps its integer digits there).
            store_copied_value(target, t, text, field_number(current, si), true);
        } else {
            store_copied_value(target, t, text, field_is_numeric(target, t) ? leading_number(text) : 0, false);
        }
        if (plan.flagged[s])
            flag_copied_value(target, t, field_is_null(current, si),
                              stored_text_length(target, t, std::string_view(text, length)));
    }
    return stored;
}

[[nodiscard]] bool compute_values(DbfTable& target, CopyPlan& plan, std::string& output, std::string& scratch) {
    bool stored = true;
    for (ComputedField& computed : plan.computed) {
        if (computed.has_counter) {
            stored &= store_counter(target, computed.field, computed.counter);
            ++computed.counter;
        }
        if (!computed.has_expression) continue;
        bool numeric = false;
        substitute_planned(target, computed.plan, output, numeric);
        if (numeric) {
            bool ok = true;
            const double value = calculate(output, ok);
            if (ok) {
                stored &= store_computed_text(target, computed.field, number_text(value), value);
            } else if (++plan.errors <= kShownErrors) {
                plan.error_texts.push_back(output);
            }
        } else {
            apply_string_functions(output, target, scratch);
            stored &= store_computed_text(target, computed.field, output, 0);
        }
    }
    return stored;
}

// Writes the final record count, today's date and the end-of-file byte.
[[nodiscard]] bool finish_table(DbfTable& table, uint32_t count) {
    table.set_record_count(count);
    stamp_header_date(table.header_image.data());
    if (!table.table_handle.seek(0) || !table.table_handle.write(table.header_image.data(), table.header_size))
        return false;
    const uint8_t end = kEndOfFile;
    return table.table_handle.seek(record_file_offset(table.record_length(), count, table.header_length())) &&
           table.table_handle.write(&end, 1);
}

// Copies the records of the current view into the new table, appending them in
// large blocks and writing the header once at the end. False when a record could
// not be read or written.
[[nodiscard]] bool copy_records(DbfTable& current, DbfTable& target, CopyPlan& plan) {
    const uint32_t total = view_record_count(current);
    const uint32_t length = target.record_length();
    if (total == 0) return true;
    const std::span<const uint8_t> keystream = record_keystream(target);
    const size_t per_block = std::max<size_t>(1, kCopyBlockBytes / length);
    std::vector<uint8_t> block;
    block.reserve(per_block * length);
    uint32_t written = 0;
    auto flush = [&] {
        if (block.empty()) return true;
        if (!seek_physical_record(target, written) || !target.table_handle.write(block.data(), block.size()))
            return false;
        written += static_cast<uint32_t>(block.size() / length);
        block.clear();
        return true;
    };

    // Every record starts from the blank record (the copies write inside fields only).
    blank_record_buffer(target);
    const std::vector<uint8_t> blank(target.record_buffer.begin(), target.record_buffer.begin() + length);

    Progress progress(total);
    ViewReader reader(current, total);
    std::string output, scratch;
    for (uint32_t i = 0; i < total; ++i) {
        progress.record(uint64_t{i} + 1);
        if (!reader.read(i)) return false;
        std::memcpy(target.record_buffer.data(), blank.data(), length);
        target.record_buffer[0] = current.record_buffer[0];
        if (!copy_values(current, target, plan) || !compute_values(target, plan, output, scratch)) return false;
        const size_t at = block.size();
        block.insert(block.end(), target.record_buffer.begin(), target.record_buffer.begin() + length);
        if (!keystream.empty()) apply_keystream(block.data() + at, keystream);
        if (block.size() / length >= per_block && !flush()) return false;
    }
    return flush() && finish_table(target, written);
}

std::string temp_table_name(const std::string& table_name) {
    return split_path(table_name).directory + kTempTableName;
}

// Puts the new table and memo file in place of the old ones, keeping those as the
// ".bak" and ".bam" backups. The table's name never stands empty: the old table
// gets its second name first and the new one is renamed over it. False when a
// step fails; the change of the parameter then puts everything back.
[[nodiscard]] bool swap_files(const std::string& table_name, const std::string& temp_name, const std::string& old_memo,
                const std::string& new_memo, const std::string& memo_target) {
    const std::string backup = with_extension(table_name, ".bak");
    const bool has_old_memo = !old_memo.empty() && file_exists(old_memo);
    const std::string memo_backup = has_old_memo ? with_extension(old_memo, ".bam") : std::string();
    const bool has_new_memo = file_exists(new_memo);
    if (!keep_file_as(table_name, backup) || !replace_file(temp_name, table_name)) return false;
    if (has_old_memo) {
        const bool replaced_in_place = has_new_memo && memo_target == old_memo;
        if (replaced_in_place ? !keep_file_as(old_memo, memo_backup) : !replace_file(old_memo, memo_backup))
            return false;
    }
    return !has_new_memo || replace_file(new_memo, memo_target);
}

void create_new_table(Session& session, std::vector<StructureEntry>& entries, const std::string& table_name) {
    if (table_name.empty()) {
        report_failure(session, kNoNameSpecified);
        return;
    }
    const TableKind kind = session.settings.new_table_kind.value_or(TableKind::foxpro);
    std::vector<std::string> source_names;
    const size_t name_length = kind == TableKind::level7 ? kLevel7NameLength : kStandardNameLength;
    std::optional<std::vector<NewField>> fields = merge_fields(session, entries, nullptr, name_length, source_names);
    if (!fields) return;
    if (!create_table_file(table_name, descriptors_of(*fields), kind, kNewMemoBlockSize, true))
        report_failure(session, kUnableToCreateTarget, table_name);
}

void modify_table(Session& session, std::vector<StructureEntry>& entries) {
    DbfTable& current = session.table();
    const std::string table_name = current.table_file_name;
    const std::string temp_name = temp_table_name(table_name);
    const TableKind kind = derive_table_kind(current);
    const std::string old_memo = memo_file_path(current);

    if (!current.table_handle.is_writable()) {
        report_failure(session, kCantModifyReadOnly, table_name);
        return;
    }
    // The work file and the backups must never be the table or its memo file.
    if (names_same_file(temp_name, table_name) || names_same_file(temp_name, old_memo) ||
        names_same_file(make_memo_file_name(temp_name, kind), table_name) ||
        names_same_file(make_memo_file_name(temp_name, kind), old_memo)) {
        report_failure(session, kUnableToCreateTarget, temp_name);
        return;
    }
    if (names_same_file(with_extension(table_name, ".bak"), table_name) ||
        (file_exists(old_memo) && names_same_file(with_extension(old_memo, ".bam"), table_name))) {
        report_failure(session, kBackupNameIsTable, table_name);
        return;
    }

    std::vector<std::string> source_names;
    const size_t name_length = current.level7 ? kLevel7NameLength : kStandardNameLength;
    std::optional<std::vector<NewField>> fields = merge_fields(session, entries, &current, name_length, source_names);
    if (!fields) return;

    // The new table keeps the version byte, the backlink and the flags and counters
    // of the fields kept as they were.
    const KeptHeader kept = kept_header_of(current);
    auto target = std::make_unique<DbfTable>();
    // The work files never replace files of their names (a user's own "$temp$.dbf"
    // stays); what this parameter created is removed when it fails.
    if (!create_table_file(temp_name, descriptors_of(*fields), kind, kNewMemoBlockSize, true,
                           current.header_image[kCodePageMarkOffset], &kept, true) ||
        open_table(*target, temp_name, false) != OpenResult::opened || !target->table_handle.is_writable()) {
        target.reset();
        report_failure(session, kUnableToCreateTarget, temp_name);
        return;
    }
    // Values travel as texts: both tables read and write dates in the same layout,
    // and texts are converted the same way.
    target->options = current.options;
    target->options.backup_option = false;       // a new work file: nothing to keep a copy of
    target->options.trim_mode = TrimMode::none;  // computed fields see whole field texts
    copy_password(current, *target);
    const TrimMode saved_trim = current.options.trim_mode;
    current.options.trim_mode = TrimMode::none;

    CopyPlan plan = plan_copy(current, *target, source_names, entries, name_length);
    const bool copied = copy_records(current, *target, plan);
    if (::isatty(STDOUT_FILENO)) std::printf("\r    ");  // clears the percentage
    current.options.trim_mode = saved_trim;
    if (plan.errors > 0) {
        // A computed field that cannot be computed would keep a copied value the
        // structure file did not ask for: the whole parameter is rolled back.
        target.reset();
        for (const std::string& text : plan.error_texts) report_failure(session, kErrorIn, text);
        report_unevaluated_values(session, current, plan.errors);
        session.roll_back_step = true;
        return;
    }
    if (!copied) {
        target.reset();
        report_failure(session, kUnableToWriteTarget, temp_name);
        return;
    }

    const std::string new_memo = target->memo_file_name;
    const TableKind new_kind = target->table_kind;
    target.reset();
    std::string memo_target = make_memo_file_name(table_name, new_kind);
    if (file_exists(old_memo) && same_name(memo_target, old_memo)) memo_target = old_memo;
    if (!swap_files(table_name, temp_name, old_memo, new_memo, memo_target)) {
        report_failure(session, kUnableToReplaceTable, table_name);
        return;
    }

    // The restructured table becomes the current one, with fresh per-table options
    // and its whole file as the view; it keeps the password it was written with.
    auto reopened = std::make_unique<DbfTable>();
    if (open_table(*reopened, table_name, false) != OpenResult::opened)
        fail_with_name(kFatalCantReopenFile, table_name);
    share_run_settings(session, *reopened);
    install_conversion_hooks(session, *reopened);
    copy_password(current, *reopened);
    session.current_table = std::move(reopened);
}

// Reads the structure file and creates or restructures the table from it.
void read_structure_file(Session& session, const std::string& file_name, StructureMode mode,
                         const std::string& table_name) {
    trace_enter(session, "Modify");
    if (file_name.empty()) {
        report_failure(session, kFilenameRequiredForModify);
        trace_leave(session, "Modify");
        return;
    }
    std::optional<std::vector<StructureEntry>> entries = read_structure_entries(file_name);
    if (!entries) {
        report_failure(session, kUnableToOpenStructureFile, file_name);
        trace_leave(session, "Modify");
        return;
    }
    if (mode == StructureMode::create)
        create_new_table(session, *entries, table_name);
    else
        modify_table(session, *entries);
    trace_leave(session, "Modify");
}

} // namespace

void handle_modify(Session& session, const std::string& argument) {
    read_structure_file(session, argument, StructureMode::modify, std::string());
}

std::vector<std::string> structure_file_names(const std::string& structure_file) {
    std::vector<std::string> names;
    const std::optional<std::vector<StructureEntry>> entries = read_structure_entries(structure_file);
    if (!entries) return names;
    for (const StructureEntry& entry : *entries) {
        if (entry.defines()) names.push_back(entry.name);
        else if (entry.renames()) names.push_back(entry.name.substr(entry.name.find('=') + 1));
    }
    return names;
}

void create_table_from_structure(Session& session, const std::string& structure_file, const std::string& table_name) {
    read_structure_file(session, structure_file, StructureMode::create, table_name);
}

} // namespace rorarodi
