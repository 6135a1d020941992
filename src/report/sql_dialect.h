// SQL written for one database (/SQL:postgres, /SQL:sqlite): the columns of the
// data outputs, their types in each database, and the CREATE TABLE statement that
// structure listings and new output files begin with.
#pragma once
#include <string>
#include <vector>

#include "session/session.h"
#include "table/typed_value.h"

namespace rorarodi {

// The column that /DEL adds: the deletion flag, true for a deleted record.
inline constexpr const char* kDeletedColumn = "_deleted";

// One column of a data output: a field, or the deletion flag (field -1).
struct DataColumn {
    int field = -1;
    std::string name;  // UTF-8
    ColumnKind kind = ColumnKind::logical;
};

// The columns for the listed fields: a field listed again once, at its first
// place, the `_NullFlags` field never; then the deletion flag when `deletion_flag`
// is set. Names are UTF-8 of at most 63 bytes, an empty one `FIELD_n` (n its
// position from 1); a name an earlier column has (letter case ignored) gets `_2`,
// `_3`, ... so that every column keeps a name of its own.
std::vector<DataColumn> data_columns(const DbfTable& table, const std::vector<int>& fields, bool deletion_flag);
// For each listed field, the number of its column; -1 for a field listed before
// and for `_NullFlags`.
std::vector<int> column_of_fields(const std::vector<DataColumn>& columns, const std::vector<int>& fields);
// Every field of the table, in table order.
std::vector<DataColumn> all_data_columns(const DbfTable& table);

// The name of a data output's table: the table's file name without its directory
// and extension, in UTF-8 (a name that is not is read in the table's code page),
// at most 63 bytes.
std::string data_table_name(const DbfTable& table);

// The column's type in the database: varchar(n), numeric, bytea, ... for
// PostgreSQL; TEXT, INTEGER, REAL or BLOB for SQLite.
std::string column_type(SqlDialect dialect, const DbfTable& table, const DataColumn& column);

// "CREATE TABLE "name" (...);" and a line end, one column a line; with
// `if_not_exists` "CREATE TABLE IF NOT EXISTS".
std::string create_table_statement(SqlDialect dialect, const DbfTable& table, const std::string& table_name,
                                   const std::vector<DataColumn>& columns, bool if_not_exists = false);
// What a new SQL file of the dialect starts with before its first statement
// (PostgreSQL: the client encoding, for every text is UTF-8).
const char* sql_file_preamble(SqlDialect dialect);

// The /SQL:name setting: "postgres" (or "postgresql") or "sqlite", letter case
// ignored.
void select_sql_dialect(Session& session, const std::string& argument);

} // namespace rorarodi
