// CSV: one line per record, values separated by ','.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/byte_words.h"
#include "report/data_text.h"
#include "report/record_pass.h"
#include "report/record_writer.h"
#include "report/writers.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

// True when the text reads as the number 0, as atof reads it.
bool reads_as_zero(std::string_view text) {
    bool plain = true;
    for (char c : text) {
        if (c >= '1' && c <= '9') return false;
        if (c != '0' && c != '.' && c != '-' && c != '+') plain = false;
    }
    // The text may be a view of the record: strtod reads a terminated copy.
    return plain || std::strtod(std::string(text).c_str(), nullptr) == 0;
}

class CsvWriter : public RecordWriter {
public:
    CsvWriter(Session& session, std::vector<int> fields) : RecordWriter(session, std::move(fields), kViewedValues) {
        // How each selected field is written, decided once.
        for (int field : this->fields)
            kinds_.push_back(type_of(field) == 'C' || field_is_memo(table, field) ? Kind::text
                             : field_is_numeric(table, field)                      ? Kind::number
                                                                                   : Kind::other);
        plan_quick_values();
    }

    void header_line() override {
        if (!settings.header_line) return;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out_ += ',';
            out_ += name_of(fields[i]);
        }
        out_ += '\n';
    }

    void field(size_t index, int, bool last) override {
        const Kind kind = kinds_[index];
        if (kind == Kind::text)
            text_value();
        else
            other_value(kind == Kind::number);
        if (!last) out_ += ',';
    }

    void end_record() override { out_ += '\n'; }

    // The record in one pass: room for all of it made once, the values read off the
    // record and written straight into it. A value that needs more (quotes to
    // double, a number or date to format, a memo) goes the general way.
    bool write_record() override {
        if (quick_.empty()) return false;
        const uint8_t* record = table.record_buffer.data();
        const size_t last = quick_.size() - 1;
        write_record_pass(
            out_, room_from_, quick_.size(),
            [&](size_t i, char* to) -> char* {
                char* end = quick_value(quick_[i], record, to);
                if (end) *end++ = i < last ? ',' : '\n';
                return end;
            },
            [&](size_t i) {
                load_value(fields[i]);
                field(i, fields[i], i == last);
                if (i == last) out_ += '\n';
            });
        return true;
    }

