#include "report/data_text.h"

#include <cstdint>
#include <cstring>

#include "platform/byte_words.h"

namespace rorarodi {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kFirstPrintable = 0x20;

// Length of the leading run of `text` from `from` on with no control character
// (below 0x20), no `a` and no `b`, checked eight bytes at a time: most texts
// need no escape at all.
size_t plain_run_end(std::string_view text, size_t from, unsigned char a, unsigned char b) {
    size_t i = from;
    for (; i + 8 <= text.size(); i += 8) {
        const uint64_t word = load_word(text.data() + i);
        if (bytes_below(word, kFirstPrintable) | bytes_equal(word, static_cast<char>(a)) | bytes_equal(word, static_cast<char>(b)))
            break;
    }
    return i;
}

void append_hex(std::string& out, std::string_view bytes) {
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 0xF];
    }
}

// PostgreSQL counts years from 1 BC backwards: year 0 of the ISO calendar is 1 BC.
void append_copy_date(std::string& out, const std::string& iso, bool with_time) {
    const bool before_christ = iso.size() >= 5 && iso[0] == '0' && iso[1] == '0' && iso[2] == '0' && iso[3] == '0' && iso[4] == '-';
    if (before_christ) {
        out += "0001";
        out.append(iso, 4, 6);
    } else {
        out.append(iso, 0, 10);
    }
    if (with_time) {
        out += ' ';
        out.append(iso, 11, std::string::npos);
    }
    if (before_christ) out += " BC";
}

} // namespace

void append_quoted_plain(std::string& out, std::string_view text) {
    const size_t at = out.size();
    out.append(text.size() + 2, '"');
    std::memcpy(out.data() + at + 1, text.data(), text.size());
}

void append_json_string(std::string& out, std::string_view text) {
    size_t first = plain_run_end(text, 0, '"', '\\');
    while (first < text.size() && static_cast<unsigned char>(text[first]) >= kFirstPrintable && text[first] != '"' &&
           text[first] != '\\')
        ++first;
    if (first == text.size()) {
        // Nothing to escape, as with most texts.
        append_quoted_plain(out, text);
        return;
    }
    out += '"';
    size_t run = 0;
    for (size_t i = first; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= kFirstPrintable && c != '"' && c != '\\') continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            out += "\\u00";
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0xF];
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

void append_json_value(std::string& out, const TypedValue& value) {
    switch (value.type) {
    case ValueType::null: out += "null"; break;
    case ValueType::integer:
    case ValueType::number: out += value.text; break;
    case ValueType::logical: out += value.integer ? "true" : "false"; break;
    case ValueType::bytes:
        out += '"';
        append_base64(out, value.text);
        out += '"';
        break;
    case ValueType::text:
    case ValueType::date:
    case ValueType::datetime:
        if (value.plain)
            append_quoted_plain(out, value.text);
        else
            append_json_string(out, value.text);
        break;
    }
}

void append_copy_text(std::string& out, std::string_view text) {
    size_t run = 0;
    // Tab, line feed and carriage return are control characters; only the bytes
    // after the first word with one of them or a backslash are looked at singly.
    for (size_t i = plain_run_end(text, 0, '\\', '\\'); i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' && c != '\t' && c != '\n' && c != '\r') continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        out += '\\';
        out += c == '\\' ? '\\' : c == '\t' ? 't' : c == '\n' ? 'n' : 'r';
    }
    out.append(text.data() + run, text.size() - run);
}

void append_copy_value(std::string& out, const TypedValue& value) {
    switch (value.type) {
    case ValueType::null: out += "\\N"; break;
    case ValueType::integer:
    case ValueType::number: out += value.text; break;
    case ValueType::logical: out += value.integer ? 't' : 'f'; break;
    case ValueType::bytes:
        // bytea's hex input form, its backslash escaped for COPY.
        out += "\\\\x";
        append_hex(out, value.text);
        break;
    case ValueType::text: append_copy_text(out, value.text); break;
    case ValueType::date: append_copy_date(out, value.text, false); break;
    case ValueType::datetime: append_copy_date(out, value.text, true); break;
    }
}

void append_sql_identifier(std::string& out, std::string_view name) {
    out += '"';
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void append_sqlite_literal(std::string& out, const TypedValue& value) {
    switch (value.type) {
    case ValueType::null: out += "NULL"; break;
    case ValueType::integer:
    case ValueType::number: out += value.text; break;
    case ValueType::logical: out += value.integer ? '1' : '0'; break;
    case ValueType::bytes:
        out += "X'";
        append_hex(out, value.text);
        out += '\'';
        break;
    case ValueType::text:
    case ValueType::date:
    case ValueType::datetime:
        // Carriage returns do not survive every way an SQL file travels (the
        // sqlite3 shell drops those before line feeds): such a text goes as the
        // hex of its UTF-8 bytes.
        if (value.text.find('\r') != std::string::npos) {
            out += "CAST(X'";
            append_hex(out, value.text);
            out += "' AS TEXT)";
            break;
        }
        out += '\'';
        for (char c : value.text) {
            if (c == '\'') out += '\'';
            out += c;
        }
        out += '\'';
        break;
    }
}

void append_base64(std::string& out, std::string_view bytes) {
    size_t i = 0;
    auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        for (int shift = 18; shift >= 0; shift -= 6) out += kBase64Digits[group >> shift & 0x3F];
    }
    const size_t left = bytes.size() - i;
    if (left == 0) return;
    const uint32_t group = byte(i) << 16 | (left == 2 ? byte(i + 1) << 8 : 0);
    out += kBase64Digits[group >> 18 & 0x3F];
    out += kBase64Digits[group >> 12 & 0x3F];
    out += left == 2 ? kBase64Digits[group >> 6 & 0x3F] : '=';
    out += '=';
}

} // namespace rorarodi
