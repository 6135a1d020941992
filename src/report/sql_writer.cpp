// SQL: one "insert into" statement per record.
#include "report/record_writer.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

class SqlWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    void begin_record(uint8_t, uint32_t) override {
        std::string& out = run_.text();
        out += "insert into \"";
        out += run_.table.table_file_name;
        out += "\" ";
        if (run_.settings.show_names) {
            out += " (";
            for (size_t i = 0; i < run_.fields.size(); ++i) {
                if (i > 0) out += ", ";
                out += run_.name_of(run_.fields[i]);
            }
            out += " )";
        }
        out += " values (";
    }

    void field(size_t, int field, bool last) override {
        std::string& out = run_.text();
        const char quote = run_.settings.output_quote;
        const std::string_view value = run_.value();
        if (field_is_numeric(run_.table, field)) {
            out += value;
        } else if (run_.from_memo()) {
            // Lines split at CR and LF, empty ones dropped, each ended by a line feed.
            bool any_line = false, in_line = false;
            run_.each_line_part(
                [&](std::string_view part) {
                    if (!any_line) out += quote;
                    any_line = in_line = true;
                    append_quoted(part);
                },
                [&] {
                    if (in_line) out += '\n';
                    in_line = false;
                });
            if (in_line) out += '\n';
            out += quote;
            if (!any_line) out += quote;
        } else if (run_.type_of(field) == 'L') {
            const bool truth = reads_true(value);
            out += run_.settings.sql2000 ? (truth ? "1" : "0") : (truth ? "TRUE " : "FALSE");
        } else {
            // Dates and date-times too: a damaged stored date must not end the quotes.
            out += quote;
            append_quoted(value);
            out += quote;
        }
        if (!last) out += ", ";
    }
    void end_record() override { out() += ");\n"; }

private:
    // Writes a text between quote characters. The escape character goes before every
    // quote character and before itself; without one a quote character is doubled, so
    // that a value can never end the quoted text early.
    void append_quoted(std::string_view text) {
        std::string& out = run_.text();
        const char quote = run_.settings.output_quote;
        const char escape = run_.settings.escape_character;
        const char specials[2] = {quote, escape ? escape : quote};
        if (!holds_any(text, std::string_view(specials, 2))) {
            out += text;
            return;
        }
        for (char c : text) {
            if (c == quote)
                out += escape ? escape : quote;
            else if (escape && c == escape && escape != quote)
                out += escape;
            out += c;
        }
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_sql_writer(ExportRun& run) { return std::make_unique<SqlWriter>(run); }

} // namespace rorarodi
