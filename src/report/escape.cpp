#include "report/escape.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace rorarodi {

namespace {

// The texts handled here are zero-terminated byte strings: whatever follows an
// embedded NUL is not part of the text.
std::string up_to_nul(const std::string& text) {
    size_t end = text.find('\0');
    return end == std::string::npos ? text : text.substr(0, end);
}

// printf-style formatting into a string of whatever length the result needs.
template <typename... Args>
std::string format_text(const char* format, Args... args) {
    int size = std::snprintf(nullptr, 0, format, args...);
    if (size <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::snprintf(buffer.data(), buffer.size(), format, args...);
    return std::string(buffer.data(), static_cast<size_t>(size));
}

// Character references for control bytes (hexadecimal) and bytes above 127
// (four decimal digits); false for every other byte.
bool append_character_reference(std::string& out, unsigned char byte) {
    char reference[16];
    if (byte >= 1 && byte <= 31) {
        std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(byte));
    } else if (byte >= 128) {
        std::snprintf(reference, sizeof reference, "&#%04u;", static_cast<unsigned>(byte));
    } else {
        return false;
    }
    out += reference;
    return true;
}

bool starts_with(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// One token of the link pass, followed by its single space.
void append_linked_token(std::string& out, const std::string& token) {
    size_t at = token.find('@');
    if (at != std::string::npos && token.find('.', at + 1) != std::string::npos) {
        // An address in angle brackets arrives as "&lt;name@host&gt;": the link
        // target is the bare address, the visible text keeps the entities.
        std::string address = token;
        if (token.find("&lt;") != std::string::npos) address = address.substr(address.size() >= 4 ? 4 : address.size());
        size_t close = address.find("&gt;");
        if (close != std::string::npos) address.erase(close);
        out += "<a href=\"mailto:" + address + "\">" + token + "</a> ";
        return;
    }
    if (starts_with(token, "http://") || starts_with(token, "ftp://")) {
        out += "<a href=\"" + token + "\">" + token + "</a> ";
        return;
    }
    if (token.size() > 4 && (starts_with(token, "www.") || starts_with(token, "ftp.")) &&
        token.find('.', 4) != std::string::npos) {
        const char* scheme = token[0] == 'w' ? "http://" : "ftp://";
        out += std::string("<a href=\"") + scheme + token + "\">" + token + "</a> ";
        return;
    }
    out += token;
    out += ' ';
}

} // namespace

std::string xml_element(const std::string& name, const std::string& raw_text, bool allow_cdata) {
    std::string text = up_to_nul(raw_text);
    if (text.empty()) return "<" + name + "/>";
    bool cdata = allow_cdata && text.find_first_of("<>&") != std::string::npos;
    std::string content;
    content.reserve(text.size() + 16);
    if (cdata) content += "<![CDATA[";
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (append_character_reference(content, byte)) continue;
        if (!cdata && byte == '&') content += "&amp;";
        else if (!cdata && byte == '<') content += "&lt;";
        else if (!cdata && byte == '>') content += "&gt;";
        else content += c;
    }
    if (cdata) content += "]]>";
    return "<" + name + ">" + content + "</" + name + ">";
}

std::string xml_number_element(const std::string& name, double value) {
    if (value == 0) return "<" + name + "/>";
    // The range check comes first: converting a value outside int32 is undefined.
    if (value >= static_cast<double>(INT32_MIN) && value <= static_cast<double>(INT32_MAX)) {
        int32_t whole = static_cast<int32_t>(value);
        if (static_cast<double>(whole) == value) return format_text("<%s>%d</%s>", name.c_str(), whole, name.c_str());
    }
    return format_text("<%s>%f</%s>", name.c_str(), value, name.c_str());
}

std::string html_text(const std::string& raw_text) {
    std::string text = up_to_nul(raw_text);
    std::string entities;
    entities.reserve(text.size() * 2);
    for (char c : text) {
        switch (c) {
        case '\n': entities += " <br>\n "; break;
        case '<': entities += " &lt;"; break;
        case '>': entities += "&gt; "; break;
        case '&': entities += "&amp;"; break;
        case '"': entities += "&quot;"; break;
        case '\r': break;
        default: entities += c; break;
        }
    }

    std::string out;
    size_t position = 0;
    while (position < entities.size()) {
        size_t start = entities.find_first_not_of(" \t", position);
        if (start == std::string::npos) break;
        size_t end = entities.find_first_of(" \t", start);
        if (end == std::string::npos) end = entities.size();
        append_linked_token(out, entities.substr(start, end - start));
        position = end;
    }
    return out;
}

} // namespace rorarodi
