// Escaping of texts for XML elements and HTML cells.
#pragma once
#include <string>

namespace rorarodi {

// Texts are byte strings that end at their first NUL byte.

// "<name>content</name>" with the text escaped (CDATA when allowed and the text holds
// '<', '>' or '&'), or "<name/>" for an empty text. Control bytes and bytes above 127
// become character references in either case.
std::string xml_element(const std::string& name, const std::string& text, bool allow_cdata);
// "<name>value</name>" as an integer when the value is a whole int32, otherwise with
// six decimals; "<name/>" for 0 and -0.
std::string xml_number_element(const std::string& name, double value);
// HTML form of a text: entities, line breaks and mail, web and FTP links; every
// space- or tab-separated token is followed by one space.
std::string html_text(const std::string& text);

} // namespace rorarodi
