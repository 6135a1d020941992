#include "commands/append_from.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "session/console.h"
#include "session/session.h"
#include "table/cipher.h"
#include "table/field_copy.h"
#include "table/field_store.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/null_flags.h"
#include "table/record_appender.h"
#include "table/table_write.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

// The value a text reads as when taken as a decimal number from its start (after
// blanks): sign, digits, point, digits and exponent; 0 when it does not begin like
// one. Hexadecimal forms, "inf" and "nan" are not numbers here.
double leading_decimal_number(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    size_t end = start;
    auto digit_at = [&](size_t i) { return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); };
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    bool digits = false;
    while (digit_at(end)) ++end, digits = true;
    if (end < text.size() && text[end] == '.') {
        ++end;
        while (digit_at(end)) ++end, digits = true;
    }
    if (!digits) return 0;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        size_t exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        if (digit_at(exponent)) {
            while (digit_at(exponent)) ++exponent;
            end = exponent;
        }
    }
    return std::strtod(text.substr(start, end - start).c_str(), nullptr);
}

void trim_spaces(std::string& text) {
    const size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
    text.erase(0, text.find_first_not_of(' '));
}

// How each field of the target takes its value: the first field of the source
// with the same name (letter case ignored, -1 for none), the transfer, and
// whether null or length bits are to be computed for it. The target's null flags
// field takes nothing: its bits are computed for each value copied.
struct AppendPlan {
    std::vector<int> matches;
    std::vector<FieldTransfer> transfers;
    std::vector<bool> flagged;
};

AppendPlan plan_append(const DbfTable& target, const DbfTable& source) {
    AppendPlan plan;
    const size_t count = target.field_count();
    plan.matches.assign(count, -1);
    plan.transfers.assign(count, FieldTransfer::text_and_number);
    plan.flagged.assign(count, false);
    for (size_t t = 0; t < count; ++t) {
        const int field = static_cast<int>(t);
        const int s = field == target.null_flags_field ? -1 : find_field(source, target.field_table[t].name);
        plan.matches[t] = s;
        if (s < 0) continue;
        plan.transfers[t] = plan_field_transfer(source, s, target, field);
        plan.flagged[t] = source.field(s).null_bit >= 0 || has_null_flag_bits(target, field);
    }
    return plan;
}

// The record layouts of a source and target whose records can be copied as they
// are stored: records of one length whose every byte after the deletion flag
// belongs to exactly one field, each target field taking the source field at its
// own offset byte for byte (FieldTransfer::bytes), or as a character field of the
// same width. Such a field copies its bytes only while they hold no zero byte (the
// text ends there); `character_fields` lists those, to be checked record by record.
// Tables with record hooks (an encrypted table) and files shorter than their
// records never copy raw records.
struct RawLayout {
    bool raw = false;
    std::vector<std::pair<uint32_t, uint32_t>> character_fields;  // offset, width
};

RawLayout raw_layout(const DbfTable& source, const DbfTable& target, const AppendPlan& plan, uint32_t count) {
    RawLayout layout;
    const std::vector<int>& matches = plan.matches;
    const std::vector<FieldTransfer>& transfers = plan.transfers;
    const uint32_t length = target.record_length();
    if (length == 0 || length != source.record_length() || source.after_record_read || target.before_record_write)
        return layout;
    // Null and length bits are computed field by field.
    if (source.null_flags_field >= 0 || target.null_flags_field >= 0) return layout;
    // A file cut short of its records is read record by record, as it always was.
    const long long size = source.table_handle.size();
    if (size < 0 || static_cast<uint64_t>(size) < record_file_offset(length, count, source.header_length()))
        return layout;
    std::vector<uint8_t> covered(length, 0);
    covered[0] = 1;
    for (size_t t = 0; t < matches.size(); ++t) {
        const int s = matches[t];
        if (s < 0) return layout;
        const FieldDescriptor& to = target.field_table[t];
        const FieldDescriptor& from = source.field(s);
        const size_t width = field_width(target, static_cast<int>(t));
        if (from.offset != to.offset || width == 0 || field_width(source, s) != width ||
            static_cast<size_t>(to.offset) + width > length)
            return layout;
        if (transfers[t] == FieldTransfer::character)
            layout.character_fields.emplace_back(to.offset, static_cast<uint32_t>(width));
        else if (transfers[t] != FieldTransfer::bytes)
            return layout;
        for (size_t i = to.offset; i < to.offset + width; ++i)
            if (covered[i]++) return layout;
    }
    for (uint8_t byte : covered)
        if (byte != 1) return layout;
    layout.raw = true;
    return layout;
}

// True when a record's character fields hold no zero byte.
bool copies_raw(const RawLayout& layout, const uint8_t* record) {
    for (const auto& [offset, width] : layout.character_fields)
        if (std::memchr(record + offset, 0, width)) return false;
    return true;
}

