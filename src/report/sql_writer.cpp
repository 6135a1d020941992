// SQL: one "insert into" statement per record.
#include "report/record_pass.h"
#include "report/record_writer.h"
#include "report/writers.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

class SqlWriter : public RecordWriter {
public:
    SqlWriter(Session& session, std::vector<int> fields) : RecordWriter(session, std::move(fields), kViewedValues) {
        // What every statement begins with, made once.
        statement_start_ = "insert into \"" + table.table_file_name + "\" ";
        if (settings.show_names) {
            statement_start_ += " (";
            for (size_t i = 0; i < this->fields.size(); ++i) {
                if (i > 0) statement_start_ += ", ";
                statement_start_ += name_of(this->fields[i]);
            }
            statement_start_ += " )";
        }
        statement_start_ += " values (";
        plan_quick_values();
    }

    void begin_record(uint8_t, uint32_t) override { out_ += statement_start_; }

    void field(size_t, int field, bool last) override {
        const char quote = settings.output_quote;
        const std::string_view value = value_text();
        if (field_is_numeric(table, field)) {
            out_ += value;
        } else if (from_memo()) {
            // Lines split at CR and LF, empty ones dropped, each ended by a line feed.
            bool any_line = false, in_line = false;
            each_line_part(
                [&](std::string_view part) {
                    if (!any_line) out_ += quote;
                    any_line = in_line = true;
                    append_quoted(part);
                },
                [&] {
                    if (in_line) out_ += '\n';
                    in_line = false;
                });
            if (in_line) out_ += '\n';
            out_ += quote;
            if (!any_line) out_ += quote;
        } else if (type_of(field) == 'L') {
            const bool truth = reads_true(value);
            out_ += settings.sql2000 ? (truth ? "1" : "0") : (truth ? "TRUE " : "FALSE");
        } else {
            // Dates and date-times too: a damaged stored date must not end the quotes.
            out_ += quote;
            append_quoted(value);
            out_ += quote;
        }
        if (!last) out_ += ", ";
    }
    void end_record() override { out_ += ");\n"; }

    // The usual values go straight from the record into the output.
    bool write_record() override {
        if (quick_.empty()) return false;
        const uint8_t* record = table.record_buffer.data();
        const size_t last = quick_.size() - 1;
        out_ += statement_start_;
        write_record_pass(
            out_, room_from_, quick_.size(),
            [&](size_t i, char* to) -> char* {
                char* end = quick_value(quick_[i], record, to);
                if (end && i < last) end = put_text(end, ", ");
                return end;
            },
            [&](size_t i) {
                load_value(fields[i]);
                field(i, fields[i], i == last);
            });
        out_ += ");\n";
        return true;
    }

private:
    // The values the record pass writes itself: a text or date whose stored bytes
    // hold no quote or escape character, a number whose stored text is its
    // formatted value, a logical.
    enum class Quick : uint8_t { none, quoted, number, logical };
    struct QuickField {
        Quick quick = Quick::none;
        StoredTextPlan plan;
    };

    // Decides each selected field's way once. Under /UTF8 the checks look at the
    // stored bytes, which needs a page that leaves ASCII as it is, and ASCII quote
    // and escape characters.
    void plan_quick_values() {
        const ByteUtf8Table* const bytes = byte_utf8();
        const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
        if (utf8() && !(bytes && bytes->keeps_ascii() && ascii(settings.output_quote) &&
                        ascii(settings.escape_character)))
            return;
        bool any = false;
        room_from_.assign(fields.size() + 1, 0);
        for (size_t i = 0; i < fields.size(); ++i) {
            const int field = fields[i];
            const StoredTextPlan* plan = stored_plan(field);
            if (!plan) return;
            QuickField q{Quick::none, *plan};
            size_t room = 0;
            const bool numeric = field_is_numeric(table, field);
            if (numeric && plan->form == StoredForm::number) {
                q.quick = Quick::number;
                room = plan->width;
            } else if (!numeric && type_of(field) == 'L' && plan->form == StoredForm::logical) {
                q.quick = Quick::logical;
                room = 5;  // FALSE
            } else if (!numeric && !field_is_memo(table, field) &&
                       (plan->form == StoredForm::characters || plan->form == StoredForm::compact_date)) {
                q.quick = Quick::quoted;
                room = (bytes ? ByteUtf8Table::room_for(plan->width) : plan->width) + 2;
            }
            any = any || q.quick != Quick::none;
            quick_.push_back(q);
            room_from_[i] = room + 2;  // and the separator
        }
        if (!any) {
            quick_.clear();
            return;
        }
        add_up_rooms(room_from_);
    }

    // Writes the value at `to` as field would and returns the end of it; nothing
    // when the value goes the general way.
    char* quick_value(const QuickField& q, const uint8_t* record, char* to) const {
        std::string_view value;
        if (q.quick == Quick::none || !stored_text_view(q.plan, record, value)) return nullptr;
        switch (q.quick) {
        case Quick::number: return put_text(to, value);
        case Quick::logical: {
            const bool truth = reads_true(value);
            return put_text(to, settings.sql2000 ? (truth ? "1" : "0") : (truth ? "TRUE " : "FALSE"));
        }
        case Quick::quoted: {
            const char quote = settings.output_quote;
            const char escape = settings.escape_character;
            const char specials[2] = {quote, escape ? escape : quote};
            if (holds_any(value, std::string_view(specials, 2))) return nullptr;
            *to++ = quote;
            to = byte_utf8() ? byte_utf8()->convert(value, to) : put_text(to, value);
            *to++ = quote;
            return to;
        }
        case Quick::none: break;
        }
        return nullptr;
    }

    std::string statement_start_;
    std::vector<QuickField> quick_;  // per selected field; empty when no value is quick
    std::vector<size_t> room_from_;  // see add_up_rooms

    // Writes a text between quote characters. The escape character goes before every
    // quote character and before itself; without one a quote character is doubled, so
    // that a value can never end the quoted text early.
    void append_quoted(std::string_view text) {
        const char quote = settings.output_quote;
        const char escape = settings.escape_character;
        const char specials[2] = {quote, escape ? escape : quote};
        if (!holds_any(text, std::string_view(specials, 2))) {
            out_ += text;
            return;
        }
        for (char c : text) {
            if (c == quote)
                out_ += escape ? escape : quote;
            else if (escape && c == escape && escape != quote)
                out_ += escape;
            out_ += c;
        }
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_sql_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<SqlWriter>(session, std::move(fields));
}

} // namespace rorarodi
