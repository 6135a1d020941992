// CSV: one line per record, values separated by ','.
#include <cstdlib>
#include <cstring>
#include <string>

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

private:
    // CR removed; nothing for an empty or all-space text, else the text in double
    // quotes with each double quote doubled. Spaces are held back until a character
    // shows that the text is not all spaces.
    void text_value() {
        const std::string_view value = value_text();
        if (!from_memo() && all_spaces(value)) return;
        if (!from_memo() && !holds_any(value, "\"\r")) {
            // One growth of the output for the quoted text.
            const size_t at = out_.size();
            out_.append(value.size() + 2, '"');
            std::memcpy(out_.data() + at + 1, value.data(), value.size());
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
};

} // namespace

std::unique_ptr<RecordWriter> make_csv_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<CsvWriter>(session, std::move(fields));
}

} // namespace rorarodi
