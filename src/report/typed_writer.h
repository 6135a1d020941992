// What the writers of typed data (JSON, COPY, INSERT, SQLite) share: the columns
// of the selected fields, the typed reader that gives their values, the deletion
// flag column of /DEL, and the record pass of the writers that write the usual
// values straight off the record. Without /DEL they take live records only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_words.h"
#include "report/record_pass.h"
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

    // The values a writer may write straight off the record, as the typed reader
    // would read them: text of a C field in a page that leaves ASCII as it is
    // (padding not removed yet), a number whose stored text is its exact value, a
    // date of eight digits (not checked yet), a logical.
    enum class QuickKind : uint8_t { none, text, number, date, logical };
    struct QuickField {
        QuickKind kind = QuickKind::none;
        int column = -1;
        uint8_t decimals = 0;
        uint32_t offset = 0;
        uint32_t width = 0;
    };
    // Decides each selected field's way once, after prepare_columns. `prefix_room`
    // is the most bytes the writer puts before a value, per column; a value takes
    // at most its text's UTF-8 form and two quotes, its stored number, a quoted ISO
    // date or "false".
    void plan_quick_fields(const std::vector<size_t>& prefix_room);
    // Writes the record through the record pass when some field has a quick way:
    // quick(field, record, to) writes a value and what goes before it at `to` and
    // returns its end, or nothing to have the typed reader give it.
    template <typename Quick>
    bool write_quick_record(Quick&& quick) {
        if (quick_.empty()) return false;
        const uint8_t* record = table.record_buffer.data();
        flag_ = record[0];
        begin_row();
        write_record_pass(
            out_, room_from_, quick_.size(),
            [&](size_t i, char* to) -> char* {
                const QuickField& q = quick_[i];
                return q.column < 0 ? to : quick(q, record, to);
            },
            [&](size_t i) { field(i, fields[i], false); });
        end_record();
        return true;
    }
    // Writes the text of a quick text field at `to`, without its padding, in UTF-8
    // and between `quote`s unless that is 0, and returns its end; nothing when a
    // byte fails the writer's test (`word_passes` and `byte_passes`, as all_bytes
    // takes them), since the text then needs more than that.
    template <typename WordPasses, typename BytePasses>
    char* put_quick_text(const QuickField& q, const uint8_t* record, char* to, char quote, WordPasses&& word_passes,
                         BytePasses&& byte_passes) const {
        const std::string_view text =
            without_padding(std::string_view(reinterpret_cast<const char*>(record) + q.offset, q.width));
        if (!all_bytes(text, word_passes, byte_passes)) return nullptr;
        if (quote) *to++ = quote;
        to = typed_->byte_table()->convert(text, to);
        if (quote) *to++ = quote;
        return to;
    }
    // Writes a quick number at `to` (its stored text without spaces) and returns
    // its end, or nothing when the stored text is not the exact number.
    static char* put_quick_number(const QuickField& q, const uint8_t* record, char* to);
    // Writes the text of a quick logical, true, false or neither (null).
    static char* put_quick_logical(const QuickField& q, const uint8_t* record, char* to, std::string_view yes,
                                   std::string_view no, std::string_view neither);
    // Writes a quick date's ISO form at `to` and returns its end, or nothing when
    // it is not a valid date.
    static char* put_quick_date(const QuickField& q, const uint8_t* record, char* to);

private:
    void begin_record(uint8_t flag, uint32_t position) final;
    void field(size_t index, int field, bool last) final;
    void end_record() final;

    std::vector<DataColumn> columns_;
    std::vector<int> column_of_;  // per selected field: its column, -1 for none
    std::unique_ptr<TypedReader> typed_;
    std::vector<QuickField> quick_;  // per selected field; empty when no value is quick
    std::vector<size_t> room_from_;  // see add_up_rooms
    std::string table_name_;
    uint8_t flag_ = kLiveMark;
};

} // namespace rorarodi
