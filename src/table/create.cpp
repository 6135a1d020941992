#include "table/create.h"

#include <algorithm>
#include <ctime>

#include "table/dbf_format.h"
#include "table/memo.h"

namespace rorarodi {

namespace {

// A Visual FoxPro table keeps a 263-byte area after the terminator (the path of
// its database container, empty here).
constexpr size_t kVisualFoxProArea = 263;
constexpr uint8_t kVisualFoxProMemoMark = 0x03;
constexpr uint32_t kDefaultMemoBlockSize = 512;
constexpr uint32_t kDbase3MemoBlockSize = 512;
constexpr uint32_t kMinimumMemoHeader = 512;
constexpr uint16_t kDbase4MemoSignature = 0x0102;

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

} // namespace

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
                       uint32_t memo_block_size, bool make_memo, uint8_t code_page_mark) {
    const bool level7 = kind == TableKind::level7;
    const size_t header_base = level7 ? kLevel7HeaderSize : kStandardHeaderSize;
    const DescriptorLayout& layout = level7 ? kLevel7Descriptor : kStandardDescriptor;
    const size_t extra_area = kind == TableKind::visual_foxpro ? kVisualFoxProArea : 0;
    const uint8_t memo_version = new_table_version(kind, true);

    const uint64_t header_length = fields.size() * layout.size + header_base + 1 + extra_area;
    if (header_length > 0xFFFF) return false;

    // Lengths and offsets are worked out on a copy; the caller's list stays as it was.
    std::vector<FieldDescriptor> normalised = fields;
    uint64_t record_length = 1;
    bool has_memo_fields = false;
    for (FieldDescriptor& field : normalised) {
        field.offset = static_cast<uint16_t>(record_length);
        if (normalise_length(field, memo_version)) has_memo_fields = true;
        record_length += storage_width(field);
        if (record_length > kMaxRecordLength) return false;
    }

    std::vector<uint8_t> image(static_cast<size_t>(header_length), 0);
    image[kVersionOffset] = new_table_version(kind, has_memo_fields);
    stamp_header_date(image.data());
    write_le32(image.data() + kRecordCountOffset, 0);
    write_le16(image.data() + kHeaderLengthOffset, static_cast<uint16_t>(header_length));
    write_le16(image.data() + kRecordLengthOffset, static_cast<uint16_t>(record_length));
    image[kCodePageMarkOffset] = code_page_mark;
    if (has_memo_fields && kind == TableKind::visual_foxpro) {
        image[kTableFlagsOffset] = kVisualFoxProMemoMark;
        if (code_page_mark == 0) image[kCodePageMarkOffset] = kVisualFoxProMemoMark;
    }

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
            descriptor[kStandardCarriedOffset] = field.carried;
        }
        descriptor += layout.size;
    }
    *descriptor = kHeaderTerminator;

    bool written = false;
    {
        FileHandle file = create_file(file_name);
        if (!file) return false;
        written = file.write(image.data(), image.size());
    }
    // A table whose memo file could not be made still opens; its memos read as none
    // and memo writes fail, which their callers report.
    if (make_memo && has_memo_fields) (void)create_memo_file(file_name, kind, memo_block_size);
    return written;
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

bool create_memo_file(const std::string& table_file_name, TableKind kind, uint32_t block_size) {
    return create_memo_file_at(make_memo_file_name(table_file_name, kind), kind, block_size);
}

bool create_memo_file_at(const std::string& memo_file_name, TableKind kind, uint32_t block_size) {
    if (block_size > 0xFFFF) return false;
    const std::string block = memo_header_block(kind, block_size);
    FileHandle file = create_file(memo_file_name);
    return file && file.write(block.data(), block.size());
}

} // namespace rorarodi
