// Simple conditions prepared once for testing many records: fields resolved,
// constant operands computed, numbers compared on their values and texts on the
// stored bytes, without writing the condition out for every record. A prepared
// condition decides exactly as substitution followed by the comparison would;
// what it does not cover it hands back to that general path.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "expr/comparison.h"
#include "expr/substitute.h"
#include "table/table.h"
#include "table/view_reader.h"

namespace rorarodi {

// How a prepared operand reads its field from the record buffer.
enum class FieldReading {
    number_text,  // N, F: the stored characters as a plain decimal number
    integer,      // I, +
    currency,     // Y
    characters,   // C, V, Q, 0: the stored bytes up to a zero byte, trimmed as /TRIM says
    date,         // D: eight stored digits of a valid date
    text_form,    // any other field: its text as substitution writes it
};

// One side of the comparison: a constant, or one field with literal text around it.
struct PreparedOperand {
    int field = -1;  // -1: a constant
    FieldReading reading = FieldReading::text_form;
    size_t offset = 0;  // of the field in the record buffer
    size_t width = 0;   // the bytes read there
    unsigned decimals = 0;
    std::string prefix;  // text around the field, case-folded as the comparison sees it
    std::string suffix;
    std::string text;   // a constant text as compared (up to its first zero byte)
    double number = 0;  // a constant number
};

// A stored character byte as compared (converted from OEM unless the table is
// ANSI, then upper-cased under /CASE), and a byte of an already converted text as
// compared (upper-cased under /CASE only). A byte marked in `*_needs_general` makes
// the record go the general way: a parenthesis can be stripped or open a string
// function, and a zero byte would end the text. They depend on the table's options
// alone, so the comparisons of one condition share them.
struct TextByteMaps {
    std::array<uint8_t, 256> stored_byte{};
    std::array<bool, 256> stored_needs_general{};
    std::array<uint8_t, 256> text_byte{};
    std::array<bool, 256> text_needs_general{};
    bool only_parentheses_general = true;  // of the stored bytes
    bool stored_unchanged = true;          // every stored byte compares as it is
};

enum class PreparedForm {
    general,  // every record goes through substitution
    fixed,    // the same verdict for every record
    numeric,  // two numbers
    text,     // two texts
};

struct PreparedComparison {
    PreparedForm form = PreparedForm::general;
    bool verdict = false;  // of a fixed comparison
    ComparisonOperator op = ComparisonOperator::other;
    PreparedOperand left;
    PreparedOperand right;
    // Text comparisons: how the bytes compare under the table's options.
    std::shared_ptr<const TextByteMaps> maps;
    // Set when one side is a character field alone and the other a constant, and
    // of the stored bytes only parentheses need the general path: the field's
    // bytes are then compared where they lie.
    bool direct = false;
};

// Reusable texts of prepared comparisons, so that a record costs no allocation.
struct PreparedWork {
    std::string left;
    std::string right;
    std::string field;
};

// Prepares the simple condition that `plan` substitutes, for the table's current
// options (trim, case, ANSI, quotes, date formats), which must stay as they are
// while it is used. A text comparison takes its byte maps from `maps`, which it
// fills first when empty.
PreparedComparison prepare_comparison(DbfTable& table, const SubstitutionPlan& plan,
                                      std::shared_ptr<const TextByteMaps>& maps);

// The verdict on a record: 1 or 0, or -1 when this record needs the general path.
// The record is put into the record buffer when a text form has to be made.
int evaluate_prepared(DbfTable& table, const PreparedComparison& comparison, PreparedWork& work,
                      FetchedRecord& record);
// The same for the record in the record buffer.
int evaluate_prepared(DbfTable& table, const PreparedComparison& comparison, PreparedWork& work);

} // namespace rorarodi
