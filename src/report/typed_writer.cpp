#include "report/typed_writer.h"

#include "platform/byte_words.h"
#include "session/messages.h"
#include "table/byte_utf8.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

constexpr size_t kQuotedIsoDate = 12;  // "YYYY-MM-DD" in quotes
constexpr size_t kLongestLogical = 5;  // false

} // namespace

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

void TypedWriter::plan_quick_fields(const std::vector<size_t>& prefix_room) {
    const ByteUtf8Table* bytes = typed_->byte_table();
    const bool text_quick = bytes && bytes->keeps_ascii();
    bool any = false;
    room_from_.assign(fields.size() + 1, 0);
    for (size_t i = 0; i < fields.size(); ++i) {
        // The typed reader's own plan of the field says how it reads the value.
        const TypedReader::FieldPlan& plan = typed_->plan(fields[i]);
        QuickField q{QuickKind::none, column_of_[i], plan.decimals, plan.offset, plan.width};
        const ColumnKind kind = plan.kind;
        size_t room = 0;
        if (q.column < 0 || !plan.plain || plan.memo || plan.width == 0) {
            // Not written, read through its null and length bits or from the memo file:
            // the general way.
        } else if (plan.type == 'C' && kind == ColumnKind::text && text_quick) {
            q.kind = QuickKind::text;
            room = ByteUtf8Table::room_for(plan.width) + 2;
        } else if ((plan.type == 'N' || plan.type == 'F') &&
                   (kind == ColumnKind::integer || kind == ColumnKind::decimal)) {
            q.kind = QuickKind::number;
            room = plan.width;
        } else if (plan.type == 'D' && plan.width == kCompactDateLength) {
            q.kind = QuickKind::date;
            room = kQuotedIsoDate;
        } else if (plan.type == 'L') {
            q.kind = QuickKind::logical;
            room = kLongestLogical;
        }
        any = any || q.kind != QuickKind::none;
        if (q.column >= 0) room += prefix_room[static_cast<size_t>(q.column)];
        quick_.push_back(q);
        room_from_[i] = room;
    }
    if (!any) {
        quick_.clear();
        return;
    }
    add_up_rooms(room_from_);
}

char* TypedWriter::put_quick_number(const QuickField& q, const uint8_t* record, char* to) {
    const char* bytes = reinterpret_cast<const char*>(record) + q.offset;
    if (!stored_number_is_exact(bytes, q.width, q.decimals)) return nullptr;
    return put_text(to, trim_spaces(std::string_view(bytes, q.width)));
}

char* TypedWriter::put_quick_logical(const QuickField& q, const uint8_t* record, char* to, std::string_view yes,
                                     std::string_view no, std::string_view neither) {
    const int truth = stored_logical(static_cast<char>(record[q.offset]));
    return put_text(to, truth > 0 ? yes : truth == 0 ? no : neither);
}

char* TypedWriter::put_quick_date(const QuickField& q, const uint8_t* record, char* to) {
    if (!is_compact_date(record + q.offset)) return nullptr;
    return put_iso_date(reinterpret_cast<const char*>(record) + q.offset, to);
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
