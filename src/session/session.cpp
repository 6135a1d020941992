#include "session/session.h"

namespace rorarodi {

void share_run_settings(const Session& session, DbfTable& table) {
    table.options.code_pages = session.code_pages;
    table.options.expression_quotes = session.settings.expression_quotes;
    table.options.utf8_field_names = session.settings.utf8;
}

void set_utf8(Session& session) {
    session.settings.utf8 = true;
    if (session.current_table) share_run_settings(session, *session.current_table);
    if (session.comparison_table) share_run_settings(session, *session.comparison_table);
}

void set_expression_quotes(Session& session, char first, char second) {
    session.settings.expression_quotes = {first, second};
    if (session.current_table) share_run_settings(session, *session.current_table);
    if (session.comparison_table) share_run_settings(session, *session.comparison_table);
}

} // namespace rorarodi
