// The output formats of /OUT and /SELECT, chosen by the extension of the output
// file's name.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rorarodi {

class ExportRun;
class RecordWriter;

struct OutputFormat {
    std::vector<const char*> extensions;  // none for the console (no output file)
    std::unique_ptr<RecordWriter> (*make_writer)(ExportRun& run);
};

// The format of an output file name (its extension, letter case ignored), or the
// console's without a name; nothing for a name no format takes.
const OutputFormat* output_format_for(const std::optional<std::string>& name);

} // namespace rorarodi
