#include "report/export.h"

#include <algorithm>
#include <cstdio>

#include "expr/field_list.h"
#include "platform/text.h"
#include "report/record_writer.h"
#include "session/console.h"
#include "session/session.h"
#include "table/view_reader.h"

namespace rorarodi {

// Each writer's file defines its factory.
std::unique_ptr<RecordWriter> make_text_writer(ExportRun& run);
std::unique_ptr<RecordWriter> make_csv_writer(ExportRun& run);
std::unique_ptr<RecordWriter> make_html_writer(ExportRun& run);
std::unique_ptr<RecordWriter> make_program_writer(ExportRun& run);
std::unique_ptr<RecordWriter> make_xml_writer(ExportRun& run);
std::unique_ptr<RecordWriter> make_table_writer(ExportRun& run);
std::unique_ptr<RecordWriter> make_sql_writer(ExportRun& run);

namespace {

const OutputFormat kFormats[] = {
    {{}, make_text_writer},  // the console
    {{".csv"}, make_csv_writer},
    {{".htm", ".html"}, make_html_writer},
    {{".prg", ".fox"}, make_program_writer},
    {{".xml"}, make_xml_writer},
    {{".dbf"}, make_table_writer},
    {{".sql"}, make_sql_writer},
    {{".txt"}, make_text_writer},
};

constexpr const char* kTraceName = "Select";
// A field list stops once it holds this many entries.
constexpr size_t kMostSelectedFields = 65534;

// Writes the records of the range or view through the writer; false when some of
// the output could not be written.
bool write_records(ExportRun& run, RecordWriter& writer) {
    DbfTable& table = run.table;
    writer.header_line();
    ViewReader reader(table, view_record_count(table));
    visit_range_positions(run.session, table, [&](uint32_t position) {
        reader.read(position);
        writer.begin_record(table.record_buffer[0], position);
        for (size_t i = 0; i < run.fields.size(); ++i) {
            run.load_value(run.fields[i]);
            writer.field(i, run.fields[i], i + 1 == run.fields.size());
        }
        writer.end_record();
        run.maybe_flush();
    });
    reader.finish();
    const bool closed = writer.close();
    return run.finish_text_output() && closed;
}

} // namespace

const OutputFormat* output_format_for(const std::optional<std::string>& name) {
    for (const OutputFormat& format : kFormats) {
        const bool taken = name ? std::any_of(format.extensions.begin(), format.extensions.end(),
                                              [&](const char* e) { return ends_with_ignoring_case(*name, e); })
                                : format.extensions.empty();
        if (taken) return &format;
    }
    return nullptr;
}

void export_records(Session& session, const std::string& argument) {
    trace_enter(session, kTraceName);
    if (argument.empty()) {
        print_line("Field[s] required for select...");
        trace_leave(session, kTraceName);
        return;
    }
    DbfTable& table = session.table();
    std::vector<int> fields;
    if (argument[0] == '*' || argument[0] == '!') {
        for (size_t i = 0; i < table.field_count(); ++i) fields.push_back(static_cast<int>(i));
    } else if (!parse_field_list(table, argument, fields, kMostSelectedFields)) {
        print_line("Invalid field[s]...");
        return;
    }

    ExportRun run(session, std::move(fields));
    // /OUT took the name only when a format takes it.
    std::unique_ptr<RecordWriter> writer = output_format_for(session.settings.output_file_name)->make_writer(run);
    if (!writer->open()) {
        std::printf("Can't open %s\n", run.output_name.c_str());
        return;
    }
    const bool written = write_records(run, *writer);
    writer.reset();
    if (!written) std::printf("Can't write %s\n", run.output_name.c_str());
    trace_leave(session, kTraceName);
}

} // namespace rorarodi
