// A dBASE program: "append blank" and "replace" commands for every record.
#include "report/record_writer.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

class ProgramWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    bool open() override {
        if (!RecordWriter::open()) return false;
        out() += "use " + run_.table.table_file_name + "\n";
        return true;
    }
    void begin_record(uint8_t, uint32_t) override { out() += "append blank\nreplace ;\n"; }
    void field(size_t, int field, bool last) override {
        std::string& out = run_.text();
        const std::string_view value = run_.value();
        out += '\t';
        out += run_.name_of(field);
        const char type = run_.type_of(field);
        if (field_is_numeric(run_.table, field)) {
            out += " with ";
            out += value;
        } else if (is_date_or_time(type)) {
            out += " with ctod(\"";
            out += value;
            out += "\")";
        } else if (field_is_memo(run_.table, field)) {
            out += " with ;\n";
            if (run_.from_memo()) {
                bool in_line = false;
                run_.each_line_part(
                    [&](std::string_view part) {
                        if (!in_line) out += "\t\t\"";
                        in_line = true;
                        out += part;
                    },
                    [&] {
                        if (in_line) out += "\" + chr(13) + chr(10) +;\n";
                        in_line = false;
                    });
                if (in_line) out += "\" + chr(13) + chr(10) +;\n";
            }
            out += "\t\t\"\"";
        } else if (type == 'L') {
            out += " with .";
            out += reads_true(value) ? 'T' : 'F';
            out += '.';
        } else {
            out += " with \"";
            out += value;
            out += '"';
        }
        out += last ? "\n" : ", ;\n";
    }
    bool close() override {
        out() += "use\t&&\t" + run_.table.table_file_name + "\n\n";
        return true;
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_program_writer(ExportRun& run) { return std::make_unique<ProgramWriter>(run); }

} // namespace rorarodi
