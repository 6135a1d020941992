// XML: an Information element with a Record element per record, after an optional
// Structure element (/HDR).
#include "report/escape.h"
#include "report/record_writer.h"
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
        std::string& out = run_.text();
        out += "<?xml version=\"1.0\"?>\n<!-- Location: " + run_.table.table_file_name + " -->\n";
        if (run_.settings.header_line)
            out += "   <Structure>\n" + xml_field_entries(run_.table, run_.utf8()) + "   </Structure>\n";
        out += "   <Information>\n";
        return true;
    }

    void begin_record(uint8_t flag, uint32_t position) override {
        std::string& out = run_.text();
        out += "      <Record>\n         ";
        append_xml_number_element(out, "RecNo", static_cast<double>(position) + 1);
        out += '\n';
        if (run_.settings.show_deletion_marks) {
            out += "         ";
            const char flag_text[2] = {flag == ' ' ? '\0' : static_cast<char>(flag), '\0'};
            append_xml_element(out, "DeletedFlag", std::string_view(flag_text), false);
            out += '\n';
        }
    }

    void field(size_t, int field, bool) override {
        std::string& out = run_.text();
        const std::string& name = run_.name_of(field);
        out += "         ";
        if (field_is_numeric(run_.table, field))
            append_xml_number_element(out, name, field_number(run_.table, field));
        else if (!run_.from_memo())
            append_xml_element(out, name, run_.value(), true, run_.utf8() != nullptr);
        else
            memo_element(name);
        out += '\n';
    }

    void end_record() override { out() += "      </Record>\n"; }

    bool close() override {
        out() += "   </Information>\n\n";
        return true;
    }

private:
    // The memo text ends at its first NUL. A first pass decides between the empty
    // element and CDATA; the second writes the content.
    void memo_element(const std::string& name) {
        std::string& out = run_.text();
        bool empty = true, cdata = false, ended = false;
        run_.each_piece([&](std::string_view piece) {
            if (ended) return;
            piece = up_to_nul(piece, ended);
            if (!piece.empty()) empty = false;
            if (xml_uses_cdata(piece, true)) cdata = true;
        });
        out += '<';
        out += name;
        if (empty) {
            out += "/>";
            return;
        }
        out += '>';
        XmlContentWriter content(out, cdata, run_.utf8() != nullptr);
        content.begin();
        ended = false;
        run_.each_piece([&](std::string_view piece) { if (!ended) content.add(up_to_nul(piece, ended)); }, true);
        content.end();
        out += "</";
        out += name;
        out += '>';
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_xml_writer(ExportRun& run) { return std::make_unique<XmlWriter>(run); }

} // namespace rorarodi
