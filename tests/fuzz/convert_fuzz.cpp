// The in-place code-page conversions (/OEM2ANSI, /ANSI2OEM) of a table and its
// memo file. Afterwards every byte is either as it was or converted once, and only
// bytes of text may have changed: character fields of the records, and memo data
// from after its block header up to its stated length, the end of the file or the
// next referenced block. Headers of the table, of the memo file and of its blocks,
// and binary fields and blocks, stay exactly as they were.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "commands/code_pages.h"
#include "fuzz_support.h"
#include "session/session.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/table.h"
#include "table/text_convert.h"

using namespace rorarodi;

namespace {

constexpr const char* kCodePagePairs[] = {"866,1251", "437,1252", "850,1252", "852,1250", "866,1252", "437,1251"};
const std::string kDbase4BlockMark("\xFF\xFF\x08\x00", 4);

enum class MemoKind { none, dbase3, dbase4, foxpro };

MemoKind memo_kind(uint8_t version) {
    switch (version) {
    case 0x03: case 0x83: return MemoKind::dbase3;
    case 0x04: case 0x8B: case 0x8C: return MemoKind::dbase4;
    case 0x30: case 0x31: case 0x32: case 0xF5: return MemoKind::foxpro;
    default: return MemoKind::none;
    }
}

// Text fields: character and memo fields, but in a Visual FoxPro table not those
// whose descriptor (byte 18, read from the file itself) flags them binary.
bool is_text_field(const DbfTable& table, const std::string& table_bytes, size_t field) {
    const FieldDescriptor& descriptor = table.field_table[field];
    if (descriptor.type != 'C' && descriptor.type != 'M') return false;
    const uint8_t version = table.version();
    // Level 7 descriptors (which a Visual FoxPro version byte may head) hold no flags.
    if ((version != 0x30 && version != 0x31 && version != 0x32) || table.level7) return true;
    const size_t flags_at = kStandardHeaderSize + field * kStandardDescriptorSize + kStandardFlagsOffset;
    return flags_at >= table_bytes.size() || (static_cast<uint8_t>(table_bytes[flags_at]) & 0x04) == 0;
}

uint32_t be32_at(const std::string& bytes, size_t at) {
    return read_be32(reinterpret_cast<const uint8_t*>(bytes.data() + at));
}
uint32_t le32_at(const std::string& bytes, size_t at) {
    return read_le32(reinterpret_cast<const uint8_t*>(bytes.data() + at));
}

// Marks the memo bytes that the pass may convert: the data of every text block
// that no binary field references, up to the limits.
std::vector<bool> convertible_memo_bytes(DbfTable& table, const std::string& table_bytes, const std::string& memo) {
    std::vector<bool> allowed(memo.size(), false);
    const MemoKind kind = memo_kind(table.version());
    uint64_t block_size = 512;
    if (kind == MemoKind::none) return allowed;
    if (kind == MemoKind::dbase4) {
        if (memo.size() < 22) return allowed;
        block_size = read_le16(reinterpret_cast<const uint8_t*>(memo.data() + 20));
    } else if (kind == MemoKind::foxpro) {
        if (memo.size() < 8) return allowed;
        block_size = read_be16(reinterpret_cast<const uint8_t*>(memo.data() + 6));
    }
    if (block_size == 0) return allowed;

    std::vector<uint32_t> referenced, text, binary;
    const uint32_t length = table.record_length();
    for (uint32_t record = 0; record < table.record_count(); ++record) {
        std::memcpy(table.record_buffer.data(), table_bytes.data() + table.header_length() + uint64_t{record} * length,
                    length);
        for (size_t i = 0; i < table.field_count(); ++i) {
            if (!field_is_memo(table, static_cast<int>(i))) continue;
            const uint32_t block = memo_block_number(table, static_cast<int>(i));
            if (block == 0) continue;
            referenced.push_back(block);
            (is_text_field(table, table_bytes, i) ? text : binary).push_back(block);
        }
    }
    std::sort(referenced.begin(), referenced.end());
    for (uint32_t block : text) {
        if (std::find(binary.begin(), binary.end(), block) != binary.end()) continue;
        const uint64_t start = block * block_size;
        if (start < std::max<uint64_t>(512, block_size) || start >= memo.size()) continue;
        uint64_t end = memo.size();
        auto next = std::upper_bound(referenced.begin(), referenced.end(), block);
        if (next != referenced.end()) end = std::min<uint64_t>(end, *next * block_size);
        uint64_t data = start;
        if (kind != MemoKind::dbase3) {
            if (start + 8 > memo.size()) continue;
            if (kind == MemoKind::dbase4) {
                const uint32_t total = le32_at(memo, start + 4);
                if (memo.compare(start, 4, kDbase4BlockMark) != 0 || total <= 7) continue;
                end = std::min<uint64_t>(end, start + total);
            } else {
                if (be32_at(memo, start) != 1) continue;
                end = std::min<uint64_t>(end, start + 8 + be32_at(memo, start + 4));
            }
            data = start + 8;
        }
        for (uint64_t at = data; at < end; ++at) allowed[at] = true;
    }
    // dBase IV block headers, referenced or not, are never converted.
    if (kind == MemoKind::dbase4)
        for (uint64_t at = block_size; at + 4 <= memo.size(); at += block_size)
            if (memo.compare(at, 4, kDbase4BlockMark) == 0) std::fill_n(allowed.begin() + at, 4, false);
    return allowed;
}

std::vector<bool> convertible_table_bytes(const DbfTable& table, const std::string& table_bytes) {
    std::vector<bool> allowed(table_bytes.size(), false);
    const uint32_t length = table.record_length();
    for (uint32_t record = 0; record < table.record_count(); ++record) {
        const uint64_t base = table.header_length() + uint64_t{record} * length;
        for (size_t i = 0; i < table.field_count(); ++i) {
            const FieldDescriptor& field = table.field_table[i];
            if (field.type != 'C' || !is_text_field(table, table_bytes, i)) continue;
            const uint64_t end = std::min<uint64_t>(field.offset + field_width(table, static_cast<int>(i)), length);
            for (uint64_t at = field.offset; at < end; ++at) allowed[base + at] = true;
        }
    }
    return allowed;
}

void check_converted(const std::string& before, const std::string& after, const std::vector<bool>& allowed,
                     const DbfTable& table, bool from_oem_direction, const char* what) {
    FUZZ_CHECK(before.size() == after.size(), what);
    for (size_t at = 0; at < before.size(); ++at) {
        if (before[at] == after[at]) continue;
        FUZZ_CHECK(allowed[at], what);
        unsigned char converted = static_cast<unsigned char>(before[at]);
        (from_oem_direction ? from_oem : to_oem)(table, &converted, 1);
        FUZZ_CHECK(static_cast<unsigned char>(after[at]) == converted, what);
    }
}

} // namespace

