#include <gtest/gtest.h>

#include <string>

#include "report/data_text.h"

using namespace rorarodi;

namespace {

TypedValue value_of(ValueType type, const std::string& text) {
    TypedValue value;
    value.type = type;
    value.text = text;
    return value;
}

// One value each way: as a COPY field and as an SQLite literal.
TEST(DataText, CopyFieldsAndSqliteLiterals) {
    struct Case {
        TypedValue value;
        const char* copy;
        const char* sqlite;
    };
    const Case cases[] = {
        {value_of(ValueType::date, "0000-01-01"), "0001-01-01 BC", "'0000-01-01'"},
        {value_of(ValueType::datetime, "0000-02-29T01:02:03"), "0001-02-29 01:02:03 BC", "'0000-02-29T01:02:03'"},
        {value_of(ValueType::date, "0001-01-01"), "0001-01-01", "'0001-01-01'"},
        {value_of(ValueType::text, "O'Brien\n"), "O'Brien\\n", "'O''Brien\n'"},
        {value_of(ValueType::text, "a\rb'"), "a\\rb'", "CAST(X'610d6227' AS TEXT)"},
        {value_of(ValueType::text, "tab\t\\"), "tab\\t\\\\", "'tab\t\\'"},
        {value_of(ValueType::bytes, "\x01\xff"), "\\\\x01ff", "X'01ff'"},
        {value_of(ValueType::null, ""), "\\N", "NULL"},
    };
    for (const Case& c : cases) {
        std::string copy, sqlite;
        append_copy_value(copy, c.value);
        append_sqlite_literal(sqlite, c.value);
        EXPECT_EQ(copy, c.copy) << c.value.text;
        EXPECT_EQ(sqlite, c.sqlite) << c.value.text;
    }
}

} // namespace
