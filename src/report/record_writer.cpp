#include "report/record_writer.h"

#include <cstring>
#include <sys/stat.h>

#include "table/field_text.h"

namespace rorarodi {

RecordWriter::RecordWriter(Session& session, std::vector<int> fields, ValueRules rules)
    : session(session),
      table(session.table()),
      settings(session.settings),
      fields(std::move(fields)),
      output_name(settings.output_file_name.value_or(std::string())),
      fields_layout(table.options.field_layout == FieldLayout::fields),
      rules_(rules),
      utf8_(settings.utf8 ? &text_utf8_page(table) : nullptr) {
    if (utf8_)
        for (const FieldDescriptor& f : table.field_table) names_.push_back(utf8_->to_utf8(f.name));
}

bool RecordWriter::open_text_output() {
    out_.reserve(2 * kOutputBlock);
    if (output_name.empty()) {
        stream_ = stdout;
        return true;
    }
    if (!is_table_own_file(output_name, table)) file_.reset(std::fopen(output_name.c_str(), "ab"));
    if (!file_) return false;
    stream_ = file_.get();
    struct stat status {};
    output_was_empty_ = ::fstat(fileno(stream_), &status) == 0 && status.st_size == 0;
    return true;
}

void RecordWriter::flush() {
    if (stream_ && !out_.empty() && std::fwrite(out_.data(), 1, out_.size(), stream_) != out_.size())
        write_failed_ = true;
    out_.clear();
}

bool RecordWriter::finish_text_output() {
    flush();
    // Only an output file is checked: the console has no name to report.
    const bool failed = file_ && (write_failed_ || std::fflush(stream_) != 0);
    file_.reset();
    stream_ = nullptr;
    return !failed;
}

void RecordWriter::append_padded_name(int field, size_t width) {
    const size_t characters = table.field(field).name.size();
    out_ += name_of(field);
    if (characters < width) out_.append(width - characters, ' ');
}

// Returns the text to write: the piece itself, converted in place by /2ANSI, /2OEM
// or for the console, or its UTF-8 form under /UTF8.
std::span<char> RecordWriter::convert(std::span<char> piece, bool memo_text) {
    if (memo_text && settings.line_break_mode == LineBreakMode::kill)
        for (char& c : piece)
            if (c == '\r' || c == '\n') c = ' ';
    if (utf8_ && rules_.stored_bytes) return piece;
    if (utf8_) {
        converted_.clear();
        utf8_->append_utf8(converted_, std::string_view(piece.data(), piece.size()));
        return std::span<char>(converted_.data(), converted_.size());
    }
    auto* bytes = reinterpret_cast<unsigned char*>(piece.data());
    switch (settings.output_conversion) {
    case OutputConversion::oem_to_ansi: from_oem(table, bytes, piece.size()); break;
    case OutputConversion::ansi_to_oem: to_oem(table, bytes, piece.size()); break;
    case OutputConversion::none:
        if (table.options.ansi && output_name.empty()) to_oem(table, bytes, piece.size());
        break;
    }
    return piece;
}

void RecordWriter::load_value(int field) {
    if (rules_.typed_values) return;
    from_memo_ = present_ = false;
    first_ = {};
    if ((settings.memo_as_text || rules_.memo_contents) && field_is_memo(table, field)) {
        from_memo_ = true;
        if (!memos_) memos_ = std::make_unique<MemoReader>(table);
        if (memos_->start(field)) {
            first_ = memos_->next();
            present_ = !first_.empty();
            first_ = convert(first_, true);
        }
        return;
    }
    // The text form lives in the table's text buffer, which is this export's to change.
    char* text = const_cast<char*>(field_text(table, field));
    first_ = convert(std::span<char>(text, std::strlen(text)), false);
}

bool is_table_own_file(const std::string& name, const DbfTable& table) {
    return names_open_file(name, table.table_handle) || names_same_file(name, memo_file_path(table));
}

} // namespace rorarodi
