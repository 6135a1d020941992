// SQL: one "insert into" statement per record.
#include "report/record_writer.h"
#include "report/writers.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

class SqlWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    void begin_record(uint8_t, uint32_t) override {
        out_ += "insert into \"";
        out_ += table.table_file_name;
        out_ += "\" ";
        if (settings.show_names) {
            out_ += " (";
            for (size_t i = 0; i < fields.size(); ++i) {
                if (i > 0) out_ += ", ";
                out_ += name_of(fields[i]);
            }
            out_ += " )";
        }
        out_ += " values (";
    }

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

private:
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
    return std::make_unique<SqlWriter>(session, std::move(fields), kViewedValues);
}

} // namespace rorarodi
