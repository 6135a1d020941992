#include "report/output_settings.h"

#include <cstdio>

#include "expr/calculator.h"
#include "platform/text.h"
#include "platform/console.h"
#include "report/export.h"
#include "report/record_writer.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"

namespace rorarodi {

void handle_out(Session& session, const std::string& argument) {
    trace_enter(session, "Out");
    RunSettings& settings = session.settings;
    if (argument.empty() || argument[0] != ':') {
        settings.output_file_name.reset();
        set_data_on_standard_output(false);
        trace_leave(session, "Out");
        return;
    }
    std::string name = argument.substr(1);
    if (!output_format_for(name)) {
        report_failure(session, kInvalidOutputFormat);
        return;
    }
    settings.output_file_name = name;
    // Data on standard output sends the messages to standard error meanwhile.
    set_data_on_standard_output(names_standard_output(name));
    trace_leave(session, "Out");
}

void handle_quotes(Session& session, const std::string& argument) {
    trace_enter(session, "SetQuotes");
    if (equals_ignoring_case(argument.c_str(), "single"))
        session.settings.output_quote = '\'';
    else if (equals_ignoring_case(argument.c_str(), "double"))
        session.settings.output_quote = '"';
    trace_leave(session, "SetQuotes");
}

void handle_crlf(Session& session, const std::string& argument) {
    trace_enter(session, "Crlf");
    if (argument.empty() || equals_ignoring_case(argument.c_str(), "keep"))
        session.settings.line_break_mode = LineBreakMode::keep;
    else if (equals_ignoring_case(argument.c_str(), "kill"))
        session.settings.line_break_mode = LineBreakMode::kill;
    trace_leave(session, "Crlf");
}

void handle_calc(Session& session, const std::string& argument) {
    trace_enter(session, "Calc");
    std::string text = argument;
    bool ok = true;
    double value = calculate(text, ok);
    if (ok)
        std::printf("%f\n", value);
    else
        report_failure(session, kCalculationError);
    trace_leave(session, "Calc");
}

void handle_sql2000(Session& session, const std::string&) {
    session.settings.sql2000 = true;
    session.settings.output_quote = '\'';
}
void handle_escape(Session& session, const std::string& argument) { session.settings.escape_character = argument.empty() ? 0 : argument[0]; }
void handle_2ansi(Session& session, const std::string&) { session.settings.output_conversion = OutputConversion::oem_to_ansi; }
void handle_2oem(Session& session, const std::string&) { session.settings.output_conversion = OutputConversion::ansi_to_oem; }
void handle_utf8(Session& session, const std::string&) { set_utf8(session); }
void handle_name(Session& session, const std::string& argument) { session.settings.show_names = parse_flag_form(argument); }
void handle_memo(Session& session, const std::string& argument) { session.settings.memo_as_text = equals_ignoring_case(argument.c_str(), "text"); }
void handle_del(Session& session, const std::string& argument) { session.settings.show_deletion_marks = parse_flag_form(argument); }
void handle_hdr(Session& session, const std::string& argument) { session.settings.header_line = parse_flag_form(argument); }
void handle_replace(Session& session, const std::string& argument) {
    session.settings.replace_outputs = parse_flag_form(argument);
}

} // namespace rorarodi
