// SQLite databases: the records go into a table named after the source table, in
// one transaction; a new table gets typed columns, an existing one the records
// appended, columns matched by name (under /REPLACE it is made anew the first
// time the run writes it).
#include <cstdio>
#include <memory>

#include "report/sqlite_output.h"
#include "report/typed_writer.h"
#include "report/writers.h"
#include "session/console.h"

namespace rorarodi {

namespace {

class SqliteWriter : public TypedWriter {
public:
    SqliteWriter(Session& session, std::vector<int> fields) : TypedWriter(session, std::move(fields)) {}

    bool open() override {
        if (is_table_own_file(output_name, table) || !prepare_columns()) return false;
        const bool first_of_run = session.outputs_of_run.tables.insert({output_name, table_name()}).second;
        const bool replace = first_of_run && settings.replace_outputs;
        if (!database_.open(output_name, table_name(), table, columns(), replace)) {
            report();
            return false;
        }
        return true;
    }

    void column_value(size_t column, const TypedValue& value) override {
        if (!failed_) failed_ = !database_.bind(column, value);
    }

    void end_row() override {
        if (!failed_) failed_ = !database_.insert_row();
    }

    // Commits, or rolls everything back after a failure.
    bool close() override {
        if (!failed_ && database_.commit()) return true;
        database_.rollback();
        report();
        return false;
    }

private:
    // The library's reason, beside the program's own message; the run ends with
    // the status of a failed parameter.
    void report() {
        mark_failed(session);
        if (!database_.error().empty())
            std::fprintf(stderr, "rorarodi: %s: %s\n", output_name.c_str(), database_.error().c_str());
    }

    SqliteTableWriter database_;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<RecordWriter> make_sqlite_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<SqliteWriter>(session, std::move(fields));
}

} // namespace rorarodi
