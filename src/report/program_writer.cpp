// A dBASE program: "append blank" and "replace" commands for every record.
#include "report/record_writer.h"
#include "report/writers.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

class ProgramWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    bool open() override {
        if (!RecordWriter::open()) return false;
        out_ += "use " + table.table_file_name + "\n";
        return true;
    }
    void begin_record(uint8_t, uint32_t) override { out_ += "append blank\nreplace ;\n"; }
    void field(size_t, int field, bool last) override {
        const std::string_view value = value_text();
        out_ += '\t';
        out_ += name_of(field);
        const char type = type_of(field);
        if (field_is_numeric(table, field)) {
            out_ += " with ";
            out_ += value;
        } else if (is_date_or_time(type)) {
            out_ += " with ctod(\"";
            out_ += value;
            out_ += "\")";
        } else if (field_is_memo(table, field)) {
            out_ += " with ;\n";
            if (from_memo()) {
                bool in_line = false;
                each_line_part(
                    [&](std::string_view part) {
                        if (!in_line) out_ += "\t\t\"";
                        in_line = true;
                        out_ += part;
                    },
                    [&] {
                        if (in_line) out_ += "\" + chr(13) + chr(10) +;\n";
                        in_line = false;
                    });
                if (in_line) out_ += "\" + chr(13) + chr(10) +;\n";
            }
            out_ += "\t\t\"\"";
        } else if (type == 'L') {
            out_ += " with .";
            out_ += reads_true(value) ? 'T' : 'F';
            out_ += '.';
        } else {
            out_ += " with \"";
            out_ += value;
            out_ += '"';
        }
        out_ += last ? "\n" : ", ;\n";
    }
    bool close() override {
        out_ += "use\t&&\t" + table.table_file_name + "\n\n";
        return true;
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_program_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<ProgramWriter>(session, std::move(fields), kViewedValues);
}

} // namespace rorarodi
