#include "report/sql_dialect.h"

#include <set>

#include "platform/text.h"
#include "report/data_text.h"
#include "session/messages.h"
#include "table/field_text.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// PostgreSQL cuts identifiers after 63 bytes; names are made to fit, so that two
// columns never become one there.
constexpr size_t kLongestIdentifier = 63;

// `name` cut to at most `limit` bytes, at a boundary between UTF-8 characters.
std::string cut_name(std::string name, size_t limit) {
    if (name.size() <= limit) return name;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
    return name;
}

std::string folded(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

// `name`, or when an earlier column has it (letter case ignored) `name_2`,
// `name_3`, ...: the first that none has; it is taken from then on.
std::string unique_name(const std::string& name, std::set<std::string>& taken) {
    std::string candidate = cut_name(name, kLongestIdentifier);
    for (int n = 2; !taken.insert(folded(candidate)).second; ++n) {
        const std::string suffix = "_" + std::to_string(n);
        candidate = cut_name(name, kLongestIdentifier - suffix.size()) + suffix;
    }
    return candidate;
}

bool is_utf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

std::string postgres_type(const DbfTable& table, const DataColumn& column) {
    switch (column.kind) {
    case ColumnKind::text: {
        const uint32_t width = field_width(table, column.field);
        if (field_is_memo(table, column.field) || width == 0) return "text";
        return "varchar(" + std::to_string(width) + ")";
    }
    // N and F fields may hold any number text, fractions too, whatever their
    // declared decimals: numeric takes every value they hold.
    case ColumnKind::integer: {
        const char type = table.field(column.field).type;
        return type == 'I' || type == '+' ? "integer" : "numeric";
    }
    case ColumnKind::decimal: return "numeric";
    case ColumnKind::real: return "double precision";
    case ColumnKind::currency: return "numeric(19,4)";
    case ColumnKind::date: return "date";
    case ColumnKind::datetime: return "timestamp";
    case ColumnKind::logical: return "boolean";
    case ColumnKind::bytes: return "bytea";
    }
    return "text";
}

const char* sqlite_type(ColumnKind kind) {
    switch (kind) {
    case ColumnKind::integer:
    case ColumnKind::logical: return "INTEGER";
    case ColumnKind::decimal:
    case ColumnKind::real:
    case ColumnKind::currency: return "REAL";
    case ColumnKind::bytes: return "BLOB";
    default: return "TEXT";
    }
}

} // namespace

std::vector<DataColumn> data_columns(const DbfTable& table, const std::vector<int>& fields, bool deletion_flag) {
    const Utf8Page& page = text_utf8_page(table);
    std::vector<DataColumn> columns;
    std::vector<bool> listed(table.field_count(), false);
    std::set<std::string> taken;
    for (int field : fields) {
        if (field == table.null_flags_field || listed[static_cast<size_t>(field)]) continue;
        listed[static_cast<size_t>(field)] = true;
        const std::string& stored = table.field(field).name;
        std::string name = page.to_utf8(std::string_view(stored.c_str()));
        if (name.empty()) name = "FIELD_" + std::to_string(field + 1);
        columns.push_back(DataColumn{field, unique_name(name, taken), column_kind(table, field)});
    }
    if (deletion_flag) columns.push_back(DataColumn{-1, unique_name(kDeletedColumn, taken), ColumnKind::logical});
    return columns;
}

std::vector<int> column_of_fields(const std::vector<DataColumn>& columns, const std::vector<int>& fields) {
    std::vector<int> column_of(fields.size(), -1);
    std::vector<bool> filled(columns.size(), false);
    for (size_t i = 0; i < fields.size(); ++i)
        for (size_t c = 0; c < columns.size(); ++c)
            if (columns[c].field == fields[i] && !filled[c]) {
                filled[c] = true;
                column_of[i] = static_cast<int>(c);
                break;
            }
    return column_of;
}

std::vector<DataColumn> all_data_columns(const DbfTable& table) {
    std::vector<int> fields;
    for (size_t i = 0; i < table.field_count(); ++i) fields.push_back(static_cast<int>(i));
    return data_columns(table, fields, false);
}

std::string data_table_name(const DbfTable& table) {
    const std::string& file_name = table.table_file_name;
    std::string name = file_name.substr(file_name.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    // A name in another encoding is read in the table's own code page.
    if (!is_utf8(name)) name = text_utf8_page(table).to_utf8(name);
    return cut_name(name, kLongestIdentifier);
}

std::string column_type(SqlDialect dialect, const DbfTable& table, const DataColumn& column) {
    if (dialect == SqlDialect::sqlite) return sqlite_type(column.kind);
    if (column.field < 0) return "boolean";
    return postgres_type(table, column);
}

std::string create_table_statement(SqlDialect dialect, const DbfTable& table, const std::string& table_name,
                                   const std::vector<DataColumn>& columns, bool if_not_exists) {
    std::string out = if_not_exists ? "CREATE TABLE IF NOT EXISTS " : "CREATE TABLE ";
    append_sql_identifier(out, table_name);
    out += " (\n";
    for (size_t i = 0; i < columns.size(); ++i) {
        out += '\t';
        append_sql_identifier(out, columns[i].name);
        out += ' ';
        out += column_type(dialect, table, columns[i]);
        out += i + 1 < columns.size() ? ",\n" : "\n";
    }
    out += ");\n";
    return out;
}

const char* sql_file_preamble(SqlDialect dialect) {
    return dialect == SqlDialect::postgres ? "SET client_encoding = 'UTF8';\n" : "";
}

void select_sql_dialect(Session& session, const std::string& argument) {
    if (equals_ignoring_case(argument.c_str(), "postgres") || equals_ignoring_case(argument.c_str(), "postgresql")) {
        session.settings.sql_dialect = SqlDialect::postgres;
    } else if (equals_ignoring_case(argument.c_str(), "sqlite")) {
        session.settings.sql_dialect = SqlDialect::sqlite;
    } else {
        report_failure(session, kUnknownSqlDialect, argument);
    }
}

} // namespace rorarodi
