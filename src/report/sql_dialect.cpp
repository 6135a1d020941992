#include "report/sql_dialect.h"

#include "platform/text.h"
#include "report/data_text.h"
#include "session/messages.h"
#include "table/field_text.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

bool same_name_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && equals_ignoring_case(a.c_str(), b.c_str());
}

std::string postgres_type(const DbfTable& table, const DataColumn& column) {
    switch (column.kind) {
    case ColumnKind::text: {
        const uint32_t width = field_width(table, column.field);
        if (field_is_memo(table, column.field) || width == 0) return "text";
        return "varchar(" + std::to_string(width) + ")";
    }
    case ColumnKind::integer: return is_narrow_integer(table, column.field) ? "integer" : "bigint";
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
    for (int field : fields) {
        const std::string& stored = table.field(field).name;
        DataColumn column{field, page.to_utf8(std::string_view(stored.c_str())), column_kind(table, field)};
        bool repeated = false;
        for (const DataColumn& earlier : columns) repeated = repeated || same_name_ignoring_case(earlier.name, column.name);
        if (!repeated) columns.push_back(std::move(column));
    }
    if (deletion_flag) columns.push_back(DataColumn{-1, kDeletedColumn, ColumnKind::logical});
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

std::string data_table_name(const std::string& file_name) {
    std::string name = file_name.substr(file_name.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

std::string column_type(SqlDialect dialect, const DbfTable& table, const DataColumn& column) {
    if (dialect == SqlDialect::sqlite) return sqlite_type(column.kind);
    if (column.field < 0) return "boolean";
    return postgres_type(table, column);
}

std::string create_table_statement(SqlDialect dialect, const DbfTable& table, const std::string& table_name,
                                   const std::vector<DataColumn>& columns) {
    std::string out = "CREATE TABLE ";
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
