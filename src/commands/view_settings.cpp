#include "commands/view_settings.h"

#include <cstdio>
#include <cstring>

#include "expr/filter.h"
#include "expr/substitute.h"
#include "platform/text.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/field_text.h"

namespace rorarodi {

namespace {

std::string utf8_condition_in_page(const DbfTable& table, std::string_view utf8) {
    return condition_from_utf8(table, utf8);
}

} // namespace

void handle_filter(Session& session, const std::string& argument) {
    trace_enter(session, "Filter");
    size_t operator_position = std::strcspn(argument.c_str(), "<{>}=~^");
    if (argument.empty() || operator_position + 1 >= argument.size()) {
        report_failure(session, kInvalidFilter);
        return;
    }
    std::string condition = argument;
    for (char& c : condition) {
        if (c == '}') c = '>';
        else if (c == '{') c = '<';
        else if (c == ';') c = '|';
    }
    // Under /UTF8 the condition is typed in UTF-8: each table gets it in its own page.
    auto in_page_of = [&](const DbfTable& table) {
        return session.settings.utf8 ? condition_from_utf8(table, condition) : condition;
    };
    // A piece that names no field passes every record or none; the filter still
    // applies as written, and the mistake is said.
    for (const ConditionSpan& span : conditions_naming_no_field(session.table(), condition,
                                                                session.settings.utf8 ? utf8_condition_in_page : nullptr))
        report_condition_without_field(session, argument.substr(span.offset, span.length),
                                       session.table().table_file_name);
    apply_filter(session.table(), in_page_of(session.table()));
    if (session.comparison_table) apply_filter(*session.comparison_table, in_page_of(*session.comparison_table));
    trace_leave(session, "Filter");
}

void handle_type(Session& session, const std::string& argument) {
    if (argument.empty() || argument[0] != ':') {
        session.settings.new_table_kind.reset();
        return;
    }
    static constexpr struct {
        const char* name;
        TableKind kind;
    } kKinds[] = {{"db3", TableKind::dbase3},        {"db4", TableKind::dbase4}, {"fox", TableKind::foxpro},
                  {"vfp", TableKind::visual_foxpro}, {"db7", TableKind::level7}, {"smt", TableKind::smt}};
    std::string name = argument.substr(1);
    for (const auto& entry : kKinds) {
        if (equals_ignoring_case(name.c_str(), entry.name)) {
            session.settings.new_table_kind = entry.kind;
            return;
        }
    }
    report_failure(session, kInvalidMemoType);
}

void handle_trim(Session& session, const std::string& argument) {
    trace_enter(session, "Trim");
    DbfTable& table = session.table();
    if (argument.empty())
        table.options.trim_mode = TrimMode::none;
    else if (equals_ignoring_case(argument.c_str(), ":right"))
        table.options.trim_mode = TrimMode::right;
    else if (equals_ignoring_case(argument.c_str(), ":left"))
        table.options.trim_mode = TrimMode::left;
    else if (equals_ignoring_case(argument.c_str(), ":all"))
        table.options.trim_mode = TrimMode::both;
    trace_leave(session, "Trim");
}

void handle_date(Session& session, const std::string& argument) {
    trace_enter(session, "Date");
    DbfTable& table = session.table();
    if (equals_ignoring_case(argument.c_str(), "dmy"))
        table.options.date_mode = DateMode::day_month_year;
    else if (equals_ignoring_case(argument.c_str(), "mdy"))
        table.options.date_mode = DateMode::month_day_year;
    else if (equals_ignoring_case(argument.c_str(), "ymd"))
        table.options.date_mode = DateMode::year_month_day;
    else if (equals_ignoring_case(argument.c_str(), "asis"))
        table.options.date_mode = DateMode::as_stored;
    else if (argument.size() == 1)
        set_date_separator(table, argument[0]);
    else {
        report_failure(session, kUnknownDateFormat, argument);
        return;
    }
    trace_leave(session, "Date");
}

void handle_ignorequotes(Session& session, const std::string&) {
    set_expression_quotes(session, 0, 0);
}
void handle_browse(Session& session, const std::string&) { session.table().options.field_layout = FieldLayout::browse; }
void handle_fields(Session& session, const std::string&) { session.table().options.field_layout = FieldLayout::fields; }
void handle_desc(Session& session, const std::string&) { session.table().options.descending = true; }
void handle_asc(Session& session, const std::string&) { session.table().options.descending = false; }
void handle_ansi(Session& session, const std::string&) { session.table().options.ansi = true; }
void handle_oem(Session& session, const std::string&) { session.table().options.ansi = false; }
void handle_case(Session& session, const std::string& argument) { session.table().options.case_insensitive = parse_flag_form(argument); }
void handle_bak(Session& session, const std::string& argument) { session.table().options.backup_option = parse_flag_form(argument); }

} // namespace rorarodi
