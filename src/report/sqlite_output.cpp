#include "report/sqlite_output.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/change.h"
#include "platform/file.h"
#include "platform/text.h"
#include "report/data_text.h"

namespace rorarodi {

namespace {

// The columns of an existing table, in its order; empty when there is none.
std::vector<std::string> existing_columns(sqlite3* db, const std::string& table_name, bool& failed) {
    std::vector<std::string> names;
    sqlite3_stmt* raw = nullptr;
    failed = sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?)", -1, &raw, nullptr) != SQLITE_OK;
    if (failed) return names;
    sqlite3_bind_text(raw, 1, table_name.data(), static_cast<int>(table_name.size()), SQLITE_TRANSIENT);
    int status;
    while ((status = sqlite3_step(raw)) == SQLITE_ROW)
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
    failed = status != SQLITE_DONE;
    sqlite3_finalize(raw);
    return names;
}

} // namespace

void SqliteTableWriter::Closer::operator()(sqlite3* db) const { sqlite3_close(db); }
void SqliteTableWriter::Closer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

SqliteTableWriter::SqliteTableWriter() = default;

SqliteTableWriter::~SqliteTableWriter() { rollback(); }

bool SqliteTableWriter::fail() {
    if (db_ && error_.empty()) error_ = sqlite3_errmsg(db_.get());
    rollback();
    return false;
}

bool SqliteTableWriter::execute(const std::string& sql) {
    return sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SqliteTableWriter::open(const std::string& file_name, const std::string& table_name, const DbfTable& table,
                             const std::vector<DataColumn>& columns, bool replace) {
    file_name_ = file_name;
    std::string open_name = file_name;
    if (!file_exists(file_name) && !is_directory(file_name)) {
        // A new database: nobody else can see it until it is complete, so the
        // journal and the syncs of each commit are of no use. The hidden file is
        // created exclusively, and a rollback of the change removes it.
        hidden_name_ = temporary_name_for(file_name);
        if (!create_new_file(hidden_name_)) {
            error_ = std::strerror(errno);
            hidden_name_.clear();
            return false;
        }
        open_name = hidden_name_;
    }
    sqlite3* raw = nullptr;
    const int status = sqlite3_open_v2(open_name.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(raw);
    if (status != SQLITE_OK) {
        error_ = raw ? sqlite3_errmsg(raw) : "out of memory";
        return fail();
    }
    if (!hidden_name_.empty()) {
        if (!execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF")) return fail();
    } else if (!execute("PRAGMA cache_size = -65536")) {
        // An existing database: a page cache large enough that the library seldom
        // spills the transaction's pages early (each spill syncs its journal).
        return fail();
    }
    if (!execute("BEGIN IMMEDIATE")) return fail();
    in_transaction_ = true;

    if (replace) {
        std::string drop = "DROP TABLE IF EXISTS ";
        append_sql_identifier(drop, table_name);
        if (!execute(drop)) return fail();
    }
    bool failed = false;
    const std::vector<std::string> existing = existing_columns(db_.get(), table_name, failed);
    if (failed) return fail();
    if (existing.empty() && !execute(create_table_statement(SqlDialect::sqlite, table, table_name, columns)))
        return fail();

    std::string names, values;
    parameter_.assign(columns.size(), 0);
    held_.assign(columns.size(), std::string());
    int parameters = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        bool present = existing.empty();
        for (const std::string& name : existing) present = present || equals_ignoring_case(name, columns[i].name);
        if (!present) continue;
        parameter_[i] = ++parameters;
        if (!names.empty()) {
            names += ", ";
            values += ", ";
        }
        append_sql_identifier(names, columns[i].name);
        values += '?';
    }
    std::string sql = "INSERT INTO ";
    append_sql_identifier(sql, table_name);
    sql += parameters == 0 ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + values + ")";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK)
        return fail();
    insert_.reset(statement);
    return true;
}

bool SqliteTableWriter::bind(size_t column, const TypedValue& value) {
    if (!insert_) return false;
    const int at = parameter_[column];
    if (at == 0) return true;
    sqlite3_stmt* s = insert_.get();
    int status = SQLITE_OK;
    switch (value.type) {
    case ValueType::null: status = sqlite3_bind_null(s, at); break;
    case ValueType::integer:
    case ValueType::logical: status = sqlite3_bind_int64(s, at, value.integer); break;
    // The double nearest to the exact value (the shortest text of a double reads
    // back as that very double).
    case ValueType::number: status = sqlite3_bind_double(s, at, std::strtod(value.text.c_str(), nullptr)); break;
    case ValueType::bytes:
        // An empty blob is a blob of no bytes, never NULL.
        if (value.text.empty()) {
            status = sqlite3_bind_zeroblob(s, at, 0);
            break;
        }
        held_[column] = value.text;
        status = sqlite3_bind_blob64(s, at, held_[column].data(), held_[column].size(), SQLITE_STATIC);
        break;
    case ValueType::text:
    case ValueType::date:
    case ValueType::datetime:
        held_[column] = value.text;
        status = sqlite3_bind_text64(s, at, held_[column].data(), held_[column].size(), SQLITE_STATIC, SQLITE_UTF8);
        break;
    }
    return status == SQLITE_OK || fail();
}

bool SqliteTableWriter::insert_row() {
    if (!insert_) return false;
    if (sqlite3_step(insert_.get()) != SQLITE_DONE) return fail();
    sqlite3_reset(insert_.get());
    return true;
}

bool SqliteTableWriter::commit() {
    insert_.reset();
    if (!in_transaction_) return false;
    if (!execute("COMMIT")) return fail();
    in_transaction_ = false;
    if (hidden_name_.empty()) return true;
    // The database is complete: it takes its name in one step, unless a file of
    // that name appeared meanwhile, which is never replaced.
    db_.reset();
    if (file_exists(file_name_) || is_directory(file_name_)) {
        error_ = std::strerror(EEXIST);
        return fail();
    }
    if (!replace_file(hidden_name_, file_name_)) {
        error_ = std::strerror(errno);
        return fail();
    }
    hidden_name_.clear();
    return true;
}

void SqliteTableWriter::rollback() {
    insert_.reset();
    if (in_transaction_ && db_) execute("ROLLBACK");
    in_transaction_ = false;
    if (!hidden_name_.empty()) {
        // Nothing of a new database is left behind.
        db_.reset();
        (void)remove_new_file(hidden_name_);
        hidden_name_.clear();
    }
}

} // namespace rorarodi
