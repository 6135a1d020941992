// Single-byte code-page services: conversion between the chosen OEM and ANSI pages
// and upper-casing by the letters of a page. The byte tables are built from iconv
// on first use and rebuilt when another pair is chosen.
#pragma once
#include <cstddef>

namespace rorarodi {

constexpr int kDefaultOemPage = 866;
constexpr int kDefaultAnsiPage = 1251;

// OEM pages 437, 850, 852, 866; ANSI pages 1250, 1251, 1252.
bool is_supported_oem_page(int page);
bool is_supported_ansi_page(int page);

// Chooses the pair used by every conversion below; false, and nothing changed,
// when either page is not supported.
bool select_code_pages(int oem_page, int ansi_page);
int oem_code_page();
int ansi_code_page();

// In-place conversion of `length` bytes from the ANSI page to the OEM page. Bytes
// 0-127 stay; a character the OEM page lacks becomes its unaccented ASCII letter
// when there is one, else '?'.
void ansi_to_oem_buffer(unsigned char* text, size_t length);
// The same from the OEM page to the ANSI page.
void oem_to_ansi_buffer(unsigned char* text, size_t length);

// Upper-cases a NUL-terminated text by the letters of the ANSI page: a byte whose
// character has an upper-case form in the same page becomes that byte.
void upper_case_ansi_page(unsigned char* text);
// The same by the letters of the OEM page.
void upper_case_oem_page(unsigned char* text);

} // namespace rorarodi
