#include "table/text_convert.h"

#include "platform/code_pages.h"
#include "table/dbf_format.h"

namespace rorarodi {

namespace {

constexpr int kOemRulePage = 866;

// Upper-cases the ASCII letters of a NUL-terminated text in a double-byte page.
void upper_case_ascii_letters(const Utf8Page& page, char* text) {
    const std::string_view view(text);
    for (size_t i = 0; i < view.size(); i += page.character_length(view, i))
        if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 32);
}

} // namespace

void to_oem(const DbfTable& table, unsigned char* text, size_t length) {
    if (table.options.to_oem_hook)
        table.options.to_oem_hook(text, length);
    else if (!is_double_byte_page(text_code_page(table)))
        ansi_to_oem_buffer(table.options.code_pages, text, length);
}

void from_oem(const DbfTable& table, unsigned char* text, size_t length) {
    if (table.options.from_oem_hook)
        table.options.from_oem_hook(text, length);
    else if (!is_double_byte_page(text_code_page(table)))
        oem_to_ansi_buffer(table.options.code_pages, text, length);
}

int text_code_page(const DbfTable& table) {
    if (int marked = page_of_code_page_mark(table.header_image[kCodePageMarkOffset])) return marked;
    const CodePagePair pages = is_supported_pair(table.options.code_pages) ? table.options.code_pages : CodePagePair{};
    return table.options.ansi ? pages.ansi : pages.oem;
}

const Utf8Page& text_utf8_page(const DbfTable& table) { return utf8_page(text_code_page(table)); }

const Utf8Page* double_byte_page(const DbfTable& table) {
    const int page = text_code_page(table);
    return is_double_byte_page(page) ? &utf8_page(page) : nullptr;
}

std::string listed_text(const Utf8Page* utf8, std::string_view text, size_t width) {
    text = text.substr(0, text.find('\0'));
    std::string filled(text);
    if (filled.size() < width) filled.append(width - filled.size(), ' ');
    return utf8 ? utf8->to_utf8(filled) : filled;
}

void upper_case_ansi(const DbfTable& table, char* text) {
    if (const Utf8Page* page = double_byte_page(table)) return upper_case_ascii_letters(*page, text);
    upper_case_ansi_page(table.options.code_pages, reinterpret_cast<unsigned char*>(text));
}

void upper_case_oem(const DbfTable& table, char* text) {
    if (const Utf8Page* page = double_byte_page(table)) return upper_case_ascii_letters(*page, text);
    auto* bytes = reinterpret_cast<unsigned char*>(text);
    if (table.options.code_pages.oem != kOemRulePage) {
        upper_case_oem_page(table.options.code_pages, bytes);
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

void upper_case_key(const DbfTable& table, char* text) {
    if (!table.options.case_insensitive) return;
    if (table.options.upper_case_hook)
        table.options.upper_case_hook(reinterpret_cast<unsigned char*>(text));
    else if (table.options.ansi)
        upper_case_ansi(table, text);
    else
        upper_case_oem(table, text);
}

} // namespace rorarodi
