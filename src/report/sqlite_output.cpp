#include "report/sqlite_output.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/change.h"
#include "platform/file.h"
#include "platform/text.h"
#include "report/data_text.h"

namespace rorarodi {

namespace {

// Rows inserted by one statement, and the most text the rows held may take (long
// memos): beyond it they go in one by one at once.
constexpr size_t kBatchRows = 64;
constexpr size_t kMostHeldBytes = 4 * 1024 * 1024;

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
    parameters_ = parameters;
    batch_rows_ = 1;
    if (parameters > 0) {
        const int most_parameters = sqlite3_limit(db_.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1);
        batch_rows_ = std::clamp<size_t>(static_cast<size_t>(most_parameters / parameters), 1, kBatchRows);
    }
    if (batch_rows_ > 1) {
        std::string batch = sql;
        const std::string row = " (" + values + ")";
        batch.reserve(sql.size() + (row.size() + 1) * batch_rows_);
        for (size_t i = 1; i < batch_rows_; ++i) batch += "," + row;
        if (sqlite3_prepare_v2(db_.get(), batch.c_str(), static_cast<int>(batch.size()), &statement, nullptr) != SQLITE_OK)
            return fail();
        insert_batch_.reset(statement);
    }
    held_.assign(batch_rows_ * columns.size(), HeldValue());
    held_rows_ = 0;
    return true;
}

bool SqliteTableWriter::bind(size_t column, const TypedValue& value) {
    if (!insert_) return false;
    if (parameter_[column] == 0) return true;
    HeldValue& held = held_[held_rows_ * parameter_.size() + column];
    held.type = value.type;
    switch (value.type) {
    case ValueType::null: break;
    case ValueType::integer:
    case ValueType::logical: held.integer = value.integer; break;
    // The double nearest to the exact value (the shortest text of a double reads
    // back as that very double); from_chars rounds as strtod does.
    case ValueType::number: {
        const char* end = value.text.data() + value.text.size();
        const std::from_chars_result read = std::from_chars(value.text.data(), end, held.real);
        if (read.ec != std::errc() || read.ptr != end) held.real = std::strtod(value.text.c_str(), nullptr);
        break;
    }
    case ValueType::bytes:
    case ValueType::text:
    case ValueType::date:
    case ValueType::datetime:
        held.text = value.text;
        held_bytes_ += held.text.size();
        break;
    }
    return true;
}

bool SqliteTableWriter::bind_row(sqlite3_stmt* s, size_t row, int first) {
    for (size_t column = 0; column < parameter_.size(); ++column) {
        if (parameter_[column] == 0) continue;
        const int at = first + parameter_[column];
        const HeldValue& held = held_[row * parameter_.size() + column];
        int status = SQLITE_OK;
        switch (held.type) {
        case ValueType::null: status = sqlite3_bind_null(s, at); break;
        case ValueType::integer:
        case ValueType::logical: status = sqlite3_bind_int64(s, at, held.integer); break;
        case ValueType::number: status = sqlite3_bind_double(s, at, held.real); break;
        case ValueType::bytes:
            // An empty blob is a blob of no bytes, never NULL.
            status = held.text.empty() ? sqlite3_bind_zeroblob(s, at, 0)
                                       : sqlite3_bind_blob64(s, at, held.text.data(), held.text.size(), SQLITE_STATIC);
            break;
        case ValueType::text:
        case ValueType::date:
        case ValueType::datetime:
            status = sqlite3_bind_text64(s, at, held.text.data(), held.text.size(), SQLITE_STATIC, SQLITE_UTF8);
            break;
        }
        if (status != SQLITE_OK) return false;
    }
    return true;
}

bool SqliteTableWriter::insert_held() {
    if (held_rows_ == batch_rows_ && insert_batch_) {
        sqlite3_stmt* s = insert_batch_.get();
        for (size_t row = 0; row < held_rows_; ++row)
            if (!bind_row(s, row, static_cast<int>(row) * parameters_)) return fail();
        if (sqlite3_step(s) != SQLITE_DONE) return fail();
        sqlite3_reset(s);
    } else {
        sqlite3_stmt* s = insert_.get();
        for (size_t row = 0; row < held_rows_; ++row) {
            if (!bind_row(s, row, 0) || sqlite3_step(s) != SQLITE_DONE) return fail();
            sqlite3_reset(s);
        }
    }
    if (held_bytes_ > kMostHeldBytes)
        // The room of long values is given back, so that it does not pile up in every slot.
        for (size_t i = 0; i < held_rows_ * parameter_.size(); ++i)
            if (held_[i].text.capacity() > kMostHeldBytes / kBatchRows) std::string().swap(held_[i].text);
    held_rows_ = 0;
    held_bytes_ = 0;
    return true;
}

bool SqliteTableWriter::insert_row() {
    if (!insert_) return false;
    ++held_rows_;
    return (held_rows_ < batch_rows_ && held_bytes_ <= kMostHeldBytes) || insert_held();
}

bool SqliteTableWriter::commit() {
    if (insert_ && held_rows_ > 0 && !insert_held()) return false;
    insert_.reset();
    insert_batch_.reset();
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
    insert_batch_.reset();
    held_rows_ = 0;
    held_bytes_ = 0;
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
