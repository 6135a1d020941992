#include "report/typed_writer.h"

#include "session/messages.h"

namespace rorarodi {

TypedWriter::TypedWriter(Session& session, std::vector<int> fields)
    : RecordWriter(session, std::move(fields), kTypedValues) {
    if (!settings.show_deletion_marks) take_live_records_only();
}

bool TypedWriter::prepare_columns() {
    columns_ = data_columns(table, fields, settings.show_deletion_marks);
    const bool has_field = !columns_.empty() && columns_.front().field >= 0;
    if (!has_field) {
        report_failure(session, kNoFieldsToWrite, table.table_file_name);
        note_refused();
        return false;
    }
    column_of_ = column_of_fields(columns_, fields);
    typed_ = std::make_unique<TypedReader>(table);
    table_name_ = data_table_name(table);
    return true;
}

void TypedWriter::begin_record(uint8_t flag, uint32_t) {
    flag_ = flag;
    begin_row();
}

void TypedWriter::field(size_t index, int field, bool) {
    const int column = column_of_[index];
    if (column >= 0) column_value(static_cast<size_t>(column), typed_->read(field));
}

void TypedWriter::end_record() {
    if (settings.show_deletion_marks) {
        // Only '*' marks a deleted record.
        TypedValue deleted;
        deleted.type = ValueType::logical;
        deleted.integer = flag_ == kDeletedMark;
        column_value(columns_.size() - 1, deleted);
    }
    end_row();
}

} // namespace rorarodi
