// SQLite databases: the records go into a table named after the source table, in
// one transaction; a new table gets typed columns, an existing one the records
// appended, columns matched by name.
#include <cstdio>
#include <memory>

#include "report/record_writer.h"
#include "report/sql_dialect.h"
#include "report/sqlite_output.h"
#include "session/console.h"
#include "table/dbf_format.h"
#include "table/typed_value.h"

namespace rorarodi {

namespace {

class SqliteWriter : public RecordWriter {
public:
    SqliteWriter(Session& session, std::vector<int> fields) : RecordWriter(session, std::move(fields), kTypedValues) {}

    bool open() override {
        const std::string& name = output_name;
        if (is_table_own_file(name, table)) return false;
        columns_ = data_columns(table, fields, settings.show_deletion_marks);
        column_of_ = column_of_fields(columns_, fields);
        if (!database_.open(name, data_table_name(table.table_file_name), table, columns_)) {
            report();
            return false;
        }
        typed_ = std::make_unique<TypedReader>(table);
        return true;
    }

    void begin_record(uint8_t flag, uint32_t) override { flag_ = flag; }

    void field(size_t index, int field, bool) override {
        if (failed_ || column_of_[index] < 0) return;
        failed_ = !database_.bind(static_cast<size_t>(column_of_[index]), typed_->read(field));
    }

    void end_record() override {
        if (failed_) return;
        if (settings.show_deletion_marks) {
            TypedValue deleted;
            deleted.type = ValueType::logical;
            deleted.integer = flag_ != kLiveMark;
            failed_ = !database_.bind(columns_.size() - 1, deleted);
        }
        failed_ = failed_ || !database_.insert_row();
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
    std::vector<DataColumn> columns_;
    std::vector<int> column_of_;  // per selected field: its column, -1 for none
    std::unique_ptr<TypedReader> typed_;
    uint8_t flag_ = kLiveMark;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<RecordWriter> make_sqlite_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<SqliteWriter>(session, std::move(fields));
}

} // namespace rorarodi
