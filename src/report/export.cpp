#include "report/export.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "expr/field_list.h"
#include "platform/file.h"
#include "report/escape.h"
#include "report/structure.h"
#include "session/console.h"
#include "session/session.h"
#include "table/create.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/record_appender.h"
#include "table/text_convert.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

constexpr const char* kTraceName = "Select";
// Output is collected in memory and written when this much has gathered.
constexpr size_t kOutputBlock = 1024 * 1024;
// A field list stops once it holds this many entries.
constexpr size_t kMostSelectedFields = 65534;
constexpr size_t kNameColumn = 10;
// Longest text a field of the output table takes from a memo (the widest field).
constexpr size_t kLongestFieldText = 65535;
constexpr size_t kStandardNameLength = 10;
// Room for "%f" of any double (DBL_MAX has 309 integer digits).
constexpr size_t kPrintedNumberRoom = 400;

// Widths a field converted to 'C' for an older table kind gets, so that its text
// fits whole: "%f" of any 32-bit integer, of any currency value, of doubles below
// 10^24.
constexpr unsigned kIntegerAsText = 18;
constexpr unsigned kCurrencyAsText = 24;
constexpr unsigned kDoubleAsText = 32;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

// Text collected in memory and written to the stream in large blocks.
class OutputBuffer {
public:
    explicit OutputBuffer(std::FILE* stream) : stream_(stream) { text_.reserve(2 * kOutputBlock); }
    ~OutputBuffer() { flush(); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    std::string& text() { return text_; }
    void maybe_flush() {
        if (text_.size() >= kOutputBlock) flush();
    }
    void flush() {
        if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), stream_) != text_.size()) failed_ = true;
        text_.clear();
    }
    // True when some text could not be written (a full disk).
    bool failed() { return failed_ || std::fflush(stream_) != 0; }

private:
    std::FILE* stream_;
    std::string text_;
    bool failed_ = false;
};

