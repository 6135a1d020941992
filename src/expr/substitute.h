// Field names in expression texts replaced by the current record's values, and the
// string functions (TRIM(, SUBSTR(, DTOS(, ...) applied to a text.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Writes `source` with field names replaced into `output`; returns the output
// position of the first operator character ("><=~^+-/*()") outside quotes, or -1;
// `numeric` is set when a numeric field was substituted and cleared otherwise.
// Quoted text is copied without its quotes; words are matched by their first 10
// characters; dates come in the compact form; other non-numeric fields are
// converted from OEM to ANSI unless the table is ANSI.
int substitute_fields(DbfTable& table, const std::string& source, std::string& output, bool& numeric);

// Appends a field's text as substitution writes it: dates and date-times in the
// compact form, numeric fields as formatted (setting `numeric`), other fields
// converted from OEM to ANSI unless the table is ANSI.
void append_substituted_field(DbfTable& table, int field, std::string& output, bool& numeric);

// A source text split once into copied text and field references, so that the same
// text can be substituted for many records without scanning it again. Expanding a
// plan gives exactly what substitute_fields gives for its source.
struct SubstitutionPlan {
    struct Part {
        std::string text;  // copied text, when `field` is -1
        int field = -1;
    };
    std::vector<Part> parts;
    // The first operator character: its part and its offset in that part's text.
    bool has_operator = false;
    size_t operator_part = 0;
    size_t operator_offset = 0;
    bool numeric = false;
};

SubstitutionPlan plan_substitution(const DbfTable& table, std::string_view source);

// Expands a plan for the record in the record buffer; the same results as
// substitute_fields.
int substitute_planned(DbfTable& table, const SubstitutionPlan& plan, std::string& output, bool& numeric);

// A condition typed in UTF-8 (/FILTER under /UTF8), ready for a table: taken into
// the table's page, so that field names match; then, for a table not marked ANSI,
// every other character above 127 gets the OEM-to-ANSI conversion that substitution
// gives field texts, so that both sides of a comparison are in the same page.
std::string condition_from_utf8(const DbfTable& table, std::string_view utf8);

// Rewrites `text` with the string functions applied. A call's argument ends at the
// first ')' after its name (or at the end of the text), so calls do not nest.
void apply_string_functions(std::string& text, DbfTable& table);
// The same, with a caller-kept work string (no allocation once it has grown).
void apply_string_functions(std::string& text, DbfTable& table, std::string& scratch);

} // namespace rorarodi