// Appends the record in the source's record buffer to `target`, field by field.
[[nodiscard]] bool append_converted(DbfTable& source, DbfTable& target, const AppendPlan& plan, std::string& text,
                                    RecordAppender& out) {
    blank_record_buffer(target);
    target.record_buffer[0] = source.record_buffer[0];
    for (size_t t = 0; t < plan.matches.size(); ++t) {
        const int s = plan.matches[t];
        const int field = static_cast<int>(t);
        if (s < 0) continue;
        if (transfer_field_directly(plan.transfers[t], source, s, target, field)) {
            if (plan.flagged[t])
                flag_copied_value(target, field, field_is_null(source, s), field_value_bytes(source, s).size());
            continue;
        }
        double number = 0;
        const bool memo_source = field_is_memo(source, s);
        const bool numeric_source = field_is_numeric(source, s);
        if (memo_source) {
            // The whole memo, zero bytes included; a reference that leads
            // nowhere gives the empty memo.
            text = read_memo_bytes(source, s).value_or(std::string());
            number = static_cast<double>(text.size());
        } else if (numeric_source) {
            number = field_number(source, s);
            text = field_text(source, s);
            trim_spaces(text);
        } else {
            text = field_text(source, s);
            number = leading_decimal_number(text);
        }
        // A memo target stores that many bytes of the text: only a memo's own
        // length may say how many, any other text is stored up to its end.
        if (field_is_memo(target, field)) {
            set_field(target, field, text, memo_source ? number : 0);
        } else {
            store_copied_value(target, field, text, number, numeric_source);
        }
        if (plan.flagged[t]) flag_copied_value(target, field, field_is_null(source, s), stored_text_length(target, field, text));
    }
    return out.append();
}

// Appends the records of a raw layout, read in large blocks and appended as they
// are stored; a record whose character fields hold a zero byte goes field by
// field. Both record buffers end up holding the last record, as the field by
// field copy leaves them. False when a record could not be appended; a block that
// cannot be read is left to the field by field copy (`done` tells how far this
// one got).
[[nodiscard]] bool append_raw_records(DbfTable& source, DbfTable& target, const RawLayout& layout,
                                      const AppendPlan& plan, uint32_t count, RecordAppender& out,
                                      ProgressMeter& progress, uint32_t& done) {
    constexpr size_t kReadBytes = 1 << 20;
    const uint32_t length = source.record_length();
    const uint32_t per_block = std::max<uint32_t>(1, static_cast<uint32_t>(kReadBytes / length));
    std::vector<uint8_t> block(static_cast<size_t>(std::min(per_block, std::max<uint32_t>(count, 1))) * length);
    std::string text;
    while (done < count) {
        progress.step(done);
        const uint32_t n = std::min(per_block, count - done);
        const size_t bytes = static_cast<size_t>(n) * length;
        if (!seek_physical_record(source, done) ||
            source.table_handle.read(block.data(), bytes) != static_cast<long long>(bytes))
            return true;
        const bool all_raw = layout.character_fields.empty() || !std::memchr(block.data(), 0, bytes);
        uint32_t run = 0;  // the first record of the block not appended yet
        for (uint32_t i = 0; i < n && !all_raw; ++i) {
            const uint8_t* record = block.data() + static_cast<size_t>(i) * length;
            if (copies_raw(layout, record)) continue;
            if (!out.append_stored_run(block.data() + static_cast<size_t>(run) * length, i - run)) return false;
            std::memcpy(source.record_buffer.data(), record, length);
            if (!append_converted(source, target, plan, text, out)) return false;
            run = i + 1;
        }
        if (!out.append_stored_run(block.data() + static_cast<size_t>(run) * length, n - run)) return false;
        const uint8_t* last = block.data() + bytes - length;
        std::memcpy(source.record_buffer.data(), last, length);
        if (run < n) std::memcpy(target.record_buffer.data(), last, length);
        done += n;
    }
    return true;
}

// Appends every record of the table file `name` (deleted ones included) to
// `target`, each field taken from the source field of the same name: its bytes
// when both have the same shape, otherwise as a text and a number. Nothing
// happens when the source cannot be opened as a table or the target cannot be
// written. False when a record could not be appended (a full disk).
[[nodiscard]] bool append_from_table(DbfTable& target, const std::string& name) {
    if (!table_writable(target) || target.record_buffer.empty()) return true;
    DbfTable source;
    if (open_table(source, resolve_companion_name(name), true) != OpenResult::opened) return true;
    if (is_same_file(source.table_handle, target.table_handle)) {
        // The table itself: exactly the records it has now, read as it reads them.
        source.set_record_count(target.record_count());
        copy_password(target, source);
    }
    // Dates travel as text in the target's date mode, and are read back in it.
    source.options = target.options;
    source.options.trim_mode = TrimMode::none;  // values travel whole

    const AppendPlan plan = plan_append(target, source);
    const uint32_t count = view_record_count(source);
    RecordAppender out(target);
    ProgressMeter progress(count);
    uint32_t position = 0;
    const RawLayout layout = raw_layout(source, target, plan, count);
    if (layout.raw && !append_raw_records(source, target, layout, plan, count, out, progress, position)) {
        close_table(source);
        return false;
    }
    ViewReader reader(source, count);
    std::string text;
    for (; position < count; ++position) {
        progress.step(position);
        (void)reader.read(position);  // an unreadable record is taken as the buffer holds it
        if (!append_converted(source, target, plan, text, out)) break;
    }
    close_table(source);
    return out.finish() && out.appended() == count;
}

} // namespace

void handle_append_from(Session& session, const std::string& table_name) {
    trace_enter(session, "Append From");
    if (!append_from_table(session.table(), table_name)) mark_failed(session);
    trace_leave(session, "Append From");
}

} // namespace rorarodi