// Input: table file, memo file, options (flags: 1 ANSI to OEM, 2 read-only,
// 4 translation tables, 8 memo file of another table; code-page pair), translation
// tables (TableAnsi, then TableOEM after a zero byte).
RORARODI_FUZZ_TARGET(convert) {
    static const bool silenced = (fuzzing::silence_standard_output(), true);
    (void)silenced;
    const std::vector<std::string> parts = fuzzing::split_parts(data, size, 4);
    fuzzing::clear_scratch();
    const std::string table_path = fuzzing::scratch_path("t.dbf");
    fuzzing::write_file(table_path, parts[0]);
    const std::string options = parts.size() > 2 ? parts[2] : std::string();
    const uint8_t flags = options.empty() ? 0 : static_cast<uint8_t>(options[0]);
    const bool to_oem_direction = flags & 1, read_only = flags & 2, translation_tables = flags & 4;

    Session session;
    if (options.size() > 1)
        handle_code_pages(session, kCodePagePairs[static_cast<uint8_t>(options[1]) % std::size(kCodePagePairs)]);
    if (translation_tables && parts.size() > 3) {
        const size_t zero = parts[3].find('\0');
        handle_table_ansi(session, parts[3].substr(0, zero));
        handle_table_oem(session, zero == std::string::npos ? std::string() : parts[3].substr(zero + 1));
    }
    session.current_table = std::make_unique<DbfTable>();
    DbfTable& table = session.table();
    if (open_table(table, table_path, read_only) != OpenResult::opened) return 0;
    // With the "other table" flag, the memo file lies beside t.dbf only under an
    // upper-case name, next to a table T.DBF whose memo file it is.
    const bool other_table = flags & 8;
    std::string memo_path = table.memo_file_name;
    if (other_table) {
        const size_t name_at = memo_path.rfind('/') + 1;
        for (size_t i = name_at; i < memo_path.size(); ++i) memo_path[i] = static_cast<char>(std::toupper(memo_path[i]));
        fuzzing::write_file(fuzzing::scratch_path("T.DBF"), parts[0]);
    }
    const std::string memo = parts.size() > 1 ? parts[1] : std::string();
    if (parts.size() > 1) fuzzing::write_file(memo_path, memo);
    share_run_settings(session, table);
    install_conversion_hooks(session, table);

    if (to_oem_direction)
        handle_ansi2oem(session, std::string());
    else
        handle_oem2ansi(session, std::string());

    const std::string table_after = fuzzing::read_file(table_path);
    const std::string memo_after = parts.size() > 1 ? fuzzing::read_file(memo_path) : std::string();
    if (other_table) {
        FUZZ_CHECK(memo_after == memo, "the memo file of another table changed");
        FUZZ_CHECK(fuzzing::read_file(fuzzing::scratch_path("T.DBF")) == parts[0], "another table changed");
    }
    if (read_only) {
        FUZZ_CHECK(table_after == parts[0], "a read-only table changed");
        FUZZ_CHECK(memo_after == memo, "the memo file of a read-only table changed");
    } else {
        check_converted(parts[0], table_after, convertible_table_bytes(table, parts[0]), table,
                        !to_oem_direction, "a table byte outside character fields changed, or not once");
        if (!other_table)
            check_converted(memo, memo_after, convertible_memo_bytes(table, parts[0], memo), table,
                            !to_oem_direction, "a memo byte outside text data changed, or not once");
    }
    close_table(table);
    return 0;
}
