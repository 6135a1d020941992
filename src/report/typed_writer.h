// What the writers of typed data (JSON, COPY, INSERT, SQLite) share: the columns
// of the selected fields, the typed reader that gives their values, and the
// deletion flag column of /DEL. Without /DEL they take live records only.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "report/record_writer.h"
#include "report/sql_dialect.h"
#include "table/typed_value.h"

namespace rorarodi {

class TypedWriter : public RecordWriter {
public:
    TypedWriter(Session& session, std::vector<int> fields);

protected:
    // Makes the columns and the reader; false, with its message printed, when the
    // selected fields give no column (a table without fields).
    [[nodiscard]] bool prepare_columns();
    const std::vector<DataColumn>& columns() const { return columns_; }
    // The name of the table the rows go into (UTF-8).
    const std::string& table_name() const { return table_name_; }

    // A row: begin_row, column_value for every column in column order, end_row.
    virtual void begin_row() {}
    virtual void column_value(size_t column, const TypedValue& value) = 0;
    virtual void end_row() {}
    // Gives selected field number `index` of the record its column value the
    // general way, for a writer that writes the other values itself.
    void typed_field(size_t index) { field(index, fields[index], false); }
    // The column of selected field number `index`, -1 for none.
    int column_of(size_t index) const { return column_of_[index]; }

private:
    void begin_record(uint8_t flag, uint32_t position) final;
    void field(size_t index, int field, bool last) final;
    void end_record() final;

    std::vector<DataColumn> columns_;
    std::vector<int> column_of_;  // per selected field: its column, -1 for none
    std::unique_ptr<TypedReader> typed_;
    std::string table_name_;
    uint8_t flag_ = kLiveMark;
};

} // namespace rorarodi
