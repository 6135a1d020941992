// Escaping of texts for XML elements and HTML cells.
#pragma once
#include <string>
#include <string_view>

namespace rorarodi {

// Appends "<name>value</name>", the value as an integer when it is a whole int32,
// otherwise with six decimals; "<name/>" for 0 and -0.
void append_xml_number_element(std::string& out, std::string_view name, double value);
// Appends "<name>content</name>" with the text escaped (CDATA when allowed and the
// text holds '<', '>' or '&'), or "<name/>" for an empty text. Control bytes and
// bytes above 127 become character references in either case. The text holds no
// NUL byte. A `utf8` text keeps its characters above 127 as they are (see
// XmlContentWriter).
void append_xml_element(std::string& out, std::string_view name, std::string_view text, bool allow_cdata,
                        bool utf8 = false);

// The content of one XML element, given in pieces without NUL bytes. Whether a
// CDATA section is used is decided beforehand (xml_uses_cdata on the whole text).
// Inside a CDATA section a "]]>" of the text is split over two sections, so that
// it cannot end the section early. For a UTF-8 text (`utf8`) bytes above 127 are
// copied, and control characters other than tab, line feed and carriage return,
// which no XML 1.0 document may hold, become U+FFFD.
class XmlContentWriter {
public:
    XmlContentWriter(std::string& out, bool cdata, bool utf8 = false);
    void begin();                       // "<![CDATA[" when CDATA is used
    void add(std::string_view piece);
    void end();                         // "]]>" when CDATA is used

private:
    std::string& out_;
    bool cdata_;
    bool utf8_;
    int brackets_ = 0;  // ']' just written inside the CDATA section
};

// True when an element holding the text uses CDATA (allowed and '<', '>' or '&' in it).
bool xml_uses_cdata(std::string_view text, bool allow_cdata);

// The HTML form of a text given in pieces (feed them in order, then finish):
// entities, line breaks and mail, web and FTP links; every space- or tab-separated
// token is followed by one space. The text ends at the first NUL byte fed.
class HtmlTextWriter {
public:
    explicit HtmlTextWriter(std::string& out) : out_(out) {}
    void feed(std::string_view piece);
    void finish();
    // Ready for another text (the token buffer is kept).
    void restart() {
        token_.clear();
        ended_ = false;
    }

private:
    void put(char c);
    void end_token();

    std::string& out_;
    std::string token_;
    bool ended_ = false;
};

} // namespace rorarodi
