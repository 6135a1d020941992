// Escaping of texts for XML elements and HTML cells.
#pragma once
#include <string>

namespace rorarodi {

// "<name>content</name>" with the text escaped (CDATA when allowed and needed), or
// "<name/>" for an empty text.
std::string xml_element(const std::string& name, const std::string& text, bool allow_cdata);
// "<name>value</name>" as an integer or with six decimals; "<name/>" for 0.
std::string xml_number_element(const std::string& name, double value);
// HTML form of a text: entities, line breaks and mail, web and FTP links.
std::string html_text(const std::string& text);

} // namespace rorarodi
