#include "report/escape.h"

namespace rorarodi {

std::string xml_element(const std::string& name, const std::string&, bool) { return "<" + name + "/>"; }
std::string xml_number_element(const std::string& name, double) { return "<" + name + "/>"; }
std::string html_text(const std::string& text) { return text; }

} // namespace rorarodi
