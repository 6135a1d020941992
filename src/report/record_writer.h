// Record export: what the writers of the output formats share. The export walks
// the records and hands each one to the writer of the output format, field by
// field; the writer turns them into its format, reading the values, names and
// settings through its base class.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_words.h"
#include "platform/file.h"
#include "session/session.h"
#include "table/byte_utf8.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/text_convert.h"

namespace rorarodi {

// How a writer takes the values of the fields.
struct ValueRules {
    bool memo_contents = false;  // memo fields give their contents even without /MEMO:text
    bool stored_bytes = false;   // texts keep the table's bytes under /UTF8
    bool typed_values = false;   // the writer reads typed values itself: no text form is loaded
    // The value may be a view of the record buffer itself: not NUL-terminated, and
    // neither it nor its pieces may be changed in place.
    bool views = false;
};
inline constexpr ValueRules kTypedValues{false, false, true};
inline constexpr ValueRules kViewedValues{.views = true};

// The writer of one output format, and what every writer reads and writes through.
// The export calls open, header_line, then for every record begin_record, field for
// each selected field (its value loaded by load_value) and end_record, then close.
class RecordWriter {
public:
    RecordWriter(Session& session, std::vector<int> fields, ValueRules rules = {});
    virtual ~RecordWriter() = default;

    // Opens (or creates) the output and writes what comes first; false when it
    // cannot be opened.
    [[nodiscard]] virtual bool open() { return open_text_output(); }
    // The line of field names (/HDR).
    virtual void header_line() {}
    // `flag` is the record's deletion flag, `position` its view position.
    virtual void begin_record(uint8_t flag, uint32_t position) {}
    // Selected field number `index`, field `field` of the table.
    virtual void field(size_t index, int field, bool last) = 0;
    virtual void end_record() {}
    // Writes the record in the buffer whole, in place of begin_record, field and
    // end_record, for a writer with a quicker way of its own; false when the record
    // is to go field by field.
    virtual bool write_record() { return false; }
    // Writes what comes last and closes the output; false when some of the output
    // could not be written.
    [[nodiscard]] virtual bool close() { return true; }
    // True for writers that take live records only (the typed outputs without /DEL).
    bool live_records_only() const { return live_only_; }
    // True when open() failed with a message of its own.
    bool refused() const { return refused_; }

    // Loads the value of a field of the record buffer, converted for the output.
    void load_value(int field);
    void maybe_flush() {
        if (out_.size() >= kOutputBlock) flush();
    }
    // Writes the text collected and closes the file; false when some of it could
    // not be written (a full disk). Unless `keep` and every write succeeded, the
    // file is left as it was before the export: cut back to its old length (with
    // the bytes a writer cut off put back), or removed when the export made it.
    [[nodiscard]] bool finish_text_output(bool keep = true);

    Session& session;
    DbfTable& table;  // the record being written in its record buffer
    const RunSettings& settings;
    const std::vector<int> fields;
    const std::string output_name;  // empty for the console
    const bool fields_layout;

protected:
    // The output of the formats written as text: standard output for the console
    // and for the names "-.ext", otherwise the file, appended to; under /REPLACE
    // the first export of the run into a file writes a new file that takes the old
    // one's place when complete. False when the file cannot be opened or is the
    // table's own file.
    [[nodiscard]] bool open_text_output();
    // True when the output starts empty: a new or empty file, or one that this
    // export replaces.
    bool output_was_empty() const { return output_was_empty_; }
    // True when the output is a file this export appends to (its old bytes stay).
    bool appends_to_file() const { return file_.is_open() && replacement_.empty(); }
    // The output file, for a writer that reads what it holds (the JSON array).
    FileHandle& output_file() { return file_; }
    // Cuts the output file at `at`, the writing to go on from there; `cut_bytes`
    // are the bytes it cut off, put back when the export fails. False when the file
    // cannot be cut.
    [[nodiscard]] bool cut_output(uint64_t at, std::string cut_bytes);
    void take_live_records_only() { live_only_ = true; }
    void note_refused() { refused_ = true; }

    // The UTF-8 page of the table's text under /UTF8, otherwise nothing.
    const Utf8Page* utf8() const { return utf8_; }
    // A field's name as the output shows it (in UTF-8 under /UTF8).
    const std::string& name_of(int field) const {
        return utf8_ ? names_[static_cast<size_t>(field)] : table.field(field).name;
    }
    // The name filled with spaces to `width` characters.
    void append_padded_name(int field, size_t width);
    char type_of(int field) const { return table.field(field).type; }

    // How a field's text form is read off the record, when the values may be views
    // of it and no conversion changes them in place; else nothing.
    const StoredTextPlan* stored_plan(int field) const {
        return plans_.empty() ? nullptr : &plans_[static_cast<size_t>(field)];
    }
    // The byte table of the table's single-byte page under /UTF8, else nothing.
    const ByteUtf8Table* byte_utf8() const { return single_byte_.get(); }

