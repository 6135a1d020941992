// Rows into a table of an SQLite database, through the SQLite library: one
// transaction for all of them, committed at the end or rolled back on failure.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "report/sql_dialect.h"
#include "table/typed_value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace rorarodi {

class SqliteTableWriter {
public:
    SqliteTableWriter();
    // Rolls back what was not committed.
    ~SqliteTableWriter();
    SqliteTableWriter(const SqliteTableWriter&) = delete;
    SqliteTableWriter& operator=(const SqliteTableWriter&) = delete;

    // Opens the database, begins the transaction, and creates the table with typed
    // columns, or, when a table of that name exists, takes its columns whose names
    // match (letter case ignored); with `replace` an existing table is dropped and
    // created anew in the same transaction. False, with error(), when any of it fails.
    // A new database is written under a hidden name beside it, without the
    // library's journal and syncs, and renamed into place by the commit once
    // complete (synced once, with the change of the parameter); an existing one
    // is written in its own transaction.
    [[nodiscard]] bool open(const std::string& file_name, const std::string& table_name, const DbfTable& table,
                            const std::vector<DataColumn>& columns, bool replace = false);
    // Sets a column of the next row; a column the table lacks is left out.
    [[nodiscard]] bool bind(size_t column, const TypedValue& value);
    // Inserts the row and starts the next; false on failure.
    [[nodiscard]] bool insert_row();
    // Ends the transaction (and puts a new database in place); false when that
    // fails (it is rolled back then).
    [[nodiscard]] bool commit();
    void rollback();
    const std::string& error() const { return error_; }

private:
    bool execute(const std::string& sql);
    bool fail();

    struct Closer {
        void operator()(sqlite3* db) const;
        void operator()(sqlite3_stmt* statement) const;
    };
    std::unique_ptr<sqlite3, Closer> db_;
    std::unique_ptr<sqlite3_stmt, Closer> insert_;
    std::vector<int> parameter_;  // per column: its parameter number, 0 when left out
    // Per column: the text or bytes bound, kept until the row is inserted (the
    // buffers are reused from row to row).
    std::vector<std::string> held_;
    bool in_transaction_ = false;
    std::string file_name_;
    std::string hidden_name_;  // a new database while it is written; empty otherwise
    std::string error_;
};

} // namespace rorarodi
