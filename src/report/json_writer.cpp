// JSON: one object per record, keys the field names in field order, values typed
// (numbers exact, dates ISO, logicals true/false, blanks null, binary base64).
// ".jsonl" writes one object a line; ".json" one array holding an object a line,
// which later exports into the same file extend.
#include <memory>

#include "platform/file.h"
#include "report/data_text.h"
#include "report/record_writer.h"
#include "report/sql_dialect.h"
#include "table/dbf_format.h"
#include "table/typed_value.h"

namespace rorarodi {

namespace {

// Longest run of trailing blanks looked through for the closing bracket.
constexpr size_t kTailBytes = 256;

bool is_blank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// For a file that holds a JSON array: cuts it just before the closing bracket (and
// the blanks around it), so that appended records continue the array. Returns
// true when it did; `empty` tells whether the array held no element.
bool reopen_array(const std::string& name, bool& empty) {
    FileHandle file = open_file_read_write(name);
    const long long size = file ? file.size() : -1;
    if (size <= 0) return false;
    const uint64_t start = static_cast<uint64_t>(size) > kTailBytes ? static_cast<uint64_t>(size) - kTailBytes : 0;
    std::string tail(static_cast<size_t>(static_cast<uint64_t>(size) - start), '\0');
    if (!file.seek(start) || file.read(tail.data(), tail.size()) != static_cast<long long>(tail.size())) return false;
    size_t end = tail.size();
    while (end > 0 && is_blank(tail[end - 1])) --end;
    if (end == 0 || tail[end - 1] != ']') return false;
    --end;
    while (end > 0 && is_blank(tail[end - 1])) --end;
    if (end == 0) return false;
    const char before = tail[end - 1];
    if (before != '[' && before != '}') return false;
    empty = before == '[';
    return file.truncate(start + end);
}

class JsonWriter : public RecordWriter {
public:
    JsonWriter(Session& session, std::vector<int> fields, bool array)
        : RecordWriter(session, std::move(fields), kTypedValues), array_(array) {}

    bool open() override {
        if (is_table_own_file(output_name, table)) return false;
        bool empty = true;
        const bool continued = array_ && reopen_array(output_name, empty);
        if (!open_text_output()) return false;
        typed_ = std::make_unique<TypedReader>(table);
        const std::vector<DataColumn> columns = data_columns(table, fields, settings.show_deletion_marks);
        // Each selected field's key, written once: a field listed again is left out.
        for (int column : column_of_fields(columns, fields)) {
            std::string key;
            if (column >= 0) {
                append_json_string(key, columns[static_cast<size_t>(column)].name);
                key += ':';
            }
            keys_.push_back(std::move(key));
        }
        if (array_) {
            if (!continued) out_ += '[';
            first_ = !continued || empty;
        }
        return true;
    }

    void begin_record(uint8_t flag, uint32_t) override {
        if (array_) out_ += first_ ? "\n" : ",\n";
        first_ = false;
        out_ += '{';
        flag_ = flag;
        written_ = 0;
    }

    void field(size_t index, int field, bool) override {
        if (keys_[index].empty()) return;
        if (written_++ > 0) out_ += ',';
        out_ += keys_[index];
        append_json_value(out_, typed_->read(field));
    }

    void end_record() override {
        if (settings.show_deletion_marks) {
            if (written_ > 0) out_ += ',';
            append_json_string(out_, kDeletedColumn);
            out_ += flag_ == kLiveMark ? ":false" : ":true";
        }
        out_ += array_ ? "}" : "}\n";
    }

    bool close() override {
        if (array_) out_ += "\n]\n";
        return true;
    }

private:
    const bool array_;
    bool first_ = true;
    uint8_t flag_ = kLiveMark;
    size_t written_ = 0;
    std::unique_ptr<TypedReader> typed_;
    std::vector<std::string> keys_;  // per selected field: "name": or empty
};

} // namespace

std::unique_ptr<RecordWriter> make_json_lines_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<JsonWriter>(session, std::move(fields), false);
}
std::unique_ptr<RecordWriter> make_json_array_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<JsonWriter>(session, std::move(fields), true);
}

} // namespace rorarodi
