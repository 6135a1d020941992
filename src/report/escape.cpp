#include "report/escape.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace rorarodi {

namespace {

// Character references for control bytes (hexadecimal) and bytes above 127
// (four decimal digits); false for every other byte. A UTF-8 text keeps its bytes
// above 127, and its control characters that XML cannot hold in any form (all
// but tab, line feed and carriage return) become U+FFFD.
bool append_character_reference(std::string& out, unsigned char byte, bool utf8) {
    char reference[16];
    int length = 0;
    if (byte >= 1 && byte <= 31) {
        if (utf8 && byte != '\t' && byte != '\n' && byte != '\r') {
            out += "\xEF\xBF\xBD";
            return true;
        }
        length = std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(byte));
    } else if (byte >= 128 && !utf8) {
        length = std::snprintf(reference, sizeof reference, "&#%04u;", static_cast<unsigned>(byte));
    } else {
        return false;
    }
    out.append(reference, static_cast<size_t>(length));
    return true;
}

// One token of the link pass, followed by its single space.
void append_linked_token(std::string& out, std::string_view token) {
    size_t at = token.find('@');
    if (at != std::string_view::npos && token.find('.', at + 1) != std::string_view::npos) {
        // An address in angle brackets arrives as "&lt;name@host&gt;": the link
        // target is the bare address, the visible text keeps the entities.
        std::string_view address = token;
        if (token.find("&lt;") != std::string_view::npos) address.remove_prefix(std::min<size_t>(4, address.size()));
        size_t close = address.find("&gt;");
        if (close != std::string_view::npos) address = address.substr(0, close);
        out += "<a href=\"mailto:";
        out += address;
        out += "\">";
        out += token;
        out += "</a> ";
        return;
    }
    const char* scheme = nullptr;
    if (token.starts_with("http://") || token.starts_with("ftp://"))
        scheme = "";
    else if (token.size() > 4 && (token.starts_with("www.") || token.starts_with("ftp.")) &&
             token.find('.', 4) != std::string_view::npos)
        scheme = token[0] == 'w' ? "http://" : "ftp://";
    if (scheme) {
        out += "<a href=\"";
        out += scheme;
        out += token;
        out += "\">";
        out += token;
        out += "</a> ";
        return;
    }
    out += token;
    out += ' ';
}

} // namespace

XmlContentWriter::XmlContentWriter(std::string& out, bool cdata, bool utf8) : out_(out), cdata_(cdata), utf8_(utf8) {}

void XmlContentWriter::begin() {
    if (cdata_) out_ += "<![CDATA[";
    brackets_ = 0;
}

void XmlContentWriter::add(std::string_view piece) {
    for (char c : piece) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (append_character_reference(out_, byte, utf8_)) {
            brackets_ = 0;
            continue;
        }
        if (!cdata_) {
            if (byte == '&') out_ += "&amp;";
            else if (byte == '<') out_ += "&lt;";
            else if (byte == '>') out_ += "&gt;";
            else out_ += c;
            continue;
        }
        // "]]>" would close the section: close it after "]]" and open a new one for '>'.
        if (c == '>' && brackets_ >= 2) out_ += "]]><![CDATA[";
        brackets_ = c == ']' ? brackets_ + 1 : 0;
        out_ += c;
    }
}

void XmlContentWriter::end() {
    if (cdata_) out_ += "]]>";
}

bool xml_uses_cdata(std::string_view text, bool allow_cdata) {
    return allow_cdata && text.find_first_of("<>&") != std::string_view::npos;
}

void append_xml_element(std::string& out, std::string_view name, std::string_view text, bool allow_cdata, bool utf8) {
    if (text.empty()) {
        out += '<';
        out += name;
        out += "/>";
        return;
    }
    out += '<';
    out += name;
    out += '>';
    XmlContentWriter content(out, xml_uses_cdata(text, allow_cdata), utf8);
    content.begin();
    content.add(text);
    content.end();
    out += "</";
    out += name;
    out += '>';
}

void append_xml_number_element(std::string& out, std::string_view name, double value) {
    out += '<';
    out += name;
    if (value == 0) {
        out += "/>";
        return;
    }
    out += '>';
    // The range check comes first: converting a value outside int32 is undefined.
    char digits[32];
    int length = 0;
    if (value >= static_cast<double>(INT32_MIN) && value <= static_cast<double>(INT32_MAX) &&
        static_cast<double>(static_cast<int32_t>(value)) == value) {
        length = std::snprintf(digits, sizeof digits, "%d", static_cast<int32_t>(value));
        out.append(digits, static_cast<size_t>(length));
    } else {
        // "%f" of a large double runs to hundreds of digits.
        length = std::snprintf(nullptr, 0, "%f", value);
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(length) + 1);
        std::snprintf(out.data() + at, static_cast<size_t>(length) + 1, "%f", value);
        out.resize(at + static_cast<size_t>(length));
    }
    out += "</";
    out += name;
    out += '>';
}

// Pass one turns each byte into its entity text; pass two splits that into tokens
// at spaces and tabs. Both run together, character by character.
void HtmlTextWriter::feed(std::string_view piece) {
    if (ended_) return;
    size_t nul = piece.find('\0');
    if (nul != std::string_view::npos) {
        piece = piece.substr(0, nul);
        ended_ = true;
    }
    for (char c : piece) {
        switch (c) {
        case '\n': put(' '); put('<'); put('b'); put('r'); put('>'); put('\n'); put(' '); break;
        case '<': put(' '); for (char e : std::string_view("&lt;")) put(e); break;
        case '>': for (char e : std::string_view("&gt; ")) put(e); break;
        case '&': for (char e : std::string_view("&amp;")) put(e); break;
        case '"': for (char e : std::string_view("&quot;")) put(e); break;
        case '\r': break;
        default: put(c); break;
        }
    }
}

void HtmlTextWriter::put(char c) {
    if (c == ' ' || c == '\t')
        end_token();
    else
        token_ += c;
}

void HtmlTextWriter::end_token() {
    if (token_.empty()) return;
    append_linked_token(out_, token_);
    token_.clear();
}

void HtmlTextWriter::finish() { end_token(); }

} // namespace rorarodi
