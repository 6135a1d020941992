#include "report/record_writer.h"

#include <algorithm>
#include <cstring>

#include "platform/change.h"
#include "platform/console.h"
#include "platform/disk.h"
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
    if (utf8_ && !utf8_->double_byte()) single_byte_ = std::make_unique<ByteUtf8Table>(*utf8_);
    // Values read off the record as views, unless a conversion changes them in place.
    const bool converts_in_place = !utf8_ && (settings.output_conversion != OutputConversion::none ||
                                              (table.options.ansi && output_name.empty()));
    if (rules_.views && !rules_.typed_values && !converts_in_place)
        for (int field = 0; field < static_cast<int>(table.field_count()); ++field)
            plans_.push_back(stored_text_plan(table, field, table.options.date_mode));
}

bool RecordWriter::open_text_output() {
    out_.reserve(2 * kOutputBlock);
    if (output_name.empty()) {
        stream_ = stdout;
        return true;
    }
    if (names_standard_output(output_name)) {
        stream_ = data_output();
        output_was_empty_ = true;
        return stream_ != nullptr;
    }
    if (is_table_own_file(output_name, table)) return false;
    const bool first_of_run = session.outputs_of_run.files.insert(output_name).second;
    if (first_of_run && settings.replace_outputs && file_exists(output_name)) {
        // The new file takes the old one's place only when it is complete.
        replacement_ = temporary_name_for(output_name);
        file_ = create_new_file(replacement_);
        if (!file_) replacement_.clear();
        output_was_empty_ = true;
        return file_.is_open();
    }
    if (is_special_file(output_name)) {
        // A device or a pipe: written in sequence, nothing to put back.
        special_.reset(std::fopen(output_name.c_str(), "ab"));
        stream_ = special_.get();
        output_was_empty_ = true;
        return stream_ != nullptr;
    }
    file_ = open_file_write_access(output_name);
    if (!file_ && !file_exists(output_name)) {
        file_ = create_new_file(output_name);
        created_ = file_.is_open();
    }
    const long long size = file_ ? file_.size() : -1;
    if (size < 0) {
        file_.close();
        return false;
    }
    keep_length_ = position_ = static_cast<uint64_t>(size);
    output_was_empty_ = size == 0;
    return true;
}

// Output files are written straight through the disk layer: a failure is this
// export's to report and undo, and it leaves the parameter's change alone.
bool RecordWriter::cut_output(uint64_t at, std::string cut_bytes) {
    if (!file_ || !disk::truncate(file_.fd(), at)) return false;
    keep_length_ = position_ = at;
    cut_bytes_ = std::move(cut_bytes);
    return true;
}

void RecordWriter::flush() {
    if (out_.empty()) return;
    if (stream_) {
        if (std::fwrite(out_.data(), 1, out_.size(), stream_) != out_.size()) write_failed_ = true;
    } else if (file_ && !write_failed_) {
        write_failed_ = !disk::write_at(file_.fd(), out_.data(), out_.size(), position_);
        position_ += out_.size();
    }
    out_.clear();
}

bool RecordWriter::finish_text_output(bool keep) {
    flush();
    if (stream_) {
        // The console has no name to report; data on standard output is checked.
        const bool failed = stream_ != stdout && (write_failed_ || std::fflush(stream_) != 0);
        stream_ = nullptr;
        special_.reset();
        return !failed;
    }
    if (!file_) return true;
    const bool written = !write_failed_;
    if (written && keep) {
        file_.close();
        return replacement_.empty() || replace_file(replacement_, output_name);
    }
    // Put the file back as it was: the replacement or a file the export made goes,
    // a file appended to is cut back to its old length and gets back what was cut.
    if (!replacement_.empty() || created_) {
        file_.close();
        (void)remove_new_file(replacement_.empty() ? output_name : replacement_);  // the failure is reported already
        return written;
    }
    (void)(disk::truncate(file_.fd(), keep_length_) &&  // as much as can be put back
           disk::write_at(file_.fd(), cut_bytes_.data(), cut_bytes_.size(), keep_length_));
    file_.close();
    return written;
}

bool names_standard_output(const std::string& name) { return name.size() > 2 && name[0] == '-' && name[1] == '.'; }

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
    if (single_byte_) return single_byte_utf8(std::string_view(piece.data(), piece.size()));
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

std::span<char> RecordWriter::single_byte_utf8(std::string_view text) {
    const size_t room = ByteUtf8Table::room_for(text.size());
    if (utf8_room_.size() < room) utf8_room_.resize(std::max(room, 2 * utf8_room_.size()));
    const char* end = single_byte_->convert(text, utf8_room_.data());
    return std::span<char>(utf8_room_.data(), static_cast<size_t>(end - utf8_room_.data()));
}

void RecordWriter::load_value(int field) {
    if (rules_.typed_values) return;
    from_memo_ = present_ = false;
    first_ = {};
    if (!plans_.empty()) {
        std::string_view text;
        if (stored_text_view(plans_[static_cast<size_t>(field)], table.record_buffer.data(), text)) {
            // No conversion changes a view in place: only a UTF-8 form is made apart.
            first_ = std::span<char>(const_cast<char*>(text.data()), text.size());
            if (utf8_) first_ = convert(first_, false);
            return;
        }
    }
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
