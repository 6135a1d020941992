#include "report/count.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "expr/field_list.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/field_text.h"
#include "table/text_convert.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

// A field list stops once it holds this many entries.
constexpr size_t kMostListedFields = 65534;

int column_width(const DbfTable& table, int field) { return static_cast<int>(field_display_width(table, field)); }

// Decimals of a column: a character field's decimal byte is part of its width.
int decimal_count(const DbfTable& table, int field) {
    const FieldDescriptor& f = table.field(field);
    return f.type == 'C' ? 0 : f.decimals;
}

} // namespace

void handle_count(Session& session, const std::string&) {
    trace_enter(session, "Count");
    DbfTable& table = session.table();
    const uint32_t count = view_record_count(table);
    if (session.settings.show_names)
        std::printf("%8u|%s\n", count, table.table_file_name.c_str());
    else
        std::printf("%u\n", count);
    trace_leave(session, "Count");
}

void sum_fields(Session& session, const std::string& argument, SumMode mode) {
    const char* trace_name = mode == SumMode::sum ? "Sum" : "Avg";
    trace_enter(session, trace_name);
    if (argument.empty()) {
        report_failure(session, kFieldsRequiredForSelect);
        return;
    }
    DbfTable& table = session.table();
    std::vector<int> fields;
    if (argument[0] == '*') {
        for (size_t i = 0; i < table.field_count(); ++i) fields.push_back(static_cast<int>(i));
    } else if (!parse_field_list(table, argument, fields, kMostListedFields)) {
        report_failure(session, kInvalidFields);
        return;
    }

    std::vector<double> totals(fields.size(), 0.0);
    uint64_t counted = 0;
    ViewReader reader(table, view_record_count(table));
    visit_range_positions(session, table, [&](uint32_t position) {
        (void)reader.read(position);  // an unreadable record counts as the buffer holds it
        for (size_t i = 0; i < fields.size(); ++i) totals[i] += field_number(table, fields[i]);
        ++counted;
    });
    reader.finish();

    const bool header = session.settings.header_line;
    const Utf8Page* utf8 = session.settings.utf8 ? &text_utf8_page(table) : nullptr;
    auto name_column = [&](int field, int width) {
        return listed_text(utf8, table.field(field).name, static_cast<size_t>(std::max(width, 0)));
    };
    auto shown = [&](size_t i) {
        if (mode == SumMode::sum) return totals[i];
        return counted == 0 ? 0.0 : totals[i] / static_cast<double>(counted);
    };
    if (table.options.field_layout == FieldLayout::fields) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (header) std::printf("%s|", name_column(fields[i], 10).c_str());
            std::printf("%*.*f\n", column_width(table, fields[i]), decimal_count(table, fields[i]), shown(i));
        }
    } else {
        if (header) {
            for (int field : fields)
                std::printf("%s|", name_column(field, column_width(table, field)).c_str());
            std::printf("\n");
        }
        for (size_t i = 0; i < fields.size(); ++i)
            std::printf("%*.*f|", column_width(table, fields[i]), decimal_count(table, fields[i]), shown(i));
        std::printf("\n");
    }
    trace_leave(session, trace_name);
}

void handle_sum(Session& session, const std::string& argument) { sum_fields(session, argument, SumMode::sum); }
void handle_avg(Session& session, const std::string& argument) { sum_fields(session, argument, SumMode::average); }

} // namespace rorarodi
