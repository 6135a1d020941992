// The console and plain text files: values between '|', or one line per field.
#include "report/record_writer.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

constexpr size_t kNameColumn = 10;

class TextWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    void header_line() override {
        if (!run_.settings.header_line || run_.fields_layout) return;
        if (run_.settings.show_deletion_marks) out() += "*|";
        const std::vector<int>& fields = run_.fields;
        for (size_t i = 0; i < fields.size(); ++i) {
            run_.append_padded_name(out(), fields[i], field_display_width(run_.table, fields[i]));
            if (i + 1 < fields.size()) out() += '|';
        }
        out() += '\n';
    }

    void begin_record(uint8_t flag, uint32_t) override {
        if (!run_.settings.show_deletion_marks) return;
        if (run_.fields_layout) out() += "*" + std::string(kNameColumn - 1, ' ') + "|";
        out() += static_cast<char>(flag);
        out() += run_.fields_layout ? '\n' : '|';
    }

    void field(size_t, int field, bool last) override {
        std::string& out = run_.text();
        if (run_.fields_layout) {
            run_.append_padded_name(out, field, kNameColumn);
            out += '|';
        }
        // Without CR: a line break in a value is its LF alone.
        run_.each_piece([&](std::string_view piece) {
            if (piece.find('\r') == std::string_view::npos) {
                out += piece;
                return;
            }
            for (char c : piece)
                if (c != '\r') out += c;
        });
        if (run_.fields_layout)
            out += '\n';
        else if (!last)
            out += '|';
    }

    void end_record() override {
        if (run_.settings.show_names) {
            out() += run_.table.table_file_name;
            if (run_.fields_layout) out() += '\n';
        }
        out() += '\n';
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_text_writer(ExportRun& run) { return std::make_unique<TextWriter>(run); }

} // namespace rorarodi
