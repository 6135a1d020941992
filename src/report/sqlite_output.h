// Rows into a table of an SQLite database, through the SQLite library: one
// transaction for all of them, committed at the end or rolled back on failure.
#pragma once
#include <cstddef>
#include <cstdint>
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
    // A value held until its row goes into the table.
    struct HeldValue {
        ValueType type = ValueType::null;
        int64_t integer = 0;
        double real = 0;
        std::string text;  // text or bytes; the buffers are reused from row to row
    };

    bool execute(const std::string& sql);
    bool fail();
    // Binds the held values of row `row` to `statement`, its parameters from `first` on.
    bool bind_row(sqlite3_stmt* statement, size_t row, int first);
    // Inserts the rows held: a full batch by one statement, fewer one by one.
    bool insert_held();

    struct Closer {
        void operator()(sqlite3* db) const;
        void operator()(sqlite3_stmt* statement) const;
    };
    std::unique_ptr<sqlite3, Closer> db_;
    std::unique_ptr<sqlite3_stmt, Closer> insert_;  // one row
    // Rows are inserted in batches by one statement of many rows, which spares the
    // library the start and end of a statement for every row.
    std::unique_ptr<sqlite3_stmt, Closer> insert_batch_;
    size_t batch_rows_ = 1;       // rows a batch holds (1: no batch statement)
    int parameters_ = 0;          // parameters of one row
    std::vector<int> parameter_;  // per column: its parameter number, 0 when left out
    std::vector<HeldValue> held_;  // per held row and column
    size_t held_rows_ = 0;        // rows complete and not yet inserted
    size_t held_bytes_ = 0;       // the text and bytes they hold
    bool in_transaction_ = false;
    std::string file_name_;
    std::string hidden_name_;  // a new database while it is written; empty otherwise
    std::string error_;
};

} // namespace rorarodi
