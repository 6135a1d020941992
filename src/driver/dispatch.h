// The parameter dispatcher: keywords matched by prefix in a fixed order.
#pragma once
#include <string>
#include <vector>

namespace rorarodi {

struct Session;

// Dispatches one parameter (without its leading '/' or '-').
void dispatch_parameter(Session& session, const std::string& text);

constexpr int kVersionNumber = 296;

// "Version 1.40 compiled at <build date and time>" with a line end.
void print_version_line();

// The usage text of the program, made from the rows of the keyword table.
void print_usage();

// The keyword rows in dispatch order: keyword, the usage text's entry for it (empty
// when the usage text does not list it) and whether a parameter can reach it.
struct KeywordUsage {
    std::string keyword;
    std::string usage;
    bool dispatched;
};
std::vector<KeywordUsage> keyword_usages();
// The keyword of the row a parameter text (without its '/' or '-') reaches; empty
// when it reaches none.
std::string matched_keyword(const std::string& text);
// True when the keyword row `keyword` changes its table (records or header).
bool keyword_changes_table(const std::string& keyword);
// The keyword and the handler's argument of a parameter text; false when it
// reaches no row.
bool split_parameter(const std::string& text, std::string& keyword, std::string& argument);

} // namespace rorarodi