// True when both names exist and are the same file (any spelling, any link).
bool same_file_names(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// True when writing to `name` would write into the table's own file or its memo file.
bool is_table_own_file(const std::string& name, const DbfTable& table) {
    return names_open_file(name, table.table_handle) || same_file_names(name, memo_file_path(table));
}

// The scans below run over every value of every record: plain loops, since the
// library's character-set searches look up each character with a call of its own.
std::string_view trim_spaces(std::string_view text) {
    size_t start = 0, end = text.size();
    while (start < end && text[start] == ' ') ++start;
    while (end > start && text[end - 1] == ' ') --end;
    return text.substr(start, end - start);
}

// True when the text holds one of the characters of `set` (a few of them).
bool holds_any(std::string_view text, std::string_view set) {
    for (char c : set)
        if (std::memchr(text.data(), c, text.size())) return true;
    return false;
}

// True when the text reads as the number 0, as atof reads it.
bool reads_as_zero(std::string_view text, const char* terminated) {
    bool plain = true;
    for (char c : text) {
        if (c >= '1' && c <= '9') return false;
        if (c != '0' && c != '.' && c != '-' && c != '+') plain = false;
    }
    return plain || std::strtod(terminated, nullptr) == 0;
}

void append_padded(std::string& out, std::string_view text, size_t width) {
    out += text;
    if (text.size() < width) out.append(width - text.size(), ' ');
}

void append_without_cr(std::string& out, std::string_view text) {
    if (text.find('\r') == std::string_view::npos) {
        out += text;
        return;
    }
    for (char c : text)
        if (c != '\r') out += c;
}

// Dates and date-times, which several formats write apart from other texts.
bool is_date_or_time(char type) { return type == 'D' || type == 'T'; }

// One field value: the field's text form, or a memo's contents read piece by piece.
struct FieldValue {
    bool from_memo = false;  // memo contents
    bool present = false;    // the memo is not empty
    std::span<char> first;   // the text form, or the memo's first piece
};

// The output table of the table format and how the selected fields reach it.
struct TableOutput {
    std::unique_ptr<DbfTable> table;
    std::vector<int> target;  // output field of each selected field, -1 for none
    std::unique_ptr<MemoWriter> memos;
    std::unique_ptr<RecordAppender> appender;
};

class RecordExport {
public:
    RecordExport(Session& session, std::vector<int> fields, OutputBuffer* out, TableOutput* output)
        : table_(session.table()),
          settings_(session.settings),
          format_(session.settings.output_format),
          fields_(std::move(fields)),
          out_(out),
          output_(output),
          fields_layout_(table_.options.field_layout == FieldLayout::fields),
          memo_contents_(settings_.memo_as_text || format_ == OutputFormat::table),
          // A table receives the source's own bytes; every other format UTF-8 under /UTF8.
          own_bytes_(settings_.utf8 && format_ == OutputFormat::table),
          utf8_(settings_.utf8 && format_ != OutputFormat::table ? &text_utf8_page(table_) : nullptr) {
        if (utf8_)
            for (const FieldDescriptor& f : table_.field_table) names_.push_back(utf8_->to_utf8(f.name));
        const bool reads_memos =
            memo_contents_ && std::any_of(fields_.begin(), fields_.end(), [&](int f) { return field_is_memo(table_, f); });
        if (reads_memos) memos_ = std::make_unique<MemoReader>(table_);
    }

    void write_opening();
    void write_header_line();
    void write_record(uint32_t position);
    void write_closing();

private:
    std::string& text() { return out_->text(); }
    // A field's name as the output shows it (in UTF-8 under /UTF8).
    const std::string& name_of(int field) const {
        return utf8_ ? names_[static_cast<size_t>(field)] : table_.field_table[static_cast<size_t>(field)].name;
    }
    // The name filled with spaces to `width` characters.
    void append_padded_name(std::string& out, int field, size_t width) const {
        const size_t characters = table_.field_table[static_cast<size_t>(field)].name.size();
        out += name_of(field);
        if (characters < width) out.append(width - characters, ' ');
    }
    char type_of(int field) const { return table_.field_table[static_cast<size_t>(field)].type; }

    void load_value(int field);
    std::span<char> convert(std::span<char> piece, bool memo_text);
    // Calls visit(piece) for every piece of the value, converted; `again` starts a
    // memo from its first byte once more.
    template <typename Visit>
    void each_piece(Visit&& visit, bool again = false);

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

    void write_preamble(uint8_t flag, uint32_t position);
    void write_trailer();
    void write_field(size_t index, bool last);
    void console_field(int field, bool last);
    void sql_field(int field);
    void append_sql_quoted(std::string_view text);
    void program_field(int field, bool last);
    void html_field(int field);
    void csv_field(int field);
    void xml_field(int field);
    void table_field(size_t index, int field);

    DbfTable& table_;
    const RunSettings& settings_;
    const OutputFormat format_;
    const std::vector<int> fields_;
    OutputBuffer* out_;
    TableOutput* output_;
    const bool fields_layout_;
    const bool memo_contents_;
    const bool own_bytes_;
    const Utf8Page* utf8_;
    std::vector<std::string> names_;  // field names in UTF-8 under /UTF8
    std::string converted_;           // the UTF-8 form of the current value or memo piece
    std::unique_ptr<MemoReader> memos_;
    FieldValue value_;
    std::string scratch_;
    HtmlTextWriter html_{out_->text()};
};

// Returns the text to write: the piece itself, converted in place by /2ANSI, /2OEM
// or for the console, or its UTF-8 form under /UTF8.
std::span<char> RecordExport::convert(std::span<char> piece, bool memo_text) {
    if (memo_text && settings_.line_break_mode == LineBreakMode::kill)
        for (char& c : piece)
            if (c == '\r' || c == '\n') c = ' ';
    if (own_bytes_) return piece;
    if (utf8_) {
        converted_.clear();
        utf8_->append_utf8(converted_, std::string_view(piece.data(), piece.size()));
        return std::span<char>(converted_.data(), converted_.size());
    }
    auto* bytes = reinterpret_cast<unsigned char*>(piece.data());
    switch (settings_.output_conversion) {
    case OutputConversion::oem_to_ansi: from_oem(table_, bytes, piece.size()); break;
    case OutputConversion::ansi_to_oem: to_oem(table_, bytes, piece.size()); break;
    case OutputConversion::none:
        if (table_.options.ansi && format_ == OutputFormat::console) to_oem(table_, bytes, piece.size());
        break;
    }
    return piece;
}

void RecordExport::load_value(int field) {
    value_ = FieldValue{};
    if (memo_contents_ && field_is_memo(table_, field)) {
        value_.from_memo = true;
        if (memos_ && memos_->start(field)) {
            value_.first = memos_->next();
            value_.present = !value_.first.empty();
            value_.first = convert(value_.first, true);
        }
        return;
    }
    // The text form lives in the table's text buffer, which is this export's to change.
    char* text = const_cast<char*>(field_text(table_, field));
    value_.first = convert(std::span<char>(text, std::strlen(text)), false);
}

template <typename Visit>
void RecordExport::each_piece(Visit&& visit, bool again) {
    if (!value_.from_memo) {
        visit(std::string_view(value_.first.data(), value_.first.size()));
        return;
    }
    if (!value_.present) return;
    std::span<char> piece = value_.first;
    if (again) {
        memos_->rewind();
        piece = convert(memos_->next(), true);
    }
    while (!piece.empty()) {
        visit(std::string_view(piece.data(), piece.size()));
        out_->maybe_flush();
        piece = convert(memos_->next(), true);
    }
}

void RecordExport::write_opening() {
    std::string& out = text();
    const std::string& file_name = table_.table_file_name;
    switch (format_) {
    case OutputFormat::program:
        out += "use " + file_name + "\n";
        break;
    case OutputFormat::html:
        out += "<table width=\"100%\" border=\"1\" cellspacing=\"1\" cellpadding=\"1\">\n";
        if (settings_.header_line && !fields_layout_) {
            out += "<tr>";
            if (settings_.show_deletion_marks) out += "<td align=center>*</td>";
            for (int field : fields_) out += "<td align=center>" + name_of(field) + "</td>";
            out += "</tr>\n";
        }
        break;
    case OutputFormat::xml:
        out += "<?xml version=\"1.0\"?>\n<!-- Location: " + file_name + " -->\n";
        if (settings_.header_line) out += "   <Structure>\n" + xml_field_entries(table_, utf8_) + "   </Structure>\n";
        break;
    default: break;
    }
}

void RecordExport::write_header_line() {
    std::string& out = text();
    if ((format_ == OutputFormat::console || format_ == OutputFormat::text) && settings_.header_line &&
        !fields_layout_) {
        if (settings_.show_deletion_marks) out += "*|";
        for (size_t i = 0; i < fields_.size(); ++i) {
            append_padded_name(out, fields_[i], field_display_width(table_, fields_[i]));
            if (i + 1 < fields_.size()) out += '|';
        }
        out += '\n';
    } else if (format_ == OutputFormat::csv && settings_.header_line) {
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (i > 0) out += ',';
            out += name_of(fields_[i]);
        }
        out += '\n';
    } else if (format_ == OutputFormat::xml) {
        out += "   <Information>\n";
    }
}

