// SQL for one database (/SQL:postgres, /SQL:sqlite): every table gets its CREATE
// TABLE the first time the run writes it into a file; the rows follow as a COPY
// block in PostgreSQL's text format, or as INSERT statements inside BEGIN and
// COMMIT.
#include <cstring>
#include <memory>

#include "platform/byte_words.h"
#include "report/data_text.h"
#include "report/typed_writer.h"
#include "report/writers.h"

namespace rorarodi {

namespace {

// The part both share: the file, its preamble and the CREATE TABLE of each table.
class SqlFileWriter : public TypedWriter {
public:
    SqlFileWriter(Session& session, std::vector<int> fields, SqlDialect dialect)
        : TypedWriter(session, std::move(fields)), dialect_(dialect) {}

    bool open() override {
        if (!prepare_columns() || !open_text_output()) return false;
        OutputsOfRun& run = session.outputs_of_run;
        // A file this run began from nothing holds only what the run wrote; one that
        // held statements before may hold the table already.
        if (output_was_empty()) {
            out_ += sql_file_preamble(dialect_);
            run.fresh_files.insert(output_name);
        }
        if (run.tables.insert({output_name, table_name()}).second) {
            const bool fresh = run.fresh_files.count(output_name) > 0;
            out_ += create_table_statement(dialect_, table, table_name(), columns(), !fresh);
            out_ += '\n';
        }
        column_list_.clear();
        for (const DataColumn& column : columns()) {
            if (!column_list_.empty()) column_list_ += ", ";
            append_sql_identifier(column_list_, column.name);
        }
        return true;
    }

protected:
    std::string column_list_;  // the columns' names in parentheses' order

private:
    const SqlDialect dialect_;
};

// PostgreSQL: one COPY block in its text format.
class CopyWriter : public SqlFileWriter {
public:
    CopyWriter(Session& session, std::vector<int> fields)
        : SqlFileWriter(session, std::move(fields), SqlDialect::postgres) {}

    bool open() override {
        if (!SqlFileWriter::open()) return false;
        out_ += "COPY ";
        append_sql_identifier(out_, table_name());
        out_ += " (" + column_list_ + ") FROM stdin;\n";
        plan_quick_fields(std::vector<size_t>(columns().size(), 1));  // a tab before each value
        return true;
    }
    void column_value(size_t column, const TypedValue& value) override {
        if (column > 0) out_ += '\t';
        append_copy_value(out_, value);
    }
    void end_row() override { out_ += '\n'; }
    bool close() override {
        out_ += "\\.\n\n";
        return true;
    }

    // The usual values go straight from the record into the output.
    bool write_record() override {
        return write_quick_record([&](const QuickField& q, const uint8_t* record, char* to) {
            if (q.column > 0) *to++ = '\t';
            return quick_value(q, record, to);
        });
    }

private:
    // Writes the value at `to` as append_copy_value would and returns the end of
    // it; nothing when the value goes the general way.
    char* quick_value(const QuickField& q, const uint8_t* record, char* to) const {
        switch (q.kind) {
        case QuickKind::text:
            // A backslash, a tab, a line break or a NUL (dropped) needs more than the
            // text; so do the other control bytes below CR, which are rare.
            return put_quick_text(
                q, record, to, 0, [](uint64_t word) { return (bytes_below(word, '\r' + 1) | bytes_equal(word, '\\')) == 0; },
                [](unsigned char c) { return c > '\r' && c != '\\'; });
        case QuickKind::number: return put_quick_number(q, record, to);
        case QuickKind::date:
            // A date of the year 0 is written as 1 BC the general way.
            if (std::memcmp(record + q.offset, "0000", 4) == 0) return nullptr;
            return put_quick_date(q, record, to);
        case QuickKind::logical: return put_quick_logical(q, record, to, "t", "f", "\\N");
        case QuickKind::none: break;
        }
        return nullptr;
    }
};

// SQLite: INSERT statements in one transaction.
class InsertWriter : public SqlFileWriter {
public:
    InsertWriter(Session& session, std::vector<int> fields)
        : SqlFileWriter(session, std::move(fields), SqlDialect::sqlite) {}

    bool open() override {
        if (!SqlFileWriter::open()) return false;
        out_ += "BEGIN;\n";
        row_start_ = "INSERT INTO ";
        append_sql_identifier(row_start_, table_name());
        row_start_ += " (" + column_list_ + ") VALUES (";
        return true;
    }
    void begin_row() override { out_ += row_start_; }
    void column_value(size_t column, const TypedValue& value) override {
        if (column > 0) out_ += ", ";
        append_sqlite_literal(out_, value);
    }
    void end_row() override { out_ += ");\n"; }
    bool close() override {
        out_ += "COMMIT;\n\n";
        return true;
    }

private:
    std::string row_start_;
};

} // namespace

std::unique_ptr<RecordWriter> make_copy_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<CopyWriter>(session, std::move(fields));
}
std::unique_ptr<RecordWriter> make_insert_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<InsertWriter>(session, std::move(fields));
}

std::unique_ptr<RecordWriter> make_sql_text_writer(Session& session, std::vector<int> fields) {
    switch (session.settings.sql_dialect) {
    case SqlDialect::postgres: return make_copy_writer(session, std::move(fields));
    case SqlDialect::sqlite: return make_insert_writer(session, std::move(fields));
    case SqlDialect::none: break;
    }
    return make_sql_writer(session, std::move(fields));
}

} // namespace rorarodi
