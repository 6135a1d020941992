// Code-page services: conversion between an OEM and an ANSI page and
// upper-casing by the letters of a page. The byte tables of a pair are built from
// iconv the first time the pair is used and kept for the rest of the process.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rorarodi {

constexpr int kDefaultOemPage = 866;
constexpr int kDefaultAnsiPage = 1251;

// OEM pages 437, 850, 852, 866; ANSI pages 1250, 1251, 1252.
bool is_supported_oem_page(int page);
bool is_supported_ansi_page(int page);

// The OEM and ANSI pages that conversions and upper-casing work with.
struct CodePagePair {
    int oem = kDefaultOemPage;
    int ansi = kDefaultAnsiPage;
    bool operator==(const CodePagePair&) const = default;
};

// True when both pages of the pair are supported, or both are one double-byte page
// (as on an East Asian system, where text needs no OEM/ANSI conversion).
bool is_supported_pair(const CodePagePair& pages);

// Unsupported pages in a pair fall back to the defaults below.
// In-place conversion of `length` bytes from the ANSI page to the OEM page. Bytes
// 0-127 stay; a character the OEM page lacks becomes its unaccented ASCII letter
// when there is one, else '?'.
void ansi_to_oem_buffer(const CodePagePair& pages, unsigned char* text, size_t length);
// The same from the OEM page to the ANSI page.
void oem_to_ansi_buffer(const CodePagePair& pages, unsigned char* text, size_t length);

// Upper-cases a NUL-terminated text by the letters of the ANSI page: a byte whose
// character has an upper-case form in the same page becomes that byte.
void upper_case_ansi_page(const CodePagePair& pages, unsigned char* text);
// The same by the letters of the OEM page.
void upper_case_oem_page(const CodePagePair& pages, unsigned char* text);

// The double-byte pages 932 (Shift-JIS), 936 (GBK), 949 (Korean), 950 (Big5).
bool is_double_byte_page(int page);

// UTF-8 forms of the pages that table text comes in. Besides the single-byte pages
// of a pair these are the other single-byte DOS and Windows pages that code-page
// marks name (737, 857, 860, 861, 863, 865, 874, 1253 to 1257) and the double-byte
// pages.
// The page that a table's code-page mark (header byte 29) names; 0 when the mark
// names none of the known text pages (0 itself, UTF-8 and Macintosh pages).
int page_of_code_page_mark(uint8_t mark);

// Conversion between the text of one page and UTF-8, by tables built once from
// iconv: bytes 0-127 are ASCII. In a double-byte page a lead byte and the byte
// after it are one character when the page defines that pair. A byte the page
// leaves undefined, and a lead byte whose pair is undefined or cut off by the end
// of the text, reads as U+FFFD; the byte after such a lead byte is read anew.
class Utf8Page {
public:
    explicit Utf8Page(int page);

    int page() const { return page_; }
    bool double_byte() const { return !pairs_.empty(); }
    // Bytes of the character at text[i] (i < text.size()): 2 for a pair of a
    // double-byte page, else 1.
    size_t character_length(std::string_view text, size_t i) const;
    // True for a byte that begins a pair of a double-byte page.
    bool is_lead_byte(unsigned char byte) const { return lead_[byte]; }
    // Appends the UTF-8 form of text in the page.
    void append_utf8(std::string& out, std::string_view text) const;
    std::string to_utf8(std::string_view text) const;
    // The page's bytes for a UTF-8 text; a character the page lacks, and every byte
    // that is no part of a well-formed UTF-8 sequence, becomes '?'.
    std::string from_utf8(std::string_view text) const;

    struct Encoded {
        std::array<char, 4> bytes{};
        uint8_t length = 0;
    };

private:
    int page_;
    std::array<Encoded, 256> utf8_{};
    std::array<bool, 256> lead_{};
    // UTF-8 of the pairs of a double-byte page at (lead - 128) * 256 + second byte,
    // of length 0 where the page defines no such pair; empty for single-byte pages.
    std::vector<Encoded> pairs_;
    // (character, byte) for the bytes 128-255 and (character, lead * 256 + second
    // byte) for the pairs, ordered by character.
    std::vector<std::pair<uint32_t, uint16_t>> bytes_;
};

// The tables of a page, built the first time the page is asked for.
const Utf8Page& utf8_page(int page);

} // namespace rorarodi