void RecordExport::write_closing() {
    std::string& out = text();
    switch (format_) {
    case OutputFormat::program: out += "use\t&&\t" + table_.table_file_name + "\n\n"; break;
    case OutputFormat::html: out += "</table>\n"; break;
    case OutputFormat::xml: out += "   </Information>\n\n"; break;
    default: break;
    }
}

void RecordExport::write_record(uint32_t position) {
    const uint8_t flag = table_.record_buffer[0];
    write_preamble(flag, position);
    for (size_t i = 0; i < fields_.size(); ++i) write_field(i, i + 1 == fields_.size());
    write_trailer();
    out_->maybe_flush();
}

void RecordExport::write_preamble(uint8_t flag, uint32_t position) {
    std::string& out = text();
    const bool marks = settings_.show_deletion_marks;
    switch (format_) {
    case OutputFormat::console:
    case OutputFormat::text:
        if (!marks) break;
        if (fields_layout_) {
            append_padded(out, "*", kNameColumn);
            out += '|';
            out += static_cast<char>(flag);
            out += '\n';
        } else {
            out += static_cast<char>(flag);
            out += '|';
        }
        break;
    case OutputFormat::sql:
        out += "insert into \"";
        out += table_.table_file_name;
        out += "\" ";
        if (settings_.show_names) {
            out += " (";
            for (size_t i = 0; i < fields_.size(); ++i) {
                if (i > 0) out += ", ";
                out += name_of(fields_[i]);
            }
            out += " )";
        }
        out += " values (";
        break;
    case OutputFormat::table:
        blank_record_buffer(*output_->table);
        output_->table->record_buffer[0] = flag;
        break;
    case OutputFormat::program: out += "append blank\nreplace ;\n"; break;
    case OutputFormat::html:
        out += "<tr valign=top>";
        if (!marks) break;
        if (fields_layout_) out += "<td>*</td>";
        if (flag == ' ') {
            out += "<td>&nbsp;</td>";
        } else {
            out += fields_layout_ ? "<td align=left>" : "<td align=center>";
            out += static_cast<char>(flag);
            out += "</td>";
        }
        if (fields_layout_) out += "</tr>\n";
        break;
    case OutputFormat::csv: break;
    case OutputFormat::xml:
        out += "      <Record>\n         ";
        append_xml_number_element(out, "RecNo", static_cast<double>(position) + 1);
        out += '\n';
        if (marks) {
            out += "         ";
            const char flag_text[2] = {flag == ' ' ? '\0' : static_cast<char>(flag), '\0'};
            append_xml_element(out, "DeletedFlag", std::string_view(flag_text), false);
            out += '\n';
        }
        break;
    }
}

