#include "driver/precheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

#include "commands/restructure.h"
#include "driver/dispatch.h"
#include "driver/parameter_effects.h"
#include "expr/field_list.h"
#include "expr/filter.h"
#include "expr/substitute.h"
#include "platform/text.h"
#include "report/export.h"
#include "session/console.h"
#include "session/messages.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// A failed check: prints its message when the run is stopped.
using Complaint = std::function<void(Session&)>;

// The state of the checks as they walk the run's parameters.
struct RunCheck {
    Session& session;
    DbfTable& table;
    std::vector<std::string> created;         // names a /MODIFY of the run creates
    std::optional<std::string> assignments;   // the /FIELD text in force
    bool utf8 = false;
    bool changes = false;
    std::vector<Complaint> complaints;

    void complain(FailureLine message) {
        complaints.push_back([message](Session& s) { report_failure(s, message); });
    }
    void complain(FailureFormat message, std::string name) {
        complaints.push_back([message, name](Session& s) { report_failure(s, message, name); });
    }
};

bool is_created(const RunCheck& check, std::string_view name) {
    return std::any_of(check.created.begin(), check.created.end(), [&](const std::string& created) {
        return equals_ignoring_case(created.c_str(), std::string(name).c_str());
    });
}

// A name of a field (ignoring case), typed in UTF-8 under /UTF8.
bool is_field_name(const RunCheck& check, const std::string& name) {
    const std::string in_page = check.utf8 ? text_utf8_page(check.table).from_utf8(name) : name;
    return find_field(check.table, in_page) >= 0 || is_created(check, name);
}

// A text holds a name that a /MODIFY of the run creates, as a word of its own.
bool mentions_created(const RunCheck& check, std::string_view text) {
    std::string word;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
            word += c;
            continue;
        }
        if (!word.empty() && is_created(check, word)) return true;
        word.clear();
    }
    return false;
}

void check_field_list(RunCheck& check, const std::string& argument, FailureLine required, bool star_for_all) {
    if (argument.empty()) return check.complain(required);
    if (star_for_all && (argument[0] == '*' || argument[0] == '!')) return;
    TokenReader tokens(argument);
    while (std::optional<std::string> name = tokens.next(kFieldListDelimiters))
        if (!is_field_name(check, *name)) return check.complain(kInvalidFields);
}

std::string utf8_in_page(const DbfTable& table, std::string_view utf8) { return condition_from_utf8(table, utf8); }

void check_filter(RunCheck& check, const std::string& argument) {
    const size_t operator_position = std::strcspn(argument.c_str(), "<{>}=~^");
    if (argument.empty() || operator_position + 1 >= argument.size()) return check.complain(kInvalidFilter);
    std::string condition = argument;
    for (char& c : condition) {
        if (c == '}') c = '>';
        else if (c == '{') c = '<';
        else if (c == ';') c = '|';
    }
    for (const ConditionSpan& span :
         conditions_naming_no_field(check.table, condition, check.utf8 ? utf8_in_page : nullptr)) {
        const std::string piece = argument.substr(span.offset, span.length);
        if (mentions_created(check, piece)) continue;
        const std::string table_name = check.table.table_file_name;
        check.complaints.push_back(
            [piece, table_name](Session& s) { report_condition_without_field(s, piece, table_name); });
    }
}

// The assignments that /UPDATE or /APPEND would apply: each must name a field.
void check_assignments(RunCheck& check, bool required) {
    if (!check.assignments) {
        if (required) check.complain(kFieldsMustBeSpecified);
        return;
    }
    const std::string& text = *check.assignments;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = std::min(text.find(';', start), text.size());
        const std::string piece = text.substr(start, end - start);
        const size_t equals = piece.find('=');
        if (equals != std::string::npos && !is_field_name(check, piece.substr(0, equals)))
            check.complain(kInvalidField, piece.substr(0, equals));
        start = end + 1;
    }
}

// A whole number of records the header can hold.
bool is_record_count(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    const size_t last = text.find_last_not_of(' ');
    size_t at = first + (text[first] == '+' ? 1 : 0);
    if (at > last) return false;
    uint64_t value = 0;
    for (; at <= last; ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
        if (value > UINT32_MAX) return false;
    }
    return true;
}

void check_parameter(RunCheck& check, const std::string& text) {
    std::string keyword, argument;
    if (!split_parameter(text, keyword, argument)) {
        if (!text.empty() && text[0] == '+') {
            check.changes = true;
            return;
        }
        return check.complain(kUnknownFunction, text);
    }
    // A changing parameter without the argument it needs, or with one it rejects,
    // changes nothing.
    const bool needs_argument = keyword == "delete:" || keyword == "recall:" || keyword == "sort:" ||
                                keyword == "modify:" || keyword == "trunc:" ||
                                keyword == "encode:" || keyword == "decode:";
    const size_t complaints_before = check.complaints.size();
    const bool changing = keyword_changes_table(keyword) && !(needs_argument && argument.empty());
    if (is_dry_run_keyword(keyword)) check.session.settings.dry_run = true;
    if (keyword == "utf8") {
        check.utf8 = true;
    } else if (keyword == "filter:" || keyword == "f:") {
        check_filter(check, argument);
    } else if (keyword == "field:" || keyword == "l:") {
        if (argument.find('=') == std::string::npos) check.complain(kInvalidCondition);
        else check.assignments = argument;
    } else if (keyword == "update") {
        check_assignments(check, true);
    } else if (keyword == "append") {
        check_assignments(check, false);
    } else if (keyword == "select:" || keyword == "s:") {
        check_field_list(check, argument, kFieldsRequiredForSelect, true);
    } else if (keyword == "sum" || keyword == "avg") {
        check_field_list(check, argument, kFieldsRequiredForSelect, true);
    } else if (keyword == "order:" || keyword == "o:") {
        check_field_list(check, argument, kFieldsRequiredForOrder, false);
    } else if (keyword == "sort:") {
        check_field_list(check, argument, kFieldsRequiredForSort, false);
    } else if (keyword == "trunc:") {
        if (argument.empty()) check.complain(kParameterRequiredForTrunc);
        else if (!is_record_count(argument)) check.complain(kInvalidTruncParameter);
    } else if (keyword == "pack") {
        if (!argument.empty() && !equals_ignoring_case(argument.c_str(), ":dbf") &&
            !equals_ignoring_case(argument.c_str(), ":memo"))
            check.complain(kInvalidPackParameter);
    } else if (keyword == "out") {
        if (!argument.empty() && argument[0] == ':' && !output_format_for(argument.substr(1)))
            check.complain(kInvalidOutputFormat);
    } else if (keyword == "modify:") {
        const std::vector<std::string> names = structure_file_names(argument);
        check.created.insert(check.created.end(), names.begin(), names.end());
    }
    const bool own_argument_rejected =
        (keyword == "trunc:" || keyword == "pack") && check.complaints.size() > complaints_before;
    if (changing && !own_argument_rejected) check.changes = true;
}

} // namespace

bool check_run_before_changes(Session& session, const std::vector<std::string>& texts) {
    if (!session.current_table) return true;
    RunCheck check{session, session.table(), {}, session.field_assignments, session.settings.utf8, false, {}};
    for (const std::string& text : texts) check_parameter(check, text);
    if (!check.changes || check.complaints.empty()) return true;
    for (const Complaint& complaint : check.complaints) complaint(session);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: nothing was changed\n", session.table().table_file_name.c_str());
    mark_failed(session);
    return false;
}

} // namespace rorarodi
