// Field values of the current record: text forms, numbers, widths, blanks, and
// storing text or numbers back into fields of the record buffer.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "table/table.h"

namespace rorarodi {

// Date and time parts of a date, date-time or timestamp field.
struct DateParts {
    int second = 0, minute = 0, hour = 0, day = 0, month = 0, year = 0;
};

// Text form of a field of `record_buffer`, written into the table's text buffer
// (NUL-terminated) and returned; the next formatting overwrites it. Dates and
// date-times show in the table's date mode, or in the mode given.
const char* field_text(DbfTable& table, int field);
const char* field_text(DbfTable& table, int field, DateMode mode);
// How the text form of a field can be read straight off its stored bytes, decided
// once for a run over many records (an export): `none` when field_text always has
// to make it.
enum class StoredForm : uint8_t { none, characters, number, compact_date, logical };
struct StoredTextPlan {
    StoredForm form = StoredForm::none;
    uint8_t decimals = 0;
    bool trim_left = false;
    bool trim_right = false;
    uint32_t offset = 0;
    uint32_t width = 0;
};
// The plan for a field when its dates show in `mode`.
StoredTextPlan stored_text_plan(const DbfTable& table, int field, DateMode mode);
// The field's text form in `record` (a record of the table) as a view of the
// record's own bytes, when the stored bytes are that text: characters up to a zero
// byte, trimmed by the trim mode; a number whose stored text is its formatted
// value; a valid compact date; a logical byte. False when field_text has to make
// the text; otherwise `text` is what field_text would give.
bool stored_text_view(const StoredTextPlan& plan, const uint8_t* record, std::string_view& text);
// Characters of a field trimmed as the plan's trim mode says.
std::string_view trimmed_by_plan(const StoredTextPlan& plan, std::string_view text);
// The field's stored bytes in `record_buffer`: its storage width, clipped to the buffer.
std::string_view field_stored_bytes(const DbfTable& table, int field);
// True when a nullable field of a Visual FoxPro table holds null (its bit in
// `_NullFlags` is set); its bytes may still hold an old value.
bool field_is_null(const DbfTable& table, int field);
// The bytes of the value: the stored bytes, or for a V or Q value shorter than its
// width (its length bit set) as many as its last byte says.
std::string_view field_value_bytes(const DbfTable& table, int field);
// True for the types whose text form is the character copy: C, V, Q and 0.
bool field_is_character_copy(const DbfTable& table, int field);
// Numeric value of a field (0 for types without one).
double field_number(DbfTable& table, int field);
// N, F, Y, I, '+', O, and B with length byte 8.
bool field_is_numeric(const DbfTable& table, int field);
// M, G, W, and B of 16-bit width 10.
bool field_is_memo(const DbfTable& table, int field);
// Width of the text form in column layouts.
uint32_t field_display_width(const DbfTable& table, int field);
// Type name ("Character", "Numeric", ...).
const char* field_type_name(const DbfTable& table, int field);
// Stores a value in a field of any type but the memo types (set_field in
// field_store.h stores memos too); the text or the number counts depending on the
// type, and the text ends at the first zero byte of `data`. A value that does not
// fit, and any value for a memo field, leaves the field unchanged.
void set_non_memo_field(DbfTable& table, int field, std::string_view data, double number);
// Replaces the date separator of the formats of modes 1 to 3 ('.' for 0).
void set_date_separator(DbfTable& table, char separator);

// The powers of ten a double holds exactly, 10^0 to 10^22.
inline constexpr double kExactPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// Writes "%*.*f" of `number` with `width` and `decimals` into `out` (room for at
// least kQuickFixedRoom bytes) when its digits can be had from a 64-bit integer,
// worked out without the general conversion (the exact binary value rounded half
// to even), and returns its length; -1 when the number is not finite, when
// `decimals` is above 22, `width` above 40, or the number times 10^decimals is not
// below 2^51 (then only the general conversion gives the text).
inline constexpr size_t kQuickFixedRoom = 64;
int print_fixed_quickly(char* out, double number, int width, int decimals);

// The stored bytes of a date, the digits of its compact form.
inline constexpr size_t kCompactDateLength = 8;
// True when eight stored bytes are the digits of a valid date: a date field holding
// them shows them unchanged in the compact form ("%04d%02d%02d").
bool is_compact_date(const uint8_t* digits);
// True when the stored characters of an N or F field of `length` characters with
// `decimals` decimals are exactly its text form (the formatted value), so that the
// text form is the stored text itself.
bool is_canonical_number(const char* text, size_t length, unsigned decimals);

bool is_leap_year(int year);
DateParts decode_date_parts(DbfTable& table, int field);
// Parts of an '@' value: the time of day from the second word (milliseconds); the
// first word is a day number as in a binary 'T' field when it lies in 1..5373484,
// otherwise the date shows as day 0, month 1, year 0.
DateParts timestamp_parts(const DbfTable& table, int field);
// True for a calendar date of years up to 9999 and a time of day from 00:00:00 to
// 23:59:59 (no part negative).
bool date_parts_valid(const DateParts& parts);
void store_date_parts(DbfTable& table, int field, int year, int month, int day, int hour, int minute, int second);
// Julian day number of a proleptic Gregorian date (day before 1 January of year 0
// is day 1721059; 0 for a month outside 1..12), and its reverse.
int32_t julian_day_number(int year, int month, int day);
void julian_day_to_date(int32_t day_number, int& year, int& month, int& day);

// True when the memo reference of a memo-type field is not empty (SMT tables: any
// of the 10 bytes is not zero).
bool memo_reference_present(const DbfTable& table, int field);
// Block number of the current record's memo field (0 for none, and for a negative
// or unrepresentable number).
uint32_t memo_block_number(const DbfTable& table, int field);

// Stores a number as right-aligned text of `length` characters with `decimals`
// decimals into the field; false (field unchanged) when it does not fit.
[[nodiscard]] bool store_number_text(DbfTable& table, int field, double number, unsigned length, unsigned decimals);
// Stores a number into an N or F field with its declared decimals, or when that
// text is too long with as many decimals as fit (rounded), down to none; false
// (field unchanged) only when the integer digits alone do not fit.
[[nodiscard]] bool store_fitted_number(DbfTable& table, int field, double number);

} // namespace rorarodi
