#include "commands/code_pages.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>

#include "commands/record_lists.h"
#include "platform/change.h"
#include "platform/progress.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "platform/code_pages.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/text_convert.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

using BufferConversion = void (*)(const DbfTable& table, unsigned char* text, size_t length);

constexpr size_t kMaxTranslationTableLength = 255;

// Stores a translation-table value unless the table already has one; the value
// ends at a zero byte and is cut to 255 characters. An empty value is no value.
void store_translation_table(std::optional<std::string>& slot, const std::string& value) {
    if (slot) return;
    std::string text = value.substr(0, value.find('\0'));
    if (text.empty()) return;
    if (text.size() > kMaxTranslationTableLength) text.resize(kMaxTranslationTableLength);
    slot = text;
}

// Replaces each byte found in `from` by the byte at the same position of `to`, or
// by '.' when `to` is shorter; bytes not found, and zero bytes, stay.
void translate(const std::string& from, const std::string& to, unsigned char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == 0) continue;
        size_t k = from.find(static_cast<char>(text[i]));
        if (k == std::string::npos) continue;
        text[i] = k < to.size() ? static_cast<unsigned char>(to[k]) : '.';
    }
}

// Parses "OEM,ANSI" (spaces allowed around the numbers).
[[nodiscard]] bool parse_code_pages(const std::string& argument, int& oem_page, int& ansi_page) {
    size_t comma = argument.find(',');
    if (comma == std::string::npos) return false;
    auto parse_number = [](const std::string& text, int& value) {
        size_t begin = text.find_first_not_of(" \t");
        size_t end = text.find_last_not_of(" \t");
        if (begin == std::string::npos || end - begin + 1 > 5) return false;
        value = 0;
        for (size_t i = begin; i <= end; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
            value = value * 10 + (text[i] - '0');
        }
        return true;
    };
    return parse_number(argument.substr(0, comma), oem_page) && parse_number(argument.substr(comma + 1), ansi_page);
}

// Fields whose bytes are not text: General, blob and binary memo fields, and in
// Visual FoxPro tables the character and memo fields flagged binary.
bool field_holds_binary(const DbfTable& table, int field) {
    const FieldDescriptor& descriptor = table.field(field);
    if (descriptor.type != 'C' && descriptor.type != 'M') return true;
    return kind_for_version(table.version()) == TableKind::visual_foxpro && (descriptor.flags & kBinaryFieldFlag) != 0;
}

// Converts a character field's stored bytes in place, up to its first zero byte.
void convert_character_field(DbfTable& table, int field, BufferConversion convert) {
    const FieldDescriptor& descriptor = table.field(field);
    size_t begin = descriptor.offset;
    size_t end = std::min<size_t>(begin + field_width(table, field), table.record_length());
    if (begin >= end || end > table.record_buffer.size()) return;
    unsigned char* bytes = table.record_buffer.data() + begin;
    size_t length = end - begin;
    const void* nul = std::memchr(bytes, 0, length);
    if (nul != nullptr) length = static_cast<size_t>(static_cast<const unsigned char*>(nul) - bytes);
    convert(table, bytes, length);
}

// Converts every character field and memo text of every record in place.
void convert_table(Session& session, const char* trace_name, BufferConversion convert) {
    trace_enter(session, trace_name);
    handle_clear(session, std::string());
    DbfTable& table = session.table();
    const uint32_t count = view_record_count(table);
    // A table opened read-only keeps its memo file unchanged too. Every memo
    // reference is known before the first memo is rewritten, so that no rewrite
    // runs into another record's memo.
    const bool writable = table.table_handle.is_writable();
    const bool memos_writable = writable && table.first_memo_field >= 0;
    MemoTextPass memo_pass;
    if (memos_writable) {
        ViewReader reader(table, count);
        for (uint32_t position = 0; position < count; ++position) {
            if (!reader.read(position)) continue;
            for (size_t i = 0; i < table.field_count(); ++i) {
                int field = static_cast<int>(i);
                if (field_is_memo(table, field)) memo_pass.note_reference(table, field, field_holds_binary(table, field));
            }
        }
        reader.finish();
    }
    auto conversion = [&](unsigned char* text, size_t length) { convert(table, text, length); };
    // Every record is written in place, memo texts too.
    ProgressMeter progress(count);
    for (uint32_t position = 0; position < count; ++position) {
        progress.step(position);
        if (!read_view_record(table, position)) continue;
        for (size_t i = 0; i < table.field_count(); ++i) {
            int field = static_cast<int>(i);
            if (field_holds_binary(table, field)) continue;
            if (field_is_memo(table, field)) {
                // No memo, or a block rewritten already, is the usual false.
                if (memos_writable) (void)memo_pass.rewrite(table, field, conversion);
            } else if (table.field_table[i].type == 'C') {
                convert_character_field(table, field, convert);
            }
        }
        if (!write_view_record(table, position) && writable) mark_failed(session);
    }
    trace_leave(session, trace_name);
}

} // namespace

void install_conversion_hooks(const Session& session, DbfTable& table) {
    const TranslationTables& tables = session.translation_tables;
    if (tables.table_oem && tables.table_ansi) {
        const std::string oem = *tables.table_oem, ansi = *tables.table_ansi;
        table.options.to_oem_hook = [ansi, oem](unsigned char* text, size_t length) { translate(ansi, oem, text, length); };
        table.options.from_oem_hook = [ansi, oem](unsigned char* text, size_t length) { translate(oem, ansi, text, length); };
    }
    if (tables.normal && tables.uppercase) {
        const std::string normal = *tables.normal, uppercase = *tables.uppercase;
        // 'a' to 'z' always; other bytes through Normal and Uppercase when both have
        // a byte at that position.
        table.options.upper_case_hook = [normal, uppercase](unsigned char* text) {
            for (; *text != 0; ++text) {
                if (*text >= 'a' && *text <= 'z') {
                    *text = static_cast<unsigned char>(*text - 32);
                    continue;
                }
                size_t k = normal.find(static_cast<char>(*text));
                if (k != std::string::npos && k < uppercase.size()) *text = static_cast<unsigned char>(uppercase[k]);
            }
        };
    }
}

void handle_oem2ansi(Session& session, const std::string&) { convert_table(session, "OemToAnsi", from_oem); }
void handle_ansi2oem(Session& session, const std::string&) { convert_table(session, "Ansi2Oem", to_oem); }

void handle_normal_table(Session& session, const std::string& argument) {
    store_translation_table(session.translation_tables.normal, argument);
}
void handle_lowercase_table(Session& session, const std::string& argument) {
    store_translation_table(session.translation_tables.lowercase, argument);
}
void handle_uppercase_table(Session& session, const std::string& argument) {
    store_translation_table(session.translation_tables.uppercase, argument);
}
void handle_table_oem(Session& session, const std::string& argument) {
    store_translation_table(session.translation_tables.table_oem, argument);
}
void handle_table_ansi(Session& session, const std::string& argument) {
    store_translation_table(session.translation_tables.table_ansi, argument);
}

void handle_code_pages(Session& session, const std::string& argument) {
    int oem_page = 0, ansi_page = 0;
    if (!parse_code_pages(argument, oem_page, ansi_page) || !is_supported_pair(CodePagePair{oem_page, ansi_page})) {
        report_failure(session, kInvalidCodePage);
        return;
    }
    if (session.code_pages_given) return;
    session.code_pages = CodePagePair{oem_page, ansi_page};
    session.code_pages_given = true;
    if (session.current_table) share_run_settings(session, *session.current_table);
    if (session.comparison_table) share_run_settings(session, *session.comparison_table);
}

} // namespace rorarodi
