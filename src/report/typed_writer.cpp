#include "report/typed_writer.h"

#include "platform/byte_words.h"
#include "session/messages.h"
#include "table/byte_utf8.h"
#include "table/field_text.h"
#include "table/text_convert.h"

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
    const Utf8Page& page = text_utf8_page(table);
    if (!page.double_byte()) quick_utf8_ = std::make_unique<ByteUtf8Table>(page);
    const bool text_quick = quick_utf8_ && quick_utf8_->keeps_ascii();
    bool any = false;
    room_from_.assign(fields.size() + 1, 0);
    for (size_t i = 0; i < fields.size(); ++i) {
        const int field = fields[i];
        // Fields with null or length bits, or not whole in the record, have no width here.
        const StoredTextPlan stored = stored_text_plan(table, field, DateMode::as_stored);
        QuickField q{QuickKind::none, column_of_[i], stored.decimals, stored.offset, stored.width};
        const char type = table.field(field).type;
        const ColumnKind kind = column_kind(table, field);
        size_t room = 0;
        if (q.column < 0 || stored.width == 0) {
            // Not written, or read through its null and length bits: the general way.
        } else if (type == 'C' && kind == ColumnKind::text && text_quick) {
            q.kind = QuickKind::text;
            room = ByteUtf8Table::room_for(stored.width) + 2;
        } else if ((type == 'N' || type == 'F') && (kind == ColumnKind::integer || kind == ColumnKind::decimal)) {
            q.kind = QuickKind::number;
            room = stored.width;
        } else if (type == 'D' && stored.width == kCompactDateLength) {
            q.kind = QuickKind::date;
            room = kQuotedIsoDate;
        } else if (type == 'L') {
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
    // As the typed reader: a number without an integer digit (".50") is read the long way.
    if (!is_canonical_number(bytes, q.width, q.decimals) || (q.decimals > 0 && q.width == q.decimals + 1u))
        return nullptr;
    return put_text(to, trim_spaces(std::string_view(bytes, q.width)));
}

char* TypedWriter::put_quick_logical(const QuickField& q, const uint8_t* record, char* to, std::string_view yes,
                                     std::string_view no, std::string_view neither) {
    const int truth = stored_logical(static_cast<char>(record[q.offset]));
    return put_text(to, truth > 0 ? yes : truth == 0 ? no : neither);
}

char* TypedWriter::put_quick_date(const QuickField& q, const uint8_t* record, char* to) {
    if (!is_compact_date(record + q.offset)) return nullptr;
    const char* d = reinterpret_cast<const char*>(record) + q.offset;
    const char iso[] = {d[0], d[1], d[2], d[3], '-', d[4], d[5], '-', d[6], d[7]};
    return put_text(to, std::string_view(iso, sizeof iso));
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
