// JSON: one object per record, keys the column names in field order, values typed
// (numbers exact, dates ISO, logicals true/false, blanks and nulls null, binary
// base64). ".jsonl" writes one object a line; ".json" one array holding an object
// a line, which later exports into the same file continue.
#include <cstring>
#include <memory>

#include "platform/byte_words.h"
#include "platform/file.h"
#include "report/data_text.h"
#include "report/typed_writer.h"
#include "report/writers.h"
#include "table/byte_utf8.h"
#include "table/field_text.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// "YYYY-MM-DD"
constexpr size_t kIsoDateLength = 10;
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
        plan_quick_values();
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

    // The record in one pass: room for all of it made once, the usual values read
    // off the record and written straight into it, the others the general way.
    bool write_record() override {
        if (quick_.empty()) return false;
        begin_row();
        const uint8_t* record = table.record_buffer.data();
        size_t used = out_.size();
        out_.resize(used + room_from_[0]);
        char* to = out_.data() + used;
        for (size_t i = 0; i < quick_.size(); ++i) {
            const QuickField& q = quick_[i];
            if (q.column < 0) continue;
            const std::string& key = keys_[static_cast<size_t>(q.column)];
            std::memcpy(to, key.data(), key.size());
            if (char* end = quick_value(q, record, to + key.size())) {
                to = end;
                continue;
            }
            out_.resize(static_cast<size_t>(to - out_.data()));
            typed_field(i);
            used = out_.size();
            out_.resize(used + room_from_[i + 1]);
            to = out_.data() + used;
        }
        out_.resize(static_cast<size_t>(to - out_.data()));
        end_row();
        return true;
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

    // The values the record pass writes itself, as the typed reader and
    // append_json_value would: text of a C field, a number whose stored text is its
    // exact value, a valid date of eight digits, a logical.
    enum class Quick : uint8_t { none, text, number, date, logical };
    struct QuickField {
        Quick quick = Quick::none;
        int column = -1;
        uint8_t decimals = 0;
        uint32_t offset = 0;
        uint32_t width = 0;
    };

    // Decides each selected field's way once. Text is checked on its stored bytes,
    // which needs a single-byte page that leaves ASCII as it is.
    void plan_quick_values() {
        // The deletion flag column is written the general way.
        if (settings.show_deletion_marks) return;
        const Utf8Page& page = text_utf8_page(table);
        if (!page.double_byte()) utf8_ = std::make_unique<ByteUtf8Table>(page);
        const bool text_quick = utf8_ && utf8_->keeps_ascii();
        bool any = false;
        room_from_.assign(fields.size() + 1, 0);
        for (size_t i = 0; i < fields.size(); ++i) {
            const int field = fields[i];
            // Fields with null or length bits, or not whole in the record, have no width here.
            const StoredTextPlan stored = stored_text_plan(table, field, DateMode::as_stored);
            QuickField q{Quick::none, column_of(i), static_cast<uint8_t>(stored.decimals), stored.offset, stored.width};
            const char type = table.field(field).type;
            const ColumnKind kind = column_kind(table, field);
            size_t room = 0;
            if (q.column < 0 || stored.width == 0) {
                // Not written, or read through its null and length bits: the general way.
            } else if (type == 'C' && kind == ColumnKind::text && text_quick) {
                q.quick = Quick::text;
                room = ByteUtf8Table::room_for(stored.width) + 2;
            } else if ((type == 'N' || type == 'F') && (kind == ColumnKind::integer || kind == ColumnKind::decimal)) {
                q.quick = Quick::number;
                room = stored.width;
            } else if (type == 'D' && kind == ColumnKind::date && stored.width == kCompactDateLength) {
                q.quick = Quick::date;
                room = kIsoDateLength + 2;
            } else if (type == 'L' && kind == ColumnKind::logical) {
                q.quick = Quick::logical;
                room = 5;  // "false"
            }
            any = any || q.quick != Quick::none;
            if (q.column >= 0) room += keys_[static_cast<size_t>(q.column)].size();
            quick_.push_back(q);
            room_from_[i] = room;
        }
        if (!any) {
            quick_.clear();
            return;
        }
        for (size_t i = fields.size(); i-- > 0;) room_from_[i] += room_from_[i + 1];
    }

    // Writes the value at `to` and returns the end of it; nothing when the value
    // goes the general way.
    char* quick_value(const QuickField& q, const uint8_t* record, char* to) const {
        const char* bytes = reinterpret_cast<const char*>(record) + q.offset;
        switch (q.quick) {
        case Quick::text: {
            const std::string_view text = without_padding(std::string_view(bytes, q.width));
            // A control character, a NUL, '"' or '\\' needs more than quotes.
            if (!all_bytes(
                    text, [](uint64_t word) { return (bytes_below(word, 0x20) | bytes_equal(word, '"') | bytes_equal(word, '\\')) == 0; },
                    [](unsigned char c) { return c >= 0x20 && c != '"' && c != '\\'; }))
                return nullptr;
            *to++ = '"';
            to = utf8_->convert(text, to);
            *to++ = '"';
            return to;
        }
        case Quick::number: {
            if (!is_canonical_number(bytes, q.width, q.decimals) || (q.decimals > 0 && q.width == q.decimals + 1u))
                return nullptr;
            const std::string_view number = trim_spaces(std::string_view(bytes, q.width));
            std::memcpy(to, number.data(), number.size());
            return to + number.size();
        }
        case Quick::date: {
            if (!is_compact_date(record + q.offset)) return nullptr;
            const char iso[] = {'"', bytes[0], bytes[1], bytes[2], bytes[3], '-', bytes[4], bytes[5], '-', bytes[6], bytes[7], '"'};
            std::memcpy(to, iso, sizeof iso);
            return to + sizeof iso;
        }
        case Quick::logical: {
            std::string_view text = "null";
            switch (bytes[0]) {
            case 'T': case 't': case 'Y': case 'y': case '1': text = "true"; break;
            case 'F': case 'f': case 'N': case 'n': case '0': text = "false"; break;
            default: break;
            }
            std::memcpy(to, text.data(), text.size());
            return to + text.size();
        }
        case Quick::none: break;
        }
        return nullptr;
    }

    std::unique_ptr<ByteUtf8Table> utf8_;  // the table's single-byte page, else none
    std::vector<QuickField> quick_;        // per selected field; empty when no value is quick
    // The most bytes the record pass writes for the selected fields from the i-th
    // on, keys included.
    std::vector<size_t> room_from_;
};

} // namespace

std::unique_ptr<RecordWriter> make_json_lines_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<JsonWriter>(session, std::move(fields), false);
}
std::unique_ptr<RecordWriter> make_json_array_writer(Session& session, std::vector<int> fields) {
    return std::make_unique<JsonWriter>(session, std::move(fields), true);
}

} // namespace rorarodi
