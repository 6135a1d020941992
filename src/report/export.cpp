#include "report/export.h"

#include <algorithm>
#include <cstdio>

#include "expr/field_list.h"
#include "platform/text.h"
#include "report/record_writer.h"
#include "report/writers.h"
#include "session/console.h"
#include "session/messages.h"
#include "session/session.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

const OutputFormat kFormats[] = {
    {{}, make_text_writer},  // the console
    {{".csv"}, make_csv_writer},
    {{".htm", ".html"}, make_html_writer},
    {{".prg", ".fox"}, make_program_writer},
    {{".xml"}, make_xml_writer},
    {{".dbf"}, make_table_writer, false},
    {{".sql"}, make_sql_text_writer},  // the plain form, or that of /SQL:postgres or /SQL:sqlite
    {{".txt"}, make_text_writer},
    {{".sqlite", ".sqlite3", ".db"}, make_sqlite_writer, false},
    {{".jsonl"}, make_json_lines_writer},
    {{".json"}, make_json_array_writer},
};

constexpr const char* kTraceName = "Select";
// A field list stops once it holds this many entries.
constexpr size_t kMostSelectedFields = 65534;

// Writes the records of the range or view through the writer; false when some of
// the output could not be written.
bool write_records(RecordWriter& writer) {
    DbfTable& table = writer.table;
    const std::vector<int>& fields = writer.fields;
    writer.header_line();
    ViewReader reader(table, view_record_count(table));
    visit_range_positions(writer.session, table, [&](uint32_t position) {
        (void)reader.read(position);  // an unreadable record is written as the buffer holds it
        if (writer.live_records_only() && table.record_buffer[0] == kDeletedMark) return;
        if (!writer.write_record()) {
            writer.begin_record(table.record_buffer[0], position);
            for (size_t i = 0; i < fields.size(); ++i) {
                writer.load_value(fields[i]);
                writer.field(i, fields[i], i + 1 == fields.size());
            }
            writer.end_record();
        }
        writer.maybe_flush();
    }, writer.output_name.empty() ? ProgressOutput::prints_to_stdout : ProgressOutput::quiet);
    reader.finish();
    const bool closed = writer.close();
    return writer.finish_text_output(closed) && closed;
}

} // namespace

const OutputFormat* output_format_for(const std::optional<std::string>& name) {
    for (const OutputFormat& format : kFormats) {
        const bool taken = name ? std::any_of(format.extensions.begin(), format.extensions.end(),
                                              [&](const char* e) { return ends_with_ignoring_case(*name, e); })
                                : format.extensions.empty();
        // Standard output takes the formats written as a stream only.
        if (taken && name && names_standard_output(*name) && !format.streams) return nullptr;
        if (taken) return &format;
    }
    return nullptr;
}

void export_records(Session& session, const std::string& argument) {
    trace_enter(session, kTraceName);
    if (argument.empty()) {
        report_failure(session, kFieldsRequiredForSelect);
        trace_leave(session, kTraceName);
        return;
    }
    DbfTable& table = session.table();
    std::vector<int> fields;
    if (argument[0] == '*' || argument[0] == '!') {
        for (size_t i = 0; i < table.field_count(); ++i) fields.push_back(static_cast<int>(i));
    } else if (!parse_field_list(table, argument, fields, kMostSelectedFields)) {
        report_failure(session, kInvalidFields);
        return;
    }

    // /OUT took the name only when a format takes it.
    const std::optional<std::string>& name = session.settings.output_file_name;
    std::unique_ptr<RecordWriter> writer = output_format_for(name)->make_writer(session, std::move(fields));
    if (!writer->open()) {
        if (!writer->refused()) report_failure(session, kCantOpenOutput, name.value_or(""));
        return;
    }
    const bool written = write_records(*writer);
    writer.reset();
    if (!written) report_failure(session, kCantWriteOutput, name.value_or(""));
    trace_leave(session, kTraceName);
}

} // namespace rorarodi
