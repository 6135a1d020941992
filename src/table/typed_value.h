// Field values as data: the exact, typed value of a field of the current record,
// for outputs that other programs load (databases, JSON). Numbers keep the digits
// the table holds, text arrives in UTF-8, blanks are null.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_pages.h"
#include "table/table.h"

namespace rorarodi {

class MemoReader;
class ByteUtf8Table;

// What a field holds, as a column of a database would hold it.
enum class ColumnKind {
    text,      // C, V, M: UTF-8 text
    integer,   // I, '+', and N or F without decimals of up to 18 digits
    decimal,   // N and F otherwise: a decimal number of any size
    real,      // B of width 8 and O: a double
    currency,  // Y: a decimal number with four decimals
    date,      // D
    datetime,  // T and '@'
    logical,   // L
    bytes,     // G, W, Q, 0, B of width 10, and fields flagged binary
};

ColumnKind column_kind(const DbfTable& table, int field);

enum class ValueType { null, integer, number, text, bytes, logical, date, datetime };

// One value; reused from field to field, so that its buffer is allocated once.
struct TypedValue {
    ValueType type = ValueType::null;
    // integer: the value; logical: 1 or 0.
    int64_t integer = 0;
    // integer and number: the exact value as a JSON number ("-0.5", "1.25E+02");
    // text: UTF-8 without NUL bytes; bytes: the stored bytes; date: "YYYY-MM-DD";
    // datetime: "YYYY-MM-DDTHH:MM:SS".
    std::string text;
    // text, date and datetime: the text is ASCII without control characters, '"'
    // or '\\', so that a quoted form needs no escapes.
    bool plain = false;
};

// Reads fields of the record buffer as typed values. Text is converted from the
// table's code page to UTF-8, as the /UTF8 listings convert it; memos are read
// whole through one memo reader kept for the reader's life.
class TypedReader {
public:
    explicit TypedReader(DbfTable& table);
    ~TypedReader();
    TypedReader(const TypedReader&) = delete;
    TypedReader& operator=(const TypedReader&) = delete;

    // What read() needs of a field, decided once: a field without null or length
    // bit that lies whole in the record (`plain`) is read off the record directly.
    struct FieldPlan {
        ColumnKind kind = ColumnKind::text;
        bool memo = false;   // its value lives in the memo file
        bool plain = false;
        char type = 0;
        uint8_t decimals = 0;
        uint32_t offset = 0;
        uint32_t width = 0;
    };

    // The value of a field of the current record.
    const TypedValue& read(int field);
    const FieldPlan& plan(int field) const { return plans_[static_cast<size_t>(field)]; }
    // The byte table of the table's page when it is a single-byte one, else none.
    const ByteUtf8Table* byte_table() const { return single_byte_.get(); }
    // The name of a field in UTF-8.
    std::string name(int field) const;

private:
    void read_text(std::string_view stored, bool trim);
    void read_memo(int field, bool as_text);

    DbfTable& table_;
    const Utf8Page& page_;
    std::unique_ptr<ByteUtf8Table> single_byte_;  // for a single-byte page
    std::unique_ptr<MemoReader> memos_;
    std::vector<FieldPlan> plans_;  // per field
    TypedValue value_;
    std::string raw_;
};

// What a stored logical byte reads as: 1 for true, 0 for false, -1 for neither
// (a blank or an unknown value, which is null).
int stored_logical(char c);

// True when the stored text of an N or F field of `width` characters with
// `decimals` decimals is, without its spaces, the exact number's text (no point or
// exponent when there are no decimals): canonical, with a digit before the point.
bool stored_number_is_exact(const char* stored, size_t width, unsigned decimals);
// Writes the ISO form ("YYYY-MM-DD") of the eight digits of a compact date at `to`
// and returns its end.
char* put_iso_date(const char* digits, char* to);

// The stored text of a character field without its padding: the spaces and NULs
// at its end.
std::string_view without_padding(std::string_view stored);

// The exact number of a stored number text, as "number from text" reads it
// (leading blanks skipped, the first ',' read as '.', reading stops at the first
// character that cannot continue the number), written in JSON's number syntax:
// no '+', no leading zeros, a digit on both sides of the point. False when the
// text holds no number (a blank field).
bool exact_number_text(std::string_view stored, std::string& out);

// The shortest text that reads back as exactly this double; false for NaN and
// infinities.
bool shortest_double_text(double value, std::string& out);

} // namespace rorarodi