void RecordExport::write_trailer() {
    std::string& out = text();
    switch (format_) {
    case OutputFormat::sql: out += ");\n"; break;
    case OutputFormat::table: (void)output_->appender->append(); break;  // finish() tells a failure
    case OutputFormat::program: break;
    case OutputFormat::html:
        if (settings_.show_names) {
            out += fields_layout_ ? "<tr><td colspan=2>" : "<td>";
            out += table_.table_file_name;
            out += "</td>";
        }
        out += "</tr>\n";
        break;
    case OutputFormat::csv: out += '\n'; break;
    case OutputFormat::xml: out += "      </Record>\n"; break;
    case OutputFormat::console:
    case OutputFormat::text:
        if (settings_.show_names) {
            out += table_.table_file_name;
            if (fields_layout_) out += '\n';
        }
        out += '\n';
        break;
    }
}

void RecordExport::write_field(size_t index, bool last) {
    const int field = fields_[index];
    load_value(field);
    switch (format_) {
    case OutputFormat::console:
    case OutputFormat::text: console_field(field, last); break;
    case OutputFormat::sql:
        sql_field(field);
        if (!last) text() += ", ";
        break;
    case OutputFormat::program: program_field(field, last); break;
    case OutputFormat::html: html_field(field); break;
    case OutputFormat::csv:
        csv_field(field);
        if (!last) text() += ',';
        break;
    case OutputFormat::xml: xml_field(field); break;
    case OutputFormat::table: table_field(index, field); break;
    }
}

void RecordExport::console_field(int field, bool last) {
    std::string& out = text();
    if (fields_layout_) {
        append_padded_name(out, field, kNameColumn);
        out += '|';
    }
    each_piece([&](std::string_view piece) { append_without_cr(out, piece); });
    if (fields_layout_)
        out += '\n';
    else if (!last)
        out += '|';
}

// Writes a text between quote characters. The escape character goes before every
// quote character and before itself; without one a quote character is doubled, so
// that a value can never end the quoted text early.
void RecordExport::append_sql_quoted(std::string_view text) {
    std::string& out = out_->text();
    const char quote = settings_.output_quote;
    const char escape = settings_.escape_character;
    const char specials[2] = {quote, escape ? escape : quote};
    if (!holds_any(text, std::string_view(specials, 2))) {
        out += text;
        return;
    }
    for (char c : text) {
        if (c == quote)
            out += escape ? escape : quote;
        else if (escape && c == escape && escape != quote)
            out += escape;
        out += c;
    }
}

