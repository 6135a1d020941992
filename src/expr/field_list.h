// Field lists ("f1;f2") as field indexes, sort keys and the order of a view.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Room of the table's own key list (/ORDER) and of /SORT's list.
constexpr size_t kOrderFieldLimit = 20;
constexpr size_t kSortFieldLimit = 22;

// Separators of field lists.
constexpr const char* kFieldListDelimiters = ";, \t\n\r";

// Splits a text into tokens as strtok does: each call skips leading delimiters and
// returns the next token, or nothing when no token is left.
class TokenReader {
public:
    explicit TokenReader(std::string text) : text_(std::move(text)) {}
    std::optional<std::string> next(const char* delimiters);

private:
    std::string text_;
    size_t position_ = 0;
};

// Field indexes of a list of names (case ignored), at most `max_fields` of them. A
// name that no field has ends the list; false when there is no first valid name.
// Under /UTF8 the names are taken from UTF-8 into the table's page.
[[nodiscard]] bool parse_field_list(const DbfTable& table, const std::string& text, std::vector<int>& indexes, size_t max_fields);

// Widths of the parts of a sort key, one per key field (`order_fields`).
std::vector<size_t> sort_key_widths(const DbfTable& table);

// Sort key of the record in the record buffer by the table's key fields, with the
// part widths given, before case folding and without the position suffix.
// Integers, currency and doubles are right-aligned in their part; `longest`, when
// given, is raised to the length of each such text.
std::string build_sort_key(DbfTable& table, const std::vector<size_t>& widths, std::vector<size_t>* longest = nullptr);
// The same with the widths of sort_key_widths.
std::string build_sort_key(DbfTable& table);

// Orders the whole view by the table's key fields; the result goes into `slot`.
// Keys and order together take at most the sorting budget (sort_memory_budget)
// and some fixed buffers: past it the keys are sorted in runs on disk, and a long
// order is kept in a scratch file.
void build_order(DbfTable& table, std::optional<OrderList>& slot);

// /ORDER's work on one table; false when the field list is not valid.
[[nodiscard]] bool order_table(DbfTable& table, const std::string& text);

} // namespace rorarodi
