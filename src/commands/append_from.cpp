#include "commands/append_from.h"

#include <cctype>
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

// For each field of `target`, the first field of `source` with the same name
// (letter case ignored), or -1.
std::vector<int> match_fields(const DbfTable& target, const DbfTable& source) {
    std::vector<int> matches(target.field_count(), -1);
    for (size_t t = 0; t < target.field_count(); ++t) matches[t] = find_field(source, target.field_table[t].name);
    return matches;
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

    const std::vector<int> matches = match_fields(target, source);
    std::vector<FieldTransfer> transfers(matches.size(), FieldTransfer::text_and_number);
    for (size_t t = 0; t < matches.size(); ++t)
        if (matches[t] >= 0) transfers[t] = plan_field_transfer(source, matches[t], target, static_cast<int>(t));
    const uint32_t count = view_record_count(source);
    ViewReader reader(source, count);
    RecordAppender out(target);
    std::string text;
    ProgressMeter progress(count);
    for (uint32_t position = 0; position < count; ++position) {
        progress.step(position);
        (void)reader.read(position);  // an unreadable record is taken as the buffer holds it
        blank_record_buffer(target);
        target.record_buffer[0] = source.record_buffer[0];
        for (size_t t = 0; t < matches.size(); ++t) {
            const int s = matches[t];
            const int field = static_cast<int>(t);
            if (s < 0 || transfer_field_directly(transfers[t], source, s, target, field)) continue;
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
        }
        if (!out.append()) break;
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
