// SQL for one database (/SQL:postgres, /SQL:sqlite): a new file starts with the
// CREATE TABLE of the selected fields; the rows follow as a COPY block in
// PostgreSQL's text format, or as INSERT statements inside BEGIN and COMMIT.
#include <memory>

#include "report/data_text.h"
#include "report/export.h"
#include "report/record_writer.h"
#include "report/sql_dialect.h"
#include "table/dbf_format.h"
#include "table/typed_value.h"

namespace rorarodi {

MakeWriter make_sql_writer;

namespace {

class DialectSqlWriter : public RecordWriter {
public:
    DialectSqlWriter(Session& session, std::vector<int> fields, SqlDialect dialect)
        : RecordWriter(session, std::move(fields), kTypedValues), dialect_(dialect) {}

    bool open() override {
        if (!open_text_output()) return false;
        typed_ = std::make_unique<TypedReader>(table);
        const std::vector<DataColumn> columns = data_columns(table, fields, settings.show_deletion_marks);
        column_of_ = column_of_fields(columns, fields);
        const std::string name = data_table_name(table.table_file_name);
        if (output_was_empty()) {
            out_ += sql_file_preamble(dialect_);
            out_ += create_table_statement(dialect_, table, name, columns);
            out_ += '\n';
        }
        std::string list;
        for (const DataColumn& column : columns) {
            if (!list.empty()) list += ", ";
            append_sql_identifier(list, column.name);
        }
        if (dialect_ == SqlDialect::postgres) {
            out_ += "COPY ";
            append_sql_identifier(out_, name);
            out_ += " (" + list + ") FROM stdin;\n";
        } else {
            out_ += "BEGIN;\n";
            row_start_ = "INSERT INTO ";
            append_sql_identifier(row_start_, name);
            row_start_ += " (" + list + ") VALUES (";
        }
        return true;
    }

    void begin_record(uint8_t flag, uint32_t) override {
        out_ += row_start_;
        flag_ = flag;
        written_ = 0;
    }

    void field(size_t index, int field, bool) override {
        if (column_of_[index] < 0) return;
        separate();
        if (dialect_ == SqlDialect::postgres)
            append_copy_value(out_, typed_->read(field));
        else
            append_sqlite_literal(out_, typed_->read(field));
    }

    void end_record() override {
        if (settings.show_deletion_marks) {
            separate();
            const bool deleted = flag_ != kLiveMark;
            if (dialect_ == SqlDialect::postgres)
                out_ += deleted ? 't' : 'f';
            else
                out_ += deleted ? '1' : '0';
        }
        out_ += dialect_ == SqlDialect::postgres ? "\n" : ");\n";
    }

    bool close() override {
        out_ += dialect_ == SqlDialect::postgres ? "\\.\n\n" : "COMMIT;\n\n";
        return true;
    }

private:
    void separate() {
        if (written_++ > 0) out_ += dialect_ == SqlDialect::postgres ? "\t" : ", ";
    }

    const SqlDialect dialect_;
    std::unique_ptr<TypedReader> typed_;
    std::vector<int> column_of_;  // per selected field: its column, -1 for none
    std::string row_start_;
    uint8_t flag_ = kLiveMark;
    size_t written_ = 0;
};

} // namespace

// The ".sql" format: the plain SQL text, or that of the database /SQL names.
std::unique_ptr<RecordWriter> make_sql_text_writer(Session& session, std::vector<int> fields) {
    const SqlDialect dialect = session.settings.sql_dialect;
    if (dialect == SqlDialect::none) return make_sql_writer(session, std::move(fields));
    return std::make_unique<DialectSqlWriter>(session, std::move(fields), dialect);
}

} // namespace rorarodi
