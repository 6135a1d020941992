// Texts of typed values for the outputs that other programs load: JSON, the text
// format of PostgreSQL's COPY, and SQL literals and identifiers.
#pragma once
#include <string>
#include <string_view>

#include "table/typed_value.h"

namespace rorarodi {

// The text in double quotes as it is, for a text with nothing to escape: the
// output grows once.
void append_quoted_plain(std::string& out, std::string_view text);
// A JSON string: quotes, '"' and '\' escaped, control characters as \n, \t, ...
// or \u00XX. The text is UTF-8 already.
void append_json_string(std::string& out, std::string_view text);
// A value as JSON: null, a number, true or false, a string; bytes as a base64 string.
void append_json_value(std::string& out, const TypedValue& value);

// A text field of a COPY row: '\', tab, line feed and carriage return escaped.
void append_copy_text(std::string& out, std::string_view text);
// A value as a COPY field: \N for null, t or f, bytes in bytea's hex form.
void append_copy_value(std::string& out, const TypedValue& value);

// An SQL identifier in double quotes, a double quote inside written twice.
void append_sql_identifier(std::string& out, std::string_view name);
// A value as an SQLite literal: NULL, a number, 1 or 0, 'text' with a quote
// written twice (a text holding a carriage return as CAST(X'hex' AS TEXT)), X'hex'
// for bytes.
void append_sqlite_literal(std::string& out, const TypedValue& value);

void append_base64(std::string& out, std::string_view bytes);

} // namespace rorarodi