void RecordExport::sql_field(int field) {
    std::string& out = text();
    const char quote = settings_.output_quote;
    const std::string_view value(value_.first.data(), value_.first.size());
    if (field_is_numeric(table_, field)) {
        out += value;
    } else if (value_.from_memo) {
        // Lines split at CR and LF, empty ones dropped, each ended by a line feed.
        bool any_line = false, in_line = false;
        each_line_part(
            [&](std::string_view part) {
                if (!any_line) out += quote;
                any_line = in_line = true;
                append_sql_quoted(part);
            },
            [&] {
                if (in_line) out += '\n';
                in_line = false;
            });
        if (in_line) out += '\n';
        out += quote;
        if (!any_line) out += quote;
    } else if (type_of(field) == 'L') {
        const bool truth = !value.empty() && (value[0] == 'T' || value[0] == 'Y');
        out += settings_.sql2000 ? (truth ? "1" : "0") : (truth ? "TRUE " : "FALSE");
    } else {
        // Dates and date-times too: a damaged stored date must not end the quotes.
        out += quote;
        append_sql_quoted(value);
        out += quote;
    }
}

void RecordExport::program_field(int field, bool last) {
    std::string& out = text();
    const std::string_view value(value_.first.data(), value_.first.size());
    out += '\t';
    out += name_of(field);
    const char type = type_of(field);
    if (field_is_numeric(table_, field)) {
        out += " with ";
        out += value;
    } else if (is_date_or_time(type)) {
        out += " with ctod(\"";
        out += value;
        out += "\")";
    } else if (field_is_memo(table_, field)) {
        out += " with ;\n";
        if (value_.from_memo) {
            bool in_line = false;
            each_line_part(
                [&](std::string_view part) {
                    if (!in_line) out += "\t\t\"";
                    in_line = true;
                    out += part;
                },
                [&] {
                    if (in_line) out += "\" + chr(13) + chr(10) +;\n";
                    in_line = false;
                });
            if (in_line) out += "\" + chr(13) + chr(10) +;\n";
        }
        out += "\t\t\"\"";
    } else if (type == 'L') {
        out += " with .";
        out += !value.empty() && (value[0] == 'T' || value[0] == 'Y') ? 'T' : 'F';
        out += '.';
    } else {
        out += " with \"";
        out += value;
        out += '"';
    }
    out += last ? "\n" : ", ;\n";
}

void RecordExport::html_field(int field) {
    std::string& out = text();
    if (fields_layout_) {
        out += "<tr valign=top><td valign=top>";
        out += name_of(field);
        out += "</td>";
    }
    const std::string_view trimmed = trim_spaces(std::string_view(value_.first.data(), value_.first.size()));
    const bool memo_text = value_.from_memo && value_.present;
    if (!memo_text && trimmed.empty()) {
        out += "<td>&nbsp;</td>";
    } else if (!fields_layout_ && !value_.from_memo && is_date_or_time(type_of(field))) {
        out += "<td align=center>";
        out += trimmed;
        out += "</td>";
    } else if (!fields_layout_ && !value_.from_memo && field_is_numeric(table_, field)) {
        out += "<td align=right>";
        out += trimmed;
        out += "</td>";
    } else {
        const bool to_ansi = !table_.options.ansi && settings_.output_conversion == OutputConversion::none && !utf8_;
        out += "<td>";
        html_.restart();
        each_piece([&](std::string_view piece) {
            if (to_ansi)
                from_oem(table_, reinterpret_cast<unsigned char*>(const_cast<char*>(piece.data())), piece.size());
            html_.feed(piece);
        });
        html_.finish();
        out += "</td>";
    }
    if (fields_layout_) out += "</tr>\n";
}

