// XML: an Information element with a Record element per record, after an optional
// Structure element (/HDR).
#include "report/escape.h"
#include "report/record_writer.h"
#include "report/writers.h"
#include "report/structure.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

// The text up to its first NUL, and whether it held one.
std::string_view up_to_nul(std::string_view text, bool& ended) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) ended = true;
    return text.substr(0, nul);
}

class XmlWriter : public RecordWriter {
public:
    using RecordWriter::RecordWriter;

    bool open() override {
        if (!RecordWriter::open()) return false;
        out_ += "<?xml version=\"1.0\"?>\n<!-- Location: " + table.table_file_name + " -->\n";
        if (settings.header_line)
            out_ += "   <Structure>\n" + xml_field_entries(table, utf8()) + "   </Structure>\n";
        out_ += "   <Information>\n";
        return true;
    }

    void begin_record(uint8_t flag, uint32_t position) override {
        out_ += "      <Record>\n         ";
        append_xml_number_element(out_, "RecNo", static_cast<double>(position) + 1);
        out_ += '\n';
        if (settings.show_deletion_marks) {
            out_ += "         ";
            const char flag_text[2] = {flag == ' ' ? '\0' : static_cast<char>(flag), '\0'};
            append_xml_element(out_, "DeletedFlag", std::string_view(flag_text), false);
            out_ += '\n';
        }
    }

    void field(size_t, int field, bool) override {
        const std::string& name = name_of(field);
        out_ += "         ";
        if (field_is_numeric(table, field))
            append_xml_number_element(out_, name, field_number(table, field));
        else if (!from_memo())
            append_xml_element(out_, name, value_text(), true, utf8() != nullptr);
        else
            memo_element(name);
        out_ += '\n';
    }

    void end_record() override { out_ += "      </Record>\n"; }

    bool close() override {
        out_ += "   </Information>\n\n";
        return true;
    }

private:
    // The memo text ends at its first NUL. A first pass decides between the empty
    // element and CDATA; the second writes the content.
    void memo_element(const std::string& name) {
        bool empty = true, cdata = false, ended = false;
        each_piece([&](std::string_view piece) {
            if (ended) return;
            piece = up_to_nul(piece, ended);
            if (!piece.empty()) empty = false;
            if (xml_uses_cdata(piece, true)) cdata = true;
        });
        out_ += '<';
        out_ += name;
        if (empty) {
            out_ += "/>";
            return;
        }
        out_ += '>';
        XmlContentWriter content(out_, cdata, utf8() != nullptr);
        content.begin();
        ended = false;
        each_piece([&](std::string_view piece) { if (!ended) content.add(up_to_nul(piece, ended)); }, true);
        content.end();
        out_ += "</";
        out_ += name;
        out_ += '>';
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_xml_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<XmlWriter>(session, std::move(fields), kViewedValues);
}

} // namespace rorarodi
