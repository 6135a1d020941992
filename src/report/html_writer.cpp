// HTML: one table, a row per record or per field.
#include "report/escape.h"
#include "report/record_writer.h"
#include "report/writers.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

class HtmlWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    bool open() override {
        if (!RecordWriter::open()) return false;
        out_ += "<table width=\"100%\" border=\"1\" cellspacing=\"1\" cellpadding=\"1\">\n";
        if (settings.header_line && !fields_layout) {
            out_ += "<tr>";
            if (settings.show_deletion_marks) out_ += "<td align=center>*</td>";
            for (int field : fields) out_ += "<td align=center>" + name_of(field) + "</td>";
            out_ += "</tr>\n";
        }
        return true;
    }

    void begin_record(uint8_t flag, uint32_t) override {
        out_ += "<tr valign=top>";
        if (!settings.show_deletion_marks) return;
        if (fields_layout) out_ += "<td>*</td>";
        if (flag == ' ') {
            out_ += "<td>&nbsp;</td>";
        } else {
            out_ += fields_layout ? "<td align=left>" : "<td align=center>";
            out_ += static_cast<char>(flag);
            out_ += "</td>";
        }
        if (fields_layout) out_ += "</tr>\n";
    }

    void field(size_t, int field, bool) override {
        if (fields_layout) {
            out_ += "<tr valign=top><td valign=top>";
            out_ += name_of(field);
            out_ += "</td>";
        }
        const std::string_view trimmed = trim_spaces(value_text());
        const bool memo_text = from_memo() && memo_present();
        if (!memo_text && trimmed.empty()) {
            out_ += "<td>&nbsp;</td>";
        } else if (!fields_layout && !from_memo() && is_date_or_time(type_of(field))) {
            out_ += "<td align=center>";
            out_ += trimmed;
            out_ += "</td>";
        } else if (!fields_layout && !from_memo() && field_is_numeric(table, field)) {
            out_ += "<td align=right>";
            out_ += trimmed;
            out_ += "</td>";
        } else {
            const bool to_ansi =
                !table.options.ansi && settings.output_conversion == OutputConversion::none && !utf8();
            out_ += "<td>";
            html_.restart();
            each_piece([&](std::string_view piece) {
                if (to_ansi)
                    from_oem(table, reinterpret_cast<unsigned char*>(const_cast<char*>(piece.data())), piece.size());
                html_.feed(piece);
            });
            html_.finish();
            out_ += "</td>";
        }
        if (fields_layout) out_ += "</tr>\n";
    }

    void end_record() override {
        if (settings.show_names) {
            out_ += fields_layout ? "<tr><td colspan=2>" : "<td>";
            out_ += table.table_file_name;
            out_ += "</td>";
        }
        out_ += "</tr>\n";
    }

    bool close() override {
        out_ += "</table>\n";
        return true;
    }

private:
    HtmlTextWriter html_{out_};
};

} // namespace

std::unique_ptr<RecordWriter> make_html_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<HtmlWriter>(session, std::move(fields));
}

} // namespace rorarodi