void RecordExport::csv_field(int field) {
    std::string& out = text();
    const std::string_view value(value_.first.data(), value_.first.size());
    if (type_of(field) == 'C' || field_is_memo(table_, field)) {
        // CR removed; nothing for an empty or all-space text, else the text in
        // double quotes with each double quote doubled. Spaces are held back until
        // a character shows that the text is not all spaces.
        if (!value_.from_memo && trim_spaces(value).empty()) return;
        if (!value_.from_memo && !holds_any(value, "\"\r")) {
            out += '"';
            out += value;
            out += '"';
            return;
        }
        bool opened = false;
        size_t held_spaces = 0;
        each_piece([&](std::string_view piece) {
            size_t i = 0;
            if (!opened) {
                for (; i < piece.size() && (piece[i] == ' ' || piece[i] == '\r'); ++i)
                    if (piece[i] == ' ') ++held_spaces;
                if (i == piece.size()) return;
                out += '"';
                out.append(held_spaces, ' ');
                opened = true;
            }
            size_t run = i;
            for (; i < piece.size(); ++i) {
                if (piece[i] != '"' && piece[i] != '\r') continue;
                out.append(piece.data() + run, i - run);
                if (piece[i] == '"') out += "\"\"";
                run = i + 1;
            }
            out.append(piece.data() + run, piece.size() - run);
        });
        if (opened) out += '"';
        return;
    }
    const std::string_view trimmed = trim_spaces(value);
    if (field_is_numeric(table_, field) && reads_as_zero(trimmed, trimmed.data())) return;
    if (!holds_any(trimmed, ",\"\r\n")) {
        out += trimmed;
        return;
    }
    // A text holding the separator, a quote or a line break is quoted, so that it
    // stays one value.
    out += '"';
    for (char c : trimmed) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void RecordExport::xml_field(int field) {
    std::string& out = text();
    const std::string& name = name_of(field);
    out += "         ";
    if (field_is_numeric(table_, field)) {
        append_xml_number_element(out, name, field_number(table_, field));
    } else if (!value_.from_memo) {
        append_xml_element(out, name, std::string_view(value_.first.data(), value_.first.size()), true, utf8_ != nullptr);
    } else {
        // The memo text ends at its first NUL. A first pass decides between the
        // empty element and CDATA; the second writes the content.
        bool empty = true, cdata = false, ended = false;
        each_piece([&](std::string_view piece) {
            if (ended) return;
            size_t nul = piece.find('\0');
            if (nul != std::string_view::npos) {
                piece = piece.substr(0, nul);
                ended = true;
            }
            if (!piece.empty()) empty = false;
            if (xml_uses_cdata(piece, true)) cdata = true;
        });
        if (empty) {
            out += '<';
            out += name;
            out += "/>";
        } else {
            out += '<';
            out += name;
            out += '>';
            XmlContentWriter content(out, cdata, utf8_ != nullptr);
            content.begin();
            ended = false;
            each_piece(
                [&](std::string_view piece) {
                    if (ended) return;
                    size_t nul = piece.find('\0');
                    if (nul != std::string_view::npos) {
                        piece = piece.substr(0, nul);
                        ended = true;
                    }
                    content.add(piece);
                },
                true);
            content.end();
            out += "</";
            out += name;
            out += '>';
        }
    }
    out += '\n';
}

void RecordExport::table_field(size_t index, int field) {
    const int target = output_->target[index];
    if (target < 0) return;
    DbfTable& output = *output_->table;
    const char* text = value_.first.data();
    double number = 0;
    char printed[kPrintedNumberRoom];
    if (field_is_numeric(table_, field)) {
        number = field_number(table_, field);
        if (!field_is_numeric(output, target)) {
            std::snprintf(printed, sizeof printed, "%f", number);
            text = printed;
        }
    } else if (!value_.from_memo) {
        number = std::atof(text);
    }
    if (field_is_memo(output, target)) {
        // A memo takes the whole memo, or a text up to its end; an empty one
        // leaves the field blank.
        MemoWriter& memos = *output_->memos;
        if (!memos.start(target)) return;
        // A memo that cannot be written leaves the field blank, as set_field does.
        if (value_.from_memo)
            each_piece([&](std::string_view piece) { (void)memos.add(piece); });
        else
            (void)memos.add(text);
        (void)memos.finish();
        return;
    }
    if (value_.from_memo) {
        // The memo's length is the number; its first bytes are all a field can hold.
        scratch_.clear();
        uint64_t length = 0;
        each_piece([&](std::string_view piece) {
            length += piece.size();
            if (scratch_.size() < kLongestFieldText)
                scratch_.append(piece.substr(0, std::min(piece.size(), kLongestFieldText - scratch_.size())));
        });
        set_field(output, target, scratch_.c_str(), static_cast<double>(length));
    } else {
        set_field(output, target, text, number);
    }
}

// The type and length a selected field gets in a new output table of `kind`:
// older kinds take the types they lack as character fields wide enough for the
// field's whole text.
FieldDescriptor new_output_field(const DbfTable& table, int field, TableKind kind) {
    FieldDescriptor described = table.field_table[static_cast<size_t>(field)];
    described.offset = 0;
    described.carried = 0;
    described.level7_tail = {};
    unsigned width = 0;
    const bool oldest = kind == TableKind::dbase3 || kind == TableKind::dbase4;
    if (oldest || kind == TableKind::foxpro) {
        if (described.type == 'I') width = kIntegerAsText;
        if (described.type == '0') width = field_width(table, field);
    }
    if (oldest && !field_is_memo(table, field)) {
        if (described.type == 'B') width = kDoubleAsText;
        if (described.type == 'Y') width = kCurrencyAsText;
        if (described.type == 'T') width = field_display_width(table, field);
    }
    if (width > 0) {
        width = std::max<unsigned>(width, described.length);
        described.type = 'C';
        described.length = static_cast<uint8_t>(width & 0xFF);
        described.decimals = static_cast<uint8_t>(width >> 8);
    }
    return described;
}

// The output field a selected field fills: the first of the same name, ignoring
// case; a long name also finds its first ten characters in a table whose names
// hold no more. -1 for none.
int output_field_for(const DbfTable& output, const std::string& name) {
    const int found = find_field(output, name.c_str());
    if (found >= 0 || output.level7 || name.size() <= kStandardNameLength) return found;
    return find_field(output, name.substr(0, kStandardNameLength).c_str());
}

// Opens the output table of the table format, creating it from the selected
// fields when the file does not exist. Nothing when it cannot be opened or
// created, or when it would be the current table or share its files.
std::unique_ptr<DbfTable> open_table_output(Session& session, const std::vector<int>& fields) {
    DbfTable& table = session.table();
    const std::string& name = *session.settings.output_file_name;
    if (is_table_own_file(name, table)) return nullptr;
    auto output = std::make_unique<DbfTable>();
    share_run_settings(session, *output);
    output->options.date_mode = table.options.date_mode;
    output->options.date_formats = table.options.date_formats;
    output->options.datetime_formats = table.options.datetime_formats;
    if (!file_exists(name)) {
        const TableKind kind = session.settings.new_table_kind.value_or(table.table_kind);
        if (is_table_own_file(make_memo_file_name(name, kind), table)) return nullptr;
        std::vector<FieldDescriptor> described;
        for (int field : fields) described.push_back(new_output_field(table, field, kind));
        if (!create_table_file(name, described, kind, memo_block_size(table), true)) return nullptr;
    }
    if (open_table(*output, name, false) != OpenResult::opened || !output->table_handle.is_writable() ||
        is_table_own_file(memo_file_path(*output), table))
        return nullptr;
    return output;
}

} // namespace

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

    const RunSettings& settings = session.settings;
    const OutputFormat format = settings.output_format;
    const std::string file_name = settings.output_file_name.value_or(std::string());
    OutputFile file;
    TableOutput output;
    if (format == OutputFormat::table) {
        output.table = open_table_output(session, fields);
        if (!output.table) {
            std::printf("Can't open %s\n", file_name.c_str());
            return;
        }
        for (int field : fields) output.target.push_back(output_field_for(*output.table, table.field_table[field].name));
        output.memos = std::make_unique<MemoWriter>(*output.table);
        output.appender = std::make_unique<RecordAppender>(*output.table);
    } else if (format != OutputFormat::console) {
        if (!is_table_own_file(file_name, table)) file.reset(std::fopen(file_name.c_str(), "ab"));
        if (!file) {
            std::printf("Can't open %s\n", file_name.c_str());
            return;
        }
    }

    bool failed = false;
    {
        OutputBuffer out(file ? file.get() : stdout);
        RecordExport exporter(session, fields, &out, &output);
        exporter.write_opening();
        exporter.write_header_line();
        ViewReader reader(table, view_record_count(table));
        visit_range_positions(session, table, [&](uint32_t position) {
            (void)reader.read(position);  // an unreadable record is written as the buffer holds it
            exporter.write_record(position);
        });
        reader.finish();
        exporter.write_closing();
        out.flush();
        if (output.appender && !output.appender->finish()) failed = true;
        if (file && out.failed()) failed = true;
    }
    file.reset();
    output = TableOutput{};
    if (failed) std::printf("Can't write %s\n", file_name.c_str());
    trace_leave(session, kTraceName);
}

} // namespace rorarodi
