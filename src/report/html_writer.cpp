// HTML: one table, a row per record or per field.
#include "report/escape.h"
#include "report/record_writer.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

class HtmlWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    bool open() override {
        if (!RecordWriter::open()) return false;
        std::string& out = run_.text();
        out += "<table width=\"100%\" border=\"1\" cellspacing=\"1\" cellpadding=\"1\">\n";
        if (run_.settings.header_line && !run_.fields_layout) {
            out += "<tr>";
            if (run_.settings.show_deletion_marks) out += "<td align=center>*</td>";
            for (int field : run_.fields) out += "<td align=center>" + run_.name_of(field) + "</td>";
            out += "</tr>\n";
        }
        return true;
    }

    void begin_record(uint8_t flag, uint32_t) override {
        std::string& out = run_.text();
        const bool fields_layout = run_.fields_layout;
        out += "<tr valign=top>";
        if (!run_.settings.show_deletion_marks) return;
        if (fields_layout) out += "<td>*</td>";
        if (flag == ' ') {
            out += "<td>&nbsp;</td>";
        } else {
            out += fields_layout ? "<td align=left>" : "<td align=center>";
            out += static_cast<char>(flag);
            out += "</td>";
        }
        if (fields_layout) out += "</tr>\n";
    }

    void field(size_t, int field, bool) override {
        std::string& out = run_.text();
        DbfTable& table = run_.table;
        const bool fields_layout = run_.fields_layout;
        if (fields_layout) {
            out += "<tr valign=top><td valign=top>";
            out += run_.name_of(field);
            out += "</td>";
        }
        const std::string_view trimmed = trim_spaces(run_.value());
        const bool memo_text = run_.from_memo() && run_.memo_present();
        if (!memo_text && trimmed.empty()) {
            out += "<td>&nbsp;</td>";
        } else if (!fields_layout && !run_.from_memo() && is_date_or_time(run_.type_of(field))) {
            out += "<td align=center>";
            out += trimmed;
            out += "</td>";
        } else if (!fields_layout && !run_.from_memo() && field_is_numeric(table, field)) {
            out += "<td align=right>";
            out += trimmed;
            out += "</td>";
        } else {
            const bool to_ansi =
                !table.options.ansi && run_.settings.output_conversion == OutputConversion::none && !run_.utf8();
            out += "<td>";
            html_.restart();
            run_.each_piece([&](std::string_view piece) {
                if (to_ansi)
                    from_oem(table, reinterpret_cast<unsigned char*>(const_cast<char*>(piece.data())), piece.size());
                html_.feed(piece);
            });
            html_.finish();
            out += "</td>";
        }
        if (fields_layout) out += "</tr>\n";
    }

    void end_record() override {
        if (run_.settings.show_names) {
            out() += run_.fields_layout ? "<tr><td colspan=2>" : "<td>";
            out() += run_.table.table_file_name;
            out() += "</td>";
        }
        out() += "</tr>\n";
    }

    bool close() override {
        out() += "</table>\n";
        return true;
    }

private:
    HtmlTextWriter html_{run_.text()};
};

} // namespace

std::unique_ptr<RecordWriter> make_html_writer(ExportRun& run) { return std::make_unique<HtmlWriter>(run); }

} // namespace rorarodi
