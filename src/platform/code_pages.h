// Single-byte code-page services: conversion between an OEM and an ANSI page and
// upper-casing by the letters of a page. The byte tables of a pair are built from
// iconv the first time the pair is used and kept for the rest of the process.
#pragma once
#include <cstddef>

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

// True when both pages of the pair are supported.
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

} // namespace rorarodi
