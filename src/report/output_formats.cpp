#include "report/output_formats.h"

#include <algorithm>

#include "platform/text.h"
#include "report/record_writer.h"

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

} // namespace rorarodi
