// The console and plain text files: values between '|', or one line per field.
#include "report/record_writer.h"
#include "report/writers.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

constexpr size_t kNameColumn = 10;

class TextWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    void header_line() override {
        if (!settings.header_line || fields_layout) return;
        if (settings.show_deletion_marks) out_ += "*|";
        for (size_t i = 0; i < fields.size(); ++i) {
            append_padded_name(fields[i], field_display_width(table, fields[i]));
            if (i + 1 < fields.size()) out_ += '|';
        }
        out_ += '\n';
    }

    void begin_record(uint8_t flag, uint32_t) override {
        if (!settings.show_deletion_marks) return;
        if (fields_layout) out_ += "*" + std::string(kNameColumn - 1, ' ') + "|";
        out_ += static_cast<char>(flag);
        out_ += fields_layout ? '\n' : '|';
    }

    void field(size_t, int field, bool last) override {
        if (fields_layout) {
            append_padded_name(field, kNameColumn);
            out_ += '|';
        }
        // Without CR: a line break in a value is its LF alone.
        each_piece([&](std::string_view piece) {
            if (piece.find('\r') == std::string_view::npos) {
                out_ += piece;
                return;
            }
            for (char c : piece)
                if (c != '\r') out_ += c;
        });
        if (fields_layout)
            out_ += '\n';
        else if (!last)
            out_ += '|';
    }

    void end_record() override {
        if (settings.show_names) {
            out_ += table.table_file_name;
            if (fields_layout) out_ += '\n';
        }
        out_ += '\n';
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_text_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<TextWriter>(session, std::move(fields), kViewedValues);
}

} // namespace rorarodi