    // The value's text form, or the first piece of its memo's contents.
    std::string_view value_text() const { return std::string_view(first_.data(), first_.size()); }
    bool from_memo() const { return from_memo_; }
    bool memo_present() const { return present_; }  // the memo's contents are not empty
    // Calls visit(piece) for every piece of the value, converted; `again` starts a
    // memo from its first byte once more. The pieces may be changed in place.
    template <typename Visit>
    void each_piece(Visit&& visit, bool again = false) {
        if (!from_memo_) {
            visit(value_text());
            return;
        }
        if (!present_) return;
        std::span<char> piece = first_;
        if (again) {
            memos_->rewind();
            piece = convert(memos_->next(), true);
        }
        while (!piece.empty()) {
            visit(std::string_view(piece.data(), piece.size()));
            maybe_flush();
            piece = convert(memos_->next(), true);
        }
    }
    // Splits the value at CR and LF: part(text) for each run of other characters
    // (a line may come in several parts), line_break() for each CR or LF.
    template <typename Part, typename LineBreak>
    void each_line_part(Part&& part, LineBreak&& line_break) {
        each_piece([&](std::string_view piece) {
            size_t i = 0;
            while (i < piece.size()) {
                if (piece[i] == '\r' || piece[i] == '\n') {
                    line_break();
                    ++i;
                    continue;
                }
                size_t end = i;
                while (end < piece.size() && piece[end] != '\r' && piece[end] != '\n') ++end;
                part(piece.substr(i, end - i));
                i = end;
            }
        });
    }

    // The output text, collected here and written in large blocks.
    std::string out_;

private:
    static constexpr size_t kOutputBlock = 1024 * 1024;

    void flush();
    std::span<char> convert(std::span<char> piece, bool memo_text);
    // The UTF-8 form of a text of a single-byte page, through the page's table.
    std::span<char> single_byte_utf8(std::string_view text);

    const ValueRules rules_;
    FileHandle file_;                // the output file, or the new file replacing it
    std::string replacement_;        // the new file's name while it replaces the output
    std::FILE* stream_ = nullptr;    // standard output, a device or a pipe
    StdioFile special_;              // the stream of a device or a pipe named as output
    bool created_ = false;           // the export made the file
    uint64_t keep_length_ = 0;       // the file's length before the export
    uint64_t position_ = 0;          // where the next output goes in the file
    std::string cut_bytes_;          // bytes after keep_length_ to put back on failure
    bool output_was_empty_ = false;
    bool write_failed_ = false;
    bool live_only_ = false;
    bool refused_ = false;
    const Utf8Page* utf8_;
    std::vector<std::string> names_;  // field names in UTF-8 under /UTF8
    std::string converted_;           // the UTF-8 form of the current value or memo piece
    // Per field of the table: how its text form is read off the record (empty when
    // the values always go through field_text).
    std::vector<StoredTextPlan> plans_;
    // The byte table of a single-byte page under /UTF8 (else none), and the room
    // its conversions write into.
    std::unique_ptr<ByteUtf8Table> single_byte_;
    std::string utf8_room_;
    std::unique_ptr<MemoReader> memos_;
    bool from_memo_ = false;
    bool present_ = false;
    std::span<char> first_;
};

// True for the output names "-.ext": the data goes to standard output.
bool names_standard_output(const std::string& name);

// True when writing to `name` would write into the table's own file or its memo file.
bool is_table_own_file(const std::string& name, const DbfTable& table);

// The scans below run over every value of every record: plain loops, since the
// library's character-set searches look up each character with a call of its own.
// True when the text holds one of the characters of `set` (a few of them), looked
// for eight bytes at a time; the last word of a longer text overlaps the one before.
inline bool holds_any(std::string_view text, std::string_view set) {
    auto in_word = [&](size_t at) {
        uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        uint64_t found = 0;
        for (char c : set) found |= bytes_equal(word, c);
        return found != 0;
    };
    if (text.size() < 8) {
        for (char c : text)
            for (char wanted : set)
                if (c == wanted) return true;
        return false;
    }
    size_t at = 0;
    for (; at + 8 <= text.size(); at += 8)
        if (in_word(at)) return true;
    return at < text.size() && in_word(text.size() - 8);
}
// Dates and date-times, which several formats write apart from other texts.
inline bool is_date_or_time(char type) { return type == 'D' || type == 'T'; }
// A logical value's text that counts as true.
inline bool reads_true(std::string_view text) { return !text.empty() && (text[0] == 'T' || text[0] == 'Y'); }

} // namespace rorarodi
