// Record export (/SELECT) to the console and to files.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rorarodi {

struct Session;
class RecordWriter;

// /SELECT and "s:": writes the listed fields ("*" or "!" for all) of the records in
// range in the output format of /OUT, appending to its file.
void export_records(Session& session, const std::string& argument);

// An output format: the extensions of the file names it takes, its writer, and
// whether it may go to standard output ("-.ext").
struct OutputFormat {
    std::vector<const char*> extensions;  // none for the console (no output file)
    std::unique_ptr<RecordWriter> (*make_writer)(Session& session, std::vector<int> fields);
    bool streams = true;
};

// The format of an output file name (by its extension, letter case ignored), or
// the console's without a name; nothing for a name no format takes.
const OutputFormat* output_format_for(const std::optional<std::string>& name);

} // namespace rorarodi
