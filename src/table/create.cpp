#include "table/create.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/change.h"
#include "platform/text.h"
#include "table/dbf_format.h"
#include "table/memo.h"

namespace rorarodi {

namespace {

// A Visual FoxPro table keeps a 263-byte area after the terminator (the path of
// its database container, empty here).
constexpr size_t kVisualFoxProArea = 263;
constexpr uint8_t kVisualFoxProMemoFlag = 0x02;
constexpr uint8_t kVisualFoxProMemoMark = 0x03;
// Field flags of the null-flags field: a system field, binary.
constexpr uint8_t kNullFlagsFieldFlags = 0x05;
constexpr uint32_t kDefaultMemoBlockSize = 512;
constexpr uint32_t kDbase3MemoBlockSize = 512;
constexpr uint32_t kMinimumMemoHeader = 512;
constexpr uint16_t kDbase4MemoSignature = 0x0102;

// Writes `bytes` as the file `name`: exclusively (never replacing a file), or
// under a temporary name renamed over `name` once complete, so that `name` holds
// the old file or the whole new one.
bool write_new_file(const std::string& name, const void* bytes, size_t size, bool exclusive) {
    const std::string target = exclusive ? name : temporary_name_for(name);
    bool written = false;
    {
        FileHandle file = create_new_file(target);
        if (!file) return false;
        written = file.write(bytes, size);
    }
    if (exclusive) return written;
    if (written && replace_file(target, name)) return true;
    (void)remove_new_file(target);  // the failure that matters is noted already
    return false;
}

uint16_t length_word(const FieldDescriptor& field) {
    return static_cast<uint16_t>(field.length | (field.decimals << 8));
}

void set_length_word(FieldDescriptor& field, uint16_t word) {
    field.length = static_cast<uint8_t>(word & 0xFF);
    field.decimals = static_cast<uint8_t>(word >> 8);
}

// Fixes the lengths that the table kind (by its memo version byte) dictates;
// returns true when the field keeps its value in a memo file.
bool normalise_length(FieldDescriptor& field, uint8_t memo_version) {
    const bool visual_foxpro = memo_version == kVersionVisualFoxPro;
    switch (field.type) {
    case 'D':
    case 'Y': set_length_word(field, 8); return false;
    case 'I':
    case '+': set_length_word(field, 4); return false;
    case 'L': set_length_word(field, 1); return false;
    case 'T':
    case '@':
        if (length_word(field) != 14) set_length_word(field, visual_foxpro ? 8 : 14);
        return false;
    case 'M':
    case 'G':
    case 'W': set_length_word(field, visual_foxpro ? 4 : 10); return true;
    case 'B':
    case 'O':
        if (length_word(field) != 10 && length_word(field) != 8) {
            if (memo_version == kVersionDbase4Memo)
                set_length_word(field, 10);
            else
                field.length = 8;
        }
        return length_word(field) == 10;
    default: return false;
    }
}

uint32_t storage_width(const FieldDescriptor& field) {
    return field.type == 'C' ? length_word(field) : field.length;
}

// A type no other kind of table has (after normalising, so a B field is a double).
bool visual_foxpro_only_type(const FieldDescriptor& field) {
    return std::strchr("IYTVQWG0", field.type) != nullptr || (field.type == 'B' && field.length == 8);
}

bool is_null_flags(const FieldDescriptor& field) {
    return field.type == '0' && equals_ignoring_case(field.name, kNullFlagsName);
}

// Variable-length and nullable fields need the null-flags field: each takes one of
// its bits (a nullable V or Q field two); the bits start clear, the values at full
// width. A null-flags field given too narrow for them grows.
void add_null_flags(std::vector<FieldDescriptor>& fields) {
    size_t bits = 0, variable = 0;
    for (const FieldDescriptor& field : fields) {
        if (field.type == 'V' || field.type == 'Q') ++variable;
        if (field.flags & kNullableFieldFlag) ++bits;
    }
    const size_t needed = std::min<size_t>((bits + variable + 7) / 8, 0xFF);
    for (FieldDescriptor& field : fields) {
        if (!is_null_flags(field)) continue;
        if (field.length < needed) field.length = static_cast<uint8_t>(needed);
        return;
    }
    if (variable == 0 && bits == 0) return;
    FieldDescriptor null_flags;
    null_flags.name = kNullFlagsName;
    null_flags.type = '0';
    null_flags.length = static_cast<uint8_t>(needed);
    null_flags.flags = kNullFlagsFieldFlags;
    fields.push_back(null_flags);
}

// The version byte a new table gets: the one kept, when it names the same kind
// and the same memo state as the computed one.
uint8_t version_for(uint8_t computed, const KeptHeader* kept) {
    if (!kept || kept->version == 0) return computed;
    const bool same_kind = kind_for_version(kept->version) == kind_for_version(computed);
    const bool same_memo_state = (kept->version & 0x80) == (computed & 0x80);
    return same_kind && same_memo_state ? kept->version : computed;
}

} // namespace

KeptHeader kept_header_of(DbfTable& table) {
    KeptHeader kept;
    kept.version = table.version();
    const uint64_t area = table.header_size + table.field_count() * table.descriptor_size + 1;
    if (area < table.header_length()) {
        kept.backlink.resize(table.header_length() - area);
        if (!table.table_handle.seek(area) ||
            table.table_handle.read(kept.backlink.data(), kept.backlink.size()) !=
                static_cast<long long>(kept.backlink.size()))
            kept.backlink.clear();
    }
    return kept;
}

HeaderDate header_date_for(int year, int month, int day) {
    int stored = year - 1900;
    while (stored > 255) stored -= 100;
    HeaderDate date;
    date.year = static_cast<uint8_t>(stored);
    date.month = static_cast<uint8_t>(month);
    date.day = static_cast<uint8_t>(day);
    return date;
}

HeaderDate current_header_date() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return header_date_for(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
}

void stamp_header_date(uint8_t* header) {
    HeaderDate date = current_header_date();
    header[kDateOffset] = date.year;
    header[kDateOffset + 1] = date.month;
    header[kDateOffset + 2] = date.day;
}

uint8_t new_table_version(TableKind kind, bool has_memo_fields) {
    if (!has_memo_fields) return kind == TableKind::level7 ? kVersionDbase4 : kVersionDbase3;
    switch (kind) {
    case TableKind::dbase3: return kVersionDbase3Memo;
    case TableKind::foxpro: return kVersionFoxProMemo;
    case TableKind::dbase4: return kVersionDbase4Memo;
    case TableKind::visual_foxpro: return kVersionVisualFoxPro;
    case TableKind::smt: return kVersionSmt;
    case TableKind::level7: return kVersionLevel7Memo;
    default: return kVersionDbase3;
    }
}

bool create_table_file(const std::string& file_name, const std::vector<FieldDescriptor>& fields, TableKind kind,
                       uint32_t memo_block_size, bool make_memo, uint8_t code_page_mark, const KeptHeader* kept,
                       bool exclusive) {
    const bool level7 = kind == TableKind::level7;
    const bool visual_foxpro = kind == TableKind::visual_foxpro;
    const size_t header_base = level7 ? kLevel7HeaderSize : kStandardHeaderSize;
    const DescriptorLayout& layout = level7 ? kLevel7Descriptor : kStandardDescriptor;
    const size_t extra_area = visual_foxpro ? kVisualFoxProArea : 0;
    const uint8_t memo_version = new_table_version(kind, true);

    // Lengths and offsets are worked out on a copy; the caller's list stays as it was.
    std::vector<FieldDescriptor> normalised = fields;
    if (visual_foxpro) {
        // Field flags and counters describe the table they were read from; only a
        // table that replaces it keeps them. A null-flags field stays a system field.
        if (!kept)
            for (FieldDescriptor& field : normalised) {
                field.flags = is_null_flags(field) ? kNullFlagsFieldFlags : 0;
                field.standard_tail.fill(0);
            }
        add_null_flags(normalised);
    }
    const uint64_t header_length = normalised.size() * layout.size + header_base + 1 + extra_area;
    if (header_length > 0xFFFF) return false;

    uint64_t record_length = 1;
    bool has_memo_fields = false, visual_foxpro_types = false;
    for (FieldDescriptor& field : normalised) {
        field.offset = static_cast<uint16_t>(record_length);
        if (normalise_length(field, memo_version)) has_memo_fields = true;
        if (visual_foxpro_only_type(field)) visual_foxpro_types = true;
        record_length += storage_width(field);
        if (record_length > kMaxRecordLength) return false;
    }

    std::vector<uint8_t> image(static_cast<size_t>(header_length), 0);
    // Types only Visual FoxPro knows keep a Visual FoxPro table's version byte
    // without memo fields too: under 0x03 other programs would take them for dBase III.
    const uint8_t version = new_table_version(kind, has_memo_fields || (visual_foxpro && visual_foxpro_types));
    image[kVersionOffset] = version_for(version, kept);
    stamp_header_date(image.data());
    write_le32(image.data() + kRecordCountOffset, 0);
    write_le16(image.data() + kHeaderLengthOffset, static_cast<uint16_t>(header_length));
    write_le16(image.data() + kRecordLengthOffset, static_cast<uint16_t>(record_length));
    image[kCodePageMarkOffset] = code_page_mark;
    if (has_memo_fields && visual_foxpro) {
        // The memo flag only: no structural index is written.
        image[kTableFlagsOffset] = kVisualFoxProMemoFlag;
        if (code_page_mark == 0) image[kCodePageMarkOffset] = kVisualFoxProMemoMark;
    }
    if (kept && extra_area > 0)
        std::copy_n(kept->backlink.begin(), std::min(kept->backlink.size(), extra_area),
                    image.end() - static_cast<std::ptrdiff_t>(extra_area));

    uint8_t* descriptor = image.data() + header_base;
    for (const FieldDescriptor& field : normalised) {
        const size_t name_length = std::min(field.name.size(), layout.name_length);
        std::copy(field.name.begin(), field.name.begin() + static_cast<std::ptrdiff_t>(name_length), descriptor);
        descriptor[layout.type] = static_cast<uint8_t>(field.type);
        descriptor[layout.length] = field.length;
        descriptor[layout.decimals] = field.decimals;
        if (level7) {
            std::copy(field.level7_tail.begin(), field.level7_tail.end(), descriptor + kLevel7TailOffset);
        } else {
            write_le16(descriptor + kStandardFieldOffset, field.offset);
            if (visual_foxpro) {
                descriptor[kStandardFlagsOffset] = field.flags;
                std::copy(field.standard_tail.begin(), field.standard_tail.end(), descriptor + kStandardFlagsOffset + 1);
            }
            descriptor[kStandardCarriedOffset] = field.carried;
        }
        descriptor += layout.size;
    }
    *descriptor = kHeaderTerminator;

    // The memo file comes first: a new table never stands without it. A memo file
    // that could not be made for another reason than the disk still leaves a table
    // that opens; its memos read as none and memo writes fail, which their callers
    // report.
    if (make_memo && has_memo_fields && !create_memo_file(file_name, kind, memo_block_size, exclusive) &&
        change_failure())
        return false;
    return write_new_file(file_name, image.data(), image.size(), exclusive);
}

std::string memo_header_block(TableKind kind, uint32_t block_size) {
    if (block_size == 0) block_size = kDefaultMemoBlockSize;
    const uint32_t memo_block = kind == TableKind::dbase3 ? kDbase3MemoBlockSize : block_size;
    std::string block(std::max(block_size, kMinimumMemoHeader), '\0');
    auto* h = reinterpret_cast<uint8_t*>(block.data());
    // The first free block lies past the header; a block size that does not divide
    // the header's length rounds up, so new memos never overwrite the header.
    const auto first_free = static_cast<uint32_t>((block.size() + memo_block - 1) / memo_block);
    switch (kind) {
    case TableKind::dbase3: write_le32(h, 1); break;
    case TableKind::foxpro:
    case TableKind::visual_foxpro:
        // FoxPro memo headers are big-endian.
        write_be32(h, first_free);
        write_be16(h + 6, static_cast<uint16_t>(memo_block));
        break;
    case TableKind::dbase4:
    case TableKind::level7:
        write_le32(h, first_free);
        write_le16(h + 18, kDbase4MemoSignature);
        write_le16(h + 20, static_cast<uint16_t>(memo_block));
        break;
    case TableKind::smt: {
        write_le32(h, first_free);
        write_le16(h + 4, static_cast<uint16_t>(block_size));
        static constexpr char kSignature[] = "SIxMemo";  // with its zero byte: 8 bytes
        std::copy(kSignature, kSignature + sizeof kSignature, h + 6);
        break;
    }
    default: break;
    }
    return block;
}

bool create_memo_file(const std::string& table_file_name, TableKind kind, uint32_t block_size, bool exclusive) {
    return create_memo_file_at(make_memo_file_name(table_file_name, kind), kind, block_size, exclusive);
}

bool create_memo_file_at(const std::string& memo_file_name, TableKind kind, uint32_t block_size, bool exclusive) {
    if (block_size > 0xFFFF) return false;
    const std::string block = memo_header_block(kind, block_size);
    return write_new_file(memo_file_name, block.data(), block.size(), exclusive);
}

} // namespace rorarodi