private:
    // CR removed; nothing for an empty or all-space text, else the text in double
    // quotes with each double quote doubled. Spaces are held back until a character
    // shows that the text is not all spaces.
    void text_value() {
        const std::string_view value = value_text();
        if (!from_memo() && all_spaces(value)) return;
        if (!from_memo() && !holds_any(value, "\"\r")) {
            append_quoted_plain(out_, value);
            return;
        }
        bool opened = false;
        size_t held_spaces = 0;
        each_piece([&](std::string_view piece) {
            size_t i = 0;
            if (!opened) {
                for (; i < piece.size() && (piece[i] == ' ' || piece[i] == '\r'); ++i)
                    if (piece[i] == ' ') ++held_spaces;
                if (i == piece.size()) return;
                out_ += '"';
                out_.append(held_spaces, ' ');
                opened = true;
            }
            size_t run = i;
            for (; i < piece.size(); ++i) {
                if (piece[i] != '"' && piece[i] != '\r') continue;
                out_.append(piece.data() + run, i - run);
                if (piece[i] == '"') out_ += "\"\"";
                run = i + 1;
            }
            out_.append(piece.data() + run, piece.size() - run);
        });
        if (opened) out_ += '"';
    }

    void other_value(bool numeric) {
        const std::string_view trimmed = trim_spaces(value_text());
        if (numeric && reads_as_zero(trimmed)) return;
        if (!holds_any(trimmed, ",\"\r\n")) {
            out_ += trimmed;
            return;
        }
        // A text holding the separator, a quote or a line break is quoted, so that it
        // stays one value.
        out_ += '"';
        for (char c : trimmed) {
            if (c == '"') out_ += '"';
            out_ += c;
        }
        out_ += '"';
    }

    enum class Kind : uint8_t { text, number, other };
    std::vector<Kind> kinds_;  // per selected field

    // The values the record pass writes itself: characters to quote, a number whose
    // stored text is its value, a valid compact date, a logical byte.
    enum class Quick : uint8_t { none, text, number, date, logical };
    struct QuickField {
        Quick quick = Quick::none;
        StoredTextPlan plan;
    };

    // Decides each selected field's way once. Under /UTF8 the checks look at the
    // stored bytes, which needs a page that leaves ASCII as it is.
    void plan_quick_values() {
        if (utf8() && !(byte_utf8() && byte_utf8()->keeps_ascii())) return;
        const ByteUtf8Table* const bytes = byte_utf8();
        bool any = false;
        room_from_.assign(fields.size() + 1, 0);
        for (size_t i = 0; i < fields.size(); ++i) {
            const StoredTextPlan* plan = stored_plan(fields[i]);
            if (!plan) return;
            QuickField q{Quick::none, *plan};
            size_t room = 0;
            if (kinds_[i] == Kind::text && plan->form == StoredForm::characters) {
                q.quick = Quick::text;
                room = (bytes ? ByteUtf8Table::room_for(plan->width) : plan->width) + 2;
            } else if (kinds_[i] == Kind::number && plan->form == StoredForm::number) {
                q.quick = Quick::number;
                room = plan->width;
            } else if (kinds_[i] == Kind::other && plan->form == StoredForm::compact_date) {
                q.quick = Quick::date;
                room = kCompactDateLength;
            } else if (kinds_[i] == Kind::other && plan->form == StoredForm::logical) {
                q.quick = Quick::logical;
                room = ByteUtf8Table::room_for(1);
            }
            any = any || q.quick != Quick::none;
            quick_.push_back(q);
            room_from_[i] = room + 1;  // and the separator or line break after it
        }
        if (!any) {
            quick_.clear();
            return;
        }
        add_up_rooms(room_from_);
    }

    // Writes the value at `to` the way text_value or other_value would and returns
    // the end of it; nothing when the value goes the general way.
    char* quick_value(const QuickField& q, const uint8_t* record, char* to) const {
        const char* bytes = reinterpret_cast<const char*>(record) + q.plan.offset;
        const ByteUtf8Table* const utf8_bytes = byte_utf8();
        switch (q.quick) {
        case Quick::text: {
            // A quote, a CR, a zero byte (the text ends there) or another control
            // byte below CR sends the value the general way.
            std::string_view value(bytes, q.plan.width);
            if (!all_bytes(
                    value, [](uint64_t word) { return (bytes_below(word, '\r' + 1) | bytes_equal(word, '"')) == 0; },
                    [](unsigned char c) { return c > '\r' && c != '"'; }))
                return nullptr;
            value = trimmed_by_plan(q.plan, value);
            if (all_spaces(value)) return to;
            *to++ = '"';
            to = utf8_bytes ? utf8_bytes->convert(value, to) : put_text(to, value);
            *to++ = '"';
            return to;
        }
        case Quick::number: {
            if (!is_canonical_number(bytes, q.plan.width, q.plan.decimals)) return nullptr;
            const std::string_view number = trim_spaces(std::string_view(bytes, q.plan.width));
            // Such a number reads as 0 when no digit of it is other than 0.
            if (std::none_of(number.begin(), number.end(), [](char c) { return c >= '1' && c <= '9'; })) return to;
            return put_text(to, number);
        }
        case Quick::date:
            if (!is_compact_date(record + q.plan.offset)) return nullptr;
            return put_text(to, std::string_view(bytes, kCompactDateLength));
        case Quick::logical: {
            const char c = bytes[0];
            if (c == 0 || c == ' ') return to;
            if (c == ',' || c == '"' || c == '\r' || c == '\n') return nullptr;
            if (utf8_bytes) return utf8_bytes->convert(std::string_view(&c, 1), to);
            *to = c;
            return to + 1;
        }
        case Quick::none: break;
        }
        return nullptr;
    }

    std::vector<QuickField> quick_;  // per selected field; empty when no value is quick
    // The most bytes the record pass writes for the selected fields from the i-th
    // on, their separators and the line break included (add_up_rooms).
    std::vector<size_t> room_from_;
};

} // namespace

std::unique_ptr<RecordWriter> make_csv_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<CsvWriter>(session, std::move(fields));
}

} // namespace rorarodi
