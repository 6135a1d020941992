// JSON: one object per record, keys the column names in field order, values typed
// (numbers exact, dates ISO, logicals true/false, blanks and nulls null, binary
// base64). ".jsonl" writes one object a line; ".json" one array holding an object
// a line, which later exports into the same file continue.
#include <memory>

#include "platform/byte_words.h"
#include "platform/file.h"
#include "report/data_text.h"
#include "report/typed_writer.h"
#include "report/writers.h"

namespace rorarodi {

namespace {

// Longest run of trailing blanks looked through for the closing bracket.
constexpr size_t kTailBytes = 256;

bool is_blank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Where a file that holds a JSON array may be cut so that appended records
// continue it: just before the closing bracket (and the blanks around it).
struct ArrayEnd {
    uint64_t cut_at = 0;
    std::string cut_bytes;  // what the cut removes
    bool empty = false;     // the array holds no element
};

// The end of the array the file holds; false when it holds none.
bool find_array_end(FileHandle& file, ArrayEnd& end) {
    const long long size = file ? file.size() : -1;
    if (size <= 0) return false;
    const uint64_t start = static_cast<uint64_t>(size) > kTailBytes ? static_cast<uint64_t>(size) - kTailBytes : 0;
    std::string tail(static_cast<size_t>(static_cast<uint64_t>(size) - start), '\0');
    if (!file.seek(start) || file.read(tail.data(), tail.size()) != static_cast<long long>(tail.size())) return false;
    size_t at = tail.size();
    while (at > 0 && is_blank(tail[at - 1])) --at;
    if (at == 0 || tail[at - 1] != ']') return false;
    --at;
    while (at > 0 && is_blank(tail[at - 1])) --at;
    if (at == 0) return false;
    const char before = tail[at - 1];
    if (before != '[' && before != '}') return false;
    end.empty = before == '[';
    end.cut_at = start + at;
    end.cut_bytes = tail.substr(at);
    return true;
}

class JsonWriter : public TypedWriter {
public:
    JsonWriter(Session& session, std::vector<int> fields, bool array)
        : TypedWriter(session, std::move(fields)), array_(array) {}

    bool open() override {
        if (!prepare_columns() || !open_text_output()) return false;
        for (const DataColumn& column : columns()) {
            std::string key = keys_.empty() ? "" : ",";
            append_json_string(key, column.name);
            key += ':';
            keys_.push_back(std::move(key));
        }
        std::vector<size_t> key_room;
        for (const std::string& key : keys_) key_room.push_back(key.size());
        plan_quick_fields(key_room);
        if (array_) {
            continued_ = appends_to_file() && find_array_end(output_file(), end_);
            if (!continued_) out_ += '[';
        }
        return true;
    }

    void begin_row() override {
        // The array is cut open only when a record goes into it.
        if (array_ && continued_ && rows_ == 0) cut_failed_ = !cut_output(end_.cut_at, end_.cut_bytes);
        if (array_) out_ += rows_ == 0 && (!continued_ || end_.empty) ? "\n" : ",\n";
        ++rows_;
        out_ += '{';
    }

    void column_value(size_t column, const TypedValue& value) override {
        out_ += keys_[column];
        append_json_value(out_, value);
    }

    void end_row() override { out_ += array_ ? "}" : "}\n"; }

    // The usual values go straight from the record into the output.
    bool write_record() override {
        return write_quick_record([&](const QuickField& q, const uint8_t* record, char* to) {
            return quick_value(q, record, put_text(to, keys_[static_cast<size_t>(q.column)]));
        });
    }

    bool close() override {
        if (array_ && (!continued_ || rows_ > 0)) out_ += "\n]\n";
        return !cut_failed_;
    }

private:
    const bool array_;
    bool continued_ = false;
    bool cut_failed_ = false;
    ArrayEnd end_;
    size_t rows_ = 0;
    std::vector<std::string> keys_;  // per column: "name": (after a ',' but for the first)

    // Writes the value at `to` and returns the end of it; nothing when the value
    // goes the general way.
    char* quick_value(const QuickField& q, const uint8_t* record, char* to) const {
        switch (q.kind) {
        case QuickKind::text:
            // A control character, a NUL, '"' or '\\' needs more than quotes.
            return put_quick_text(
                q, record, to, '"',
                [](uint64_t word) { return (bytes_below(word, 0x20) | bytes_equal(word, '"') | bytes_equal(word, '\\')) == 0; },
                [](unsigned char c) { return c >= 0x20 && c != '"' && c != '\\'; });
        case QuickKind::number: return put_quick_number(q, record, to);
        case QuickKind::date: {
            *to = '"';
            char* end = put_quick_date(q, record, to + 1);
            if (end) *end++ = '"';
            return end;
        }
        case QuickKind::logical: return put_quick_logical(q, record, to, "true", "false", "null");
        case QuickKind::none: break;
        }
        return nullptr;
    }
};

} // namespace

std::unique_ptr<RecordWriter> make_json_lines_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<JsonWriter>(session, std::move(fields), false);
}
std::unique_ptr<RecordWriter> make_json_array_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<JsonWriter>(session, std::move(fields), true);
}

} // namespace rorarodi
