#include "commands/code_pages.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>

#include "commands/record_lists.h"
#include "driver/console.h"
#include "driver/settings.h"
#include "platform/code_pages.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"

namespace rorarodi {

namespace {

using BufferConversion = void (*)(DbfTable& table, unsigned char* text, size_t length);

constexpr size_t kMaxTranslationTableLength = 255;
constexpr int kOemRulePage = 866;

bool code_pages_given = false;

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

void table_to_oem_hook(unsigned char* text, size_t length) {
    const TranslationTables& tables = process_state().translation_tables;
    if (tables.table_ansi && tables.table_oem) translate(*tables.table_ansi, *tables.table_oem, text, length);
}

void table_from_oem_hook(unsigned char* text, size_t length) {
    const TranslationTables& tables = process_state().translation_tables;
    if (tables.table_ansi && tables.table_oem) translate(*tables.table_oem, *tables.table_ansi, text, length);
}

// 'a' to 'z' always; other bytes through Normal and Uppercase when both have a
// byte at that position.
void table_upper_case_hook(unsigned char* text) {
    const TranslationTables& tables = process_state().translation_tables;
    for (; *text != 0; ++text) {
        if (*text >= 'a' && *text <= 'z') {
            *text = static_cast<unsigned char>(*text - 32);
            continue;
        }
        if (!tables.normal || !tables.uppercase) continue;
        size_t k = tables.normal->find(static_cast<char>(*text));
        if (k != std::string::npos && k < tables.uppercase->size()) *text = static_cast<unsigned char>((*tables.uppercase)[k]);
    }
}

// Parses "OEM,ANSI" (spaces allowed around the numbers).
bool parse_code_pages(const std::string& argument, int& oem_page, int& ansi_page) {
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
    const FieldDescriptor& descriptor = table.field_table[static_cast<size_t>(field)];
    if (descriptor.type != 'C' && descriptor.type != 'M') return true;
    const uint8_t version = table.version();
    const bool visual_foxpro = version == 0x30 || version == 0x31 || version == 0x32;
    return visual_foxpro && (descriptor.flags & kBinaryFieldFlag) != 0;
}

// Converts a character field's stored bytes in place, up to its first zero byte.
void convert_character_field(DbfTable& table, int field, BufferConversion convert) {
    const FieldDescriptor& descriptor = table.field_table[static_cast<size_t>(field)];
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
void convert_table(const char* trace_name, BufferConversion convert) {
    trace_enter(trace_name);
    handle_clear(std::string());
    DbfTable& table = current_table();
    const uint32_t count = view_record_count(table);
    // A table opened read-only keeps its memo file unchanged too. Every memo
    // reference is known before the first memo is rewritten, so that no rewrite
    // runs into another record's memo.
    const bool memos_writable = table.table_handle.is_writable() && table.first_memo_field >= 0;
    MemoTextPass memo_pass;
    for (uint32_t position = 0; memos_writable && position < count; ++position) {
        if (!read_view_record(table, position)) continue;
        for (size_t i = 0; i < table.field_count(); ++i) {
            int field = static_cast<int>(i);
            if (field_is_memo(table, field)) memo_pass.note_reference(table, field, field_holds_binary(table, field));
        }
    }
    auto conversion = [&](unsigned char* text, size_t length) { convert(table, text, length); };
    for (uint32_t position = 0; position < count; ++position) {
        if (!read_view_record(table, position)) continue;
        for (size_t i = 0; i < table.field_count(); ++i) {
            int field = static_cast<int>(i);
            if (field_holds_binary(table, field)) continue;
            if (field_is_memo(table, field)) {
                if (memos_writable) memo_pass.rewrite(table, field, conversion);
            } else if (table.field_table[i].type == 'C') {
                convert_character_field(table, field, convert);
            }
        }
        write_view_record(table, position);
    }
    trace_leave(trace_name);
}

} // namespace

void to_oem(DbfTable& table, unsigned char* text, size_t length) {
    if (table.to_oem_hook)
        table.to_oem_hook(text, length);
    else
        ansi_to_oem_buffer(text, length);
}

void from_oem(DbfTable& table, unsigned char* text, size_t length) {
    if (table.from_oem_hook)
        table.from_oem_hook(text, length);
    else
        oem_to_ansi_buffer(text, length);
}

void upper_case_ansi(char* text) { upper_case_ansi_page(reinterpret_cast<unsigned char*>(text)); }

void upper_case_oem(char* text) {
    auto* bytes = reinterpret_cast<unsigned char*>(text);
    if (oem_code_page() != kOemRulePage) {
        upper_case_oem_page(bytes);
        return;
    }
    // Code page 866: Latin letters, and the Cyrillic lower-case letters а-п
    // (0xA0-0xAF) and р-я (0xE0-0xEF) to А-П (0x80-0x8F) and Р-Я (0x90-0x9F).
    for (; *bytes != 0; ++bytes) {
        unsigned char c = *bytes;
        if (c >= 'a' && c <= 'z')
            *bytes = static_cast<unsigned char>(c - 32);
        else if (c >= 0xA0 && c <= 0xAF)
            *bytes = static_cast<unsigned char>(c - 32);
        else if (c >= 0xE0 && c <= 0xEF)
            *bytes = static_cast<unsigned char>(c - 80);
    }
}

void upper_case_key(DbfTable& table, char* text) {
    if (!table.case_insensitive) return;
    if (table.upper_case_hook)
        table.upper_case_hook(reinterpret_cast<unsigned char*>(text));
    else if (table.ansi)
        upper_case_ansi(text);
    else
        upper_case_oem(text);
}

void install_conversion_hooks(DbfTable& table) {
    const TranslationTables& tables = process_state().translation_tables;
    if (tables.table_oem && tables.table_ansi) {
        table.to_oem_hook = table_to_oem_hook;
        table.from_oem_hook = table_from_oem_hook;
    }
    if (tables.normal && tables.uppercase) table.upper_case_hook = table_upper_case_hook;
}

void handle_oem2ansi(const std::string&) { convert_table("OemToAnsi", from_oem); }
void handle_ansi2oem(const std::string&) { convert_table("Ansi2Oem", to_oem); }

void handle_normal_table(const std::string& argument) {
    store_translation_table(process_state().translation_tables.normal, argument);
}
void handle_lowercase_table(const std::string& argument) {
    store_translation_table(process_state().translation_tables.lowercase, argument);
}
void handle_uppercase_table(const std::string& argument) {
    store_translation_table(process_state().translation_tables.uppercase, argument);
}
void handle_table_oem(const std::string& argument) {
    store_translation_table(process_state().translation_tables.table_oem, argument);
}
void handle_table_ansi(const std::string& argument) {
    store_translation_table(process_state().translation_tables.table_ansi, argument);
}

void handle_code_pages(const std::string& argument) {
    int oem_page = 0, ansi_page = 0;
    if (!parse_code_pages(argument, oem_page, ansi_page) || !is_supported_oem_page(oem_page) ||
        !is_supported_ansi_page(ansi_page)) {
        print_line("Invalid code page...");
        return;
    }
    if (code_pages_given) return;
    select_code_pages(oem_page, ansi_page);
    code_pages_given = true;
}

void reset_code_page_choice() {
    select_code_pages(kDefaultOemPage, kDefaultAnsiPage);
    code_pages_given = false;
}

} // namespace rorarodi
