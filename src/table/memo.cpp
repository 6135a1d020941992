#include "table/memo.h"

#include <cerrno>

#include <algorithm>
#include <cstring>

#include "platform/paths.h"
#include "platform/text.h"
#include "table/dbf_format.h"
#include "table/field_text.h"
#include "table/text_convert.h"

namespace rorarodi {

namespace {

// Memo data must lie within the first 2 GiB of the memo file.
constexpr uint64_t kMemoDataLimit = 0x80000000ull;
// New memos never go below the end of the header area (512 bytes in every format).
constexpr uint64_t kHeaderArea = 512;
constexpr uint32_t kDbase3BlockSize = 512;
constexpr uint32_t kShortHeaderBlockSize = 256;
constexpr size_t kDbase3HeaderSize = 4;
constexpr size_t kDbase4HeaderSize = 22;
constexpr size_t kFoxProHeaderSize = 8;
constexpr size_t kSmtHeaderSize = 14;
constexpr size_t kBlockHeaderSize = 8;
constexpr size_t kSmtReferenceWidth = 10;
constexpr size_t kReadChunk = 65536;
constexpr uint8_t kDbase4BlockMark[4] = {0xFF, 0xFF, 0x08, 0x00};
constexpr uint32_t kFoxProTextBlock = 1;

// The format follows the version byte, not the table kind.
MemoFormat memo_format(uint8_t version) {
    switch (version) {
    case kVersionDbase3: case kVersionDbase3Memo: return MemoFormat::kDbase3;
    case kVersionDbase4: case kVersionDbase4Memo: case kVersionLevel7Memo: return MemoFormat::kDbase4;
    case kVersionVisualFoxPro: case kVersionVisualFoxProAutoincrement: case kVersionVisualFoxProVarchar:
    case kVersionFoxProMemo: return MemoFormat::kFoxPro;
    case kVersionSmt: return MemoFormat::kSmt;
    default: return MemoFormat::kNone;
    }
}

enum class MemoAccess { read, write };

// Opens the table's memo file for one kind of access. A file whose name differs
// only in letter case is found too. A table named like its own memo file is not its
// memo file: it counts as missing. Reading opens the file for reading only; writing
// opens it only when the table itself is open for writing, so a table opened
// read-only leaves its memo file as it is.
FileHandle open_memo_file(const DbfTable& table, MemoAccess access) {
    const std::string name = memo_file_path(table);
    FileHandle file;
    if (access == MemoAccess::read) {
        errno = 0;
        file = open_file_read_only(name);
        if (!file && !name.empty() && table.first_memo_field >= 0) table.memo_read_error = errno != 0 ? errno : ENOENT;
    } else if (table.table_handle.is_writable())
        file = open_file_write_access(name);
    if (is_same_file(file, table.table_handle)) file.close();
    return file;
}

// The memo file in `memo_handle` for one operation, closed at its end.
class MemoSession {
public:
    MemoSession(DbfTable& table, MemoAccess access) : table_(table) {
        table_.memo_handle = open_memo_file(table_, access);
    }
    ~MemoSession() { table_.memo_handle.close(); }
    MemoSession(const MemoSession&) = delete;
    MemoSession& operator=(const MemoSession&) = delete;
    bool is_open() const { return table_.memo_handle.is_open(); }
    FileHandle& file() { return table_.memo_handle; }

private:
    DbfTable& table_;
};

bool read_exact(FileHandle& file, uint64_t offset, uint8_t* buffer, size_t count) {
    if (!file.seek(offset)) return false;
    return file.read(buffer, count) == static_cast<long long>(count);
}

// End of the readable memo area: the file size, but no further than 2 GiB.
uint64_t readable_end(const FileHandle& file) {
    long long size = file.size();
    if (size <= 0) return 0;
    return std::min<uint64_t>(static_cast<uint64_t>(size), kMemoDataLimit);
}

// Up to `count` bytes at `offset`: never more than the file holds.
std::string read_available(FileHandle& file, uint64_t offset, uint64_t count) {
    uint64_t end = readable_end(file);
    if (offset >= end) return std::string();
    count = std::min(count, end - offset);
    std::string data(static_cast<size_t>(count), '\0');
    if (!file.seek(offset)) return std::string();
    long long got = file.read(data.data(), data.size());
    data.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return data;
}

// The header fields of a memo file that the engine uses.
struct MemoHeader {
    uint32_t next_free = 0;   // first block past the last memo
    uint32_t block_size = 0;  // dBase III keeps none: its blocks are 512 bytes
};

// Reads the memo file's header: the next free block number at offset 0 (big-endian
// in FoxPro files) and the block size (dBase IV at 20, FoxPro big-endian at 6, SMT at
// 4). Nothing when the file is shorter than the format's header.
std::optional<MemoHeader> read_memo_header(FileHandle& file, MemoFormat format) {
    uint8_t header[kDbase4HeaderSize];  // the longest of the four
    switch (format) {
    case MemoFormat::kDbase3:
        if (!read_exact(file, 0, header, kDbase3HeaderSize)) return std::nullopt;
        return MemoHeader{read_le32(header), kDbase3BlockSize};
    case MemoFormat::kDbase4:
        if (!read_exact(file, 0, header, kDbase4HeaderSize)) return std::nullopt;
        return MemoHeader{read_le32(header), read_le16(header + 20)};
    case MemoFormat::kFoxPro:
        if (!read_exact(file, 0, header, kFoxProHeaderSize)) return std::nullopt;
        return MemoHeader{read_be32(header), read_be16(header + 6)};
    case MemoFormat::kSmt:
        if (!read_exact(file, 0, header, kSmtHeaderSize)) return std::nullopt;
        return MemoHeader{read_le32(header), read_le16(header + 4)};
    case MemoFormat::kNone: break;
    }
    return std::nullopt;
}

// Block size as the readers take it: 512 for dBase III whatever the file holds,
// the header's value otherwise, and 256 when the header is cut short.
uint32_t block_size_for_reading(FileHandle& file, MemoFormat format) {
    if (format == MemoFormat::kDbase3) return kDbase3BlockSize;
    std::optional<MemoHeader> header = read_memo_header(file, format);
    return header ? header->block_size : kShortHeaderBlockSize;
}

// dBase III: the text runs from the block to the first 0x1A, or to the end of the file.
std::optional<std::string> read_dbase3(FileHandle& file, uint32_t block) {
    uint64_t position = static_cast<uint64_t>(block) * kDbase3BlockSize;
    if (position >= kMemoDataLimit) return std::nullopt;
    std::string text;
    const uint64_t end = readable_end(file);
    while (position < end) {
        std::string part = read_available(file, position, std::min<uint64_t>(kReadChunk, end - position));
        if (part.empty()) break;
        size_t marker = part.find(static_cast<char>(kEndOfFile));
        if (marker != std::string::npos) {
            text.append(part, 0, marker);
            break;
        }
        text += part;
        position += part.size();
    }
    return text;
}

// dBase IV and FoxPro: an 8-byte block header before the data. dBase IV: FF FF 08 00
// and the total length (block header included), little-endian. FoxPro: the type
// (below 256) and the data length, big-endian.
std::optional<std::string> read_with_block_header(FileHandle& file, MemoFormat format, uint32_t block) {
    std::optional<MemoHeader> header = read_memo_header(file, format);
    if (!header || header->block_size == 0) return std::nullopt;
    uint64_t offset = static_cast<uint64_t>(block) * header->block_size;
    if (offset >= kMemoDataLimit) return std::nullopt;
    uint8_t block_header[kBlockHeaderSize];
    if (!read_exact(file, offset, block_header, sizeof block_header)) return std::nullopt;
    uint64_t length = 0;
    if (format == MemoFormat::kDbase4) {
        uint32_t total = read_le32(block_header + 4);
        if (std::memcmp(block_header, kDbase4BlockMark, sizeof kDbase4BlockMark) != 0 || total <= 7)
            return std::nullopt;
        length = total - kBlockHeaderSize;
    } else {
        if (block_header[0] != 0 || block_header[1] != 0 || block_header[2] != 0) return std::nullopt;
        length = read_be32(block_header + 4);
    }
    return read_available(file, offset + kBlockHeaderSize, length);
}

// SMT: the length comes from the field's reference; the block holds the data alone.
std::optional<std::string> read_smt(FileHandle& file, uint32_t block, uint32_t length) {
    const uint32_t block_size = block_size_for_reading(file, MemoFormat::kSmt);
    if (length == 0) return std::string();
    if (block_size == 0) return std::nullopt;
    uint64_t offset = static_cast<uint64_t>(block) * block_size;
    if (offset >= kMemoDataLimit) return std::nullopt;
    return read_available(file, offset, length);
}

// dBase III memos end with two end markers: readers stop at the first, and some
// read on past a single one.
constexpr size_t kDbase3EndMarkers = 2;

// The block where a new memo goes: the header's next free block, or when that lies
// past the end of the file, the first whole block at the end of the file. Blocks
// past the end hold no memo, so nothing is lost, and the file takes no hole.
uint32_t append_block(const FileHandle& file, uint32_t next_free, uint32_t block_size) {
    if (block_size == 0) return next_free;
    const long long size = file.size();
    const uint64_t end_block = size > 0 ? (static_cast<uint64_t>(size) + block_size - 1) / block_size : 0;
    if (next_free > end_block && end_block > 0 && end_block <= UINT32_MAX) return static_cast<uint32_t>(end_block);
    return next_free;
}

// Where a memo of `stored` bytes goes at `block`: when it lies past the header
// area and the memo ends within 2 GiB; 0 otherwise.
uint64_t append_offset(uint32_t block, uint32_t block_size, uint64_t stored) {
    if (block_size == 0 || block == 0) return 0;
    uint64_t offset = static_cast<uint64_t>(block) * block_size;
    if (offset < kHeaderArea || offset + stored > kMemoDataLimit) return 0;
    return offset;
}

uint32_t block_count(uint64_t length, uint32_t block_size) {
    return static_cast<uint32_t>((length + block_size - 1) / block_size);
}

// True when a reference to `block` can be stored in the field: the memo file is
// only written when the record can point at the new memo.
bool reference_fits(const DbfTable& table, int field, MemoFormat format, uint32_t block) {
    const FieldDescriptor& f = table.field(field);
    const size_t width = field_width(table, field);
    if (static_cast<size_t>(f.offset) + width > table.record_buffer.size()) return false;
    if (format == MemoFormat::kSmt) return width >= kSmtReferenceWidth;
    if (width == 4) return true;
    return std::to_string(block).size() <= f.length && f.length <= width;
}

// Appends the memo to `file` by format; returns its first block number, or 0 on failure.
uint32_t append_memo(FileHandle& file, const DbfTable& table, int field, MemoFormat format, std::string_view data) {
    std::optional<MemoHeader> header = read_memo_header(file, format);
    if (!header) return 0;
    const uint32_t block_size = header->block_size;
    const uint32_t next_free = append_block(file, header->next_free, block_size);
    std::string stored;
    uint8_t block_header[kBlockHeaderSize];
    switch (format) {
    case MemoFormat::kDbase3:
        stored.assign(data);
        stored.append(kDbase3EndMarkers, static_cast<char>(kEndOfFile));
        break;
    case MemoFormat::kDbase4:
        std::memcpy(block_header, kDbase4BlockMark, sizeof kDbase4BlockMark);
        write_le32(block_header + 4, static_cast<uint32_t>(data.size() + kBlockHeaderSize));
        stored.assign(reinterpret_cast<const char*>(block_header), sizeof block_header);
        stored += data;
        break;
    case MemoFormat::kFoxPro:
        write_be32(block_header, kFoxProTextBlock);
        write_be32(block_header + 4, static_cast<uint32_t>(data.size()));
        stored.assign(reinterpret_cast<const char*>(block_header), sizeof block_header);
        stored += data;
        break;
    case MemoFormat::kSmt: stored.assign(data); break;
    case MemoFormat::kNone: return 0;
    }

    uint64_t offset = append_offset(next_free, block_size, stored.size());
    if (offset == 0 || !reference_fits(table, field, format, next_free)) return 0;
    uint64_t new_next_free = static_cast<uint64_t>(next_free) + block_count(stored.size(), block_size);
    if (new_next_free > UINT32_MAX) return 0;
    if (!file.seek(offset) || !file.write(stored.data(), stored.size())) return 0;

    uint8_t next[4];
    if (format == MemoFormat::kFoxPro)
        write_be32(next, static_cast<uint32_t>(new_next_free));
    else
        write_le32(next, static_cast<uint32_t>(new_next_free));
    // Without the new pointer the next append would overwrite this memo.
    if (!file.seek(0) || !file.write(next, sizeof next)) return 0;
    return next_free;
}

// Stores the reference to a memo of `length` bytes at `block` in the field.
void store_reference(DbfTable& table, int field, MemoFormat format, uint32_t block, size_t length) {
    const FieldDescriptor& f = table.field(field);
    if (format == MemoFormat::kSmt) {
        uint8_t* reference = table.record_buffer.data() + f.offset;
        reference[0] = 0;
        reference[1] = 0;
        write_le32(reference + 2, static_cast<uint32_t>(length));
        write_le32(reference + 6, block);
    } else if (field_width(table, field) == 4) {
        store_field_integer(table, field, static_cast<int32_t>(block));
    } else {
        (void)store_number_text(table, field, block, f.length, 0);  // too narrow: field unchanged
    }
}

// Bytes before a memo's data in its first block, and after it (the dBase III end marker).
size_t block_header_size(MemoFormat format) {
    return format == MemoFormat::kDbase4 || format == MemoFormat::kFoxPro ? kBlockHeaderSize : 0;
}

bool write_memo(DbfTable& table, int field, std::string_view data) {
    if (data.empty() || data.size() >= kMemoDataLimit) return false;
    const MemoFormat format = memo_format(table.version());
    if (format == MemoFormat::kNone) return false;
    uint32_t block = 0;
    {
        MemoSession session(table, MemoAccess::write);
        if (!session.is_open()) return false;
        block = append_memo(session.file(), table, field, format, data);
    }
    if (block == 0) return false;
    store_reference(table, field, format, block, data.size());
    return true;
}

// Where the memo of the record buffer's field lies: its first block and, for SMT
// tables, its length. Nothing when the field holds no reference.
struct MemoLocation {
    uint32_t block = 0;
    uint32_t length = 0;
};
std::optional<MemoLocation> memo_location(const DbfTable& table, int field, MemoFormat format) {
    if (format == MemoFormat::kSmt) {
        // SMT reference: two zero bytes, the length and the block, little-endian.
        const FieldDescriptor& f = table.field(field);
        if (field_width(table, field) < kSmtReferenceWidth ||
            static_cast<size_t>(f.offset) + kSmtReferenceWidth > table.record_buffer.size())
            return std::nullopt;
        const uint8_t* reference = table.record_buffer.data() + f.offset;
        // A reference of zeros reads an empty memo.
        return MemoLocation{read_le32(reference + 6), read_le32(reference + 2)};
    }
    const uint32_t block = memo_block_number(table, field);
    if (block == 0) return std::nullopt;
    return MemoLocation{block, 0};
}

// The memo of the record buffer's field read from `file` in `format`: data bytes
// (text formats up to their end), or nothing.
std::optional<std::string> read_memo_from(FileHandle& file, const DbfTable& table, int field, MemoFormat format) {
    std::optional<MemoLocation> location = memo_location(table, field, format);
    if (!location || !file.is_open()) return std::nullopt;
    switch (format) {
    case MemoFormat::kDbase3: return read_dbase3(file, location->block);
    case MemoFormat::kDbase4:
    case MemoFormat::kFoxPro: return read_with_block_header(file, format, location->block);
    case MemoFormat::kSmt: return read_smt(file, location->block, location->length);
    case MemoFormat::kNone: break;
    }
    return std::nullopt;
}

} // namespace

std::string memo_file_path(const DbfTable& table) {
    return resolve_companion_name(table.memo_file_name, table.table_file_name);
}

uint32_t memo_block_size(DbfTable& table) {
    const MemoFormat format = memo_format(table.version());
    if (format == MemoFormat::kNone) return 0;
    MemoSession session(table, MemoAccess::read);
    if (!session.is_open()) return 0;
    return block_size_for_reading(session.file(), format);
}

std::optional<std::string> read_memo_text(DbfTable& table, int field) {
    // SMT memos keep their length in the reference only: they are read as bytes.
    const MemoFormat format = memo_format(table.version());
    if (format == MemoFormat::kSmt) return std::nullopt;
    std::optional<std::string> text = read_memo_bytes(table, field);
    // The text ends at its first zero byte.
    if (text) text->resize(std::strlen(text->c_str()));
    return text;
}

std::optional<std::string> read_memo_bytes(DbfTable& table, int field) {
    const MemoFormat format = memo_format(table.version());
    if (!memo_location(table, field, format)) return std::nullopt;
    MemoSession session(table, MemoAccess::read);
    return read_memo_from(session.file(), table, field, format);
}

bool write_memo_text(DbfTable& table, int field, std::string_view text) {
    return write_memo(table, field, text.substr(0, text.find('\0')));
}

bool write_memo_bytes(DbfTable& table, int field, std::string_view data) { return write_memo(table, field, data); }

void MemoTextPass::note_reference(DbfTable& table, int field, bool binary) {
    uint32_t block = memo_block_number(table, field);
    if (block == 0) return;
    blocks_.push_back(block);
    if (binary) binary_.push_back(block);
    prepared_ = false;
}

void MemoTextPass::prepare(DbfTable& table) {
    std::sort(blocks_.begin(), blocks_.end());
    blocks_.erase(std::unique(blocks_.begin(), blocks_.end()), blocks_.end());
    closed_.resize(blocks_.size(), false);
    for (uint32_t block : binary_) {
        auto found = std::lower_bound(blocks_.begin(), blocks_.end(), block);
        closed_[static_cast<size_t>(found - blocks_.begin())] = true;
    }
    binary_.clear();
    prepared_ = true;
    if (file_) return;
    const MemoFormat format = memo_format(table.version());
    file_ = open_memo_file(table, MemoAccess::write);
    uint8_t header[kDbase4HeaderSize];
    if (format == MemoFormat::kDbase3)
        block_size_ = kDbase3BlockSize;
    else if (format == MemoFormat::kDbase4 && read_exact(file_, 0, header, kDbase4HeaderSize))
        block_size_ = read_le16(header + 20);
    else if (format == MemoFormat::kFoxPro && read_exact(file_, 0, header, kFoxProHeaderSize))
        block_size_ = read_be16(header + 6);
}

bool MemoTextPass::rewrite(DbfTable& table, int field, const Conversion& conversion) {
    const MemoFormat format = memo_format(table.version());
    if (format == MemoFormat::kNone || format == MemoFormat::kSmt) return false;
    const uint32_t block = memo_block_number(table, field);
    if (block == 0) return false;
    if (!prepared_) prepare(table);
    auto found = std::lower_bound(blocks_.begin(), blocks_.end(), block);
    if (found == blocks_.end() || *found != block) return false;
    const size_t index = static_cast<size_t>(found - blocks_.begin());
    if (closed_[index]) return false;
    closed_[index] = true;
    if (!file_ || block_size_ == 0) return false;
    FileHandle& file = file_;
    const uint32_t block_size = block_size_;

    // The memo's first block, and the end of what it may hold: the end of the
    // readable file, or the next block that a record references.
    const uint64_t start = static_cast<uint64_t>(block) * block_size;
    uint64_t end = readable_end(file);
    if (index + 1 < blocks_.size()) end = std::min(end, static_cast<uint64_t>(blocks_[index + 1]) * block_size);
    if (start < std::max<uint64_t>(kHeaderArea, block_size) || start >= end) return false;

    uint64_t data = start;
    if (format == MemoFormat::kDbase4 || format == MemoFormat::kFoxPro) {
        uint8_t block_header[kBlockHeaderSize];
        if (!read_exact(file, start, block_header, sizeof block_header)) return false;
        uint64_t stated_end = 0;
        if (format == MemoFormat::kDbase4) {
            const uint32_t total = read_le32(block_header + 4);
            if (std::memcmp(block_header, kDbase4BlockMark, sizeof kDbase4BlockMark) != 0 || total <= 7) return false;
            stated_end = start + total;
        } else {
            if (read_be32(block_header) != kFoxProTextBlock) return false;
            stated_end = start + kBlockHeaderSize + read_be32(block_header + 4);
        }
        data = start + kBlockHeaderSize;
        end = std::min(end, stated_end);
    }

    // The text ends at its first zero byte (dBase III: also at 0x1A), and a dBase IV
    // block header met at a block boundary ends it too: that block is another
    // memo's. The region is read in pieces of whole blocks, each with three bytes
    // more, so that a block header at a piece's last boundaries can be seen.
    const uint64_t piece = std::max<uint64_t>(1, kReadChunk / block_size) * block_size;
    bool written = false;
    for (uint64_t from = start; from < end;) {
        const uint64_t until = std::min(end, from + piece);
        std::string bytes = read_available(file, from, until - from + sizeof kDbase4BlockMark - 1);
        if (bytes.size() < until - from) return written;
        auto* text = reinterpret_cast<unsigned char*>(bytes.data());
        size_t begin = static_cast<size_t>(std::max(from, data) - from);
        size_t stop = begin;
        const size_t length = static_cast<size_t>(until - from);
        bool ended = false;
        for (; stop < length; ++stop) {
            if (text[stop] == 0 || (format == MemoFormat::kDbase3 && text[stop] == kEndOfFile)) {
                ended = true;
                break;
            }
            if (format == MemoFormat::kDbase4 && from + stop != start && (from + stop - start) % block_size == 0 &&
                stop + sizeof kDbase4BlockMark <= bytes.size() &&
                std::memcmp(text + stop, kDbase4BlockMark, sizeof kDbase4BlockMark) == 0) {
                ended = true;
                break;
            }
        }
        if (stop > begin) {
            conversion(text + begin, stop - begin);
            if (!file.seek(from + begin) || !file.write(text + begin, stop - begin)) return written;
            written = true;
        }
        if (ended) break;
        from = until;
    }
    return written;
}

MemoReader::MemoReader(DbfTable& table)
    : table_(table), format_(memo_format(table.version())), piece_(kPieceSize) {
    if (format_ != MemoFormat::kNone) file_ = open_memo_file(table, MemoAccess::read);
    file_end_ = readable_end(file_);
    const std::optional<MemoHeader> header = file_ ? read_memo_header(file_, format_) : std::nullopt;
    header_read_ = header.has_value();
    if (header) block_size_ = header->block_size;
}

// Most memos are short: the first read takes the block header and this much data.
constexpr uint64_t kFirstReadSize = 512;

std::span<char> MemoReader::read_piece(uint64_t count) {
    count = std::min<uint64_t>(count, piece_.size());
    long long got = -1;
    if (count > 0 && file_.seek(position_)) got = file_.read(piece_.data(), static_cast<size_t>(count));
    if (got <= 0) return {};
    position_ += static_cast<uint64_t>(got);
    return {piece_.data(), static_cast<size_t>(got)};
}

bool MemoReader::start(int field) {
    done_ = true;
    pending_ = {};
    if (!file_) return false;
    uint64_t length = 0;
    switch (format_) {
    case MemoFormat::kDbase3: {
        const uint32_t block = memo_block_number(table_, field);
        if (block == 0) return false;
        data_start_ = static_cast<uint64_t>(block) * kDbase3BlockSize;
        if (data_start_ >= kMemoDataLimit) return false;
        data_end_ = file_end_;
        break;
    }
    case MemoFormat::kDbase4:
    case MemoFormat::kFoxPro: {
        const uint32_t block = memo_block_number(table_, field);
        if (block == 0 || !header_read_ || block_size_ == 0) return false;
        const uint64_t offset = static_cast<uint64_t>(block) * block_size_;
        if (offset >= kMemoDataLimit) return false;
        // The block header and the first data in one read.
        position_ = offset;
        std::span<char> first = read_piece(kFirstReadSize);
        if (first.size() < kBlockHeaderSize) return false;
        const auto* block_header = reinterpret_cast<const uint8_t*>(first.data());
        if (format_ == MemoFormat::kDbase4) {
            const uint32_t total = read_le32(block_header + 4);
            if (std::memcmp(block_header, kDbase4BlockMark, sizeof kDbase4BlockMark) != 0 || total <= 7) return false;
            length = total - kBlockHeaderSize;
        } else {
            if (block_header[0] != 0 || block_header[1] != 0 || block_header[2] != 0) return false;
            length = read_be32(block_header + 4);
        }
        data_start_ = offset + kBlockHeaderSize;
        data_end_ = std::min(data_start_ + length, std::max(file_end_, data_start_));
        const uint64_t in_first = std::min<uint64_t>(first.size() - kBlockHeaderSize, data_end_ - data_start_);
        pending_ = first.subspan(kBlockHeaderSize, static_cast<size_t>(in_first));
        position_ = data_start_ + in_first;
        done_ = position_ >= data_end_;
        pending_ = whole_characters(pending_);
        return true;
    }
    case MemoFormat::kSmt: {
        const FieldDescriptor& f = table_.field(field);
        if (field_width(table_, field) < kSmtReferenceWidth ||
            static_cast<size_t>(f.offset) + kSmtReferenceWidth > table_.record_buffer.size())
            return false;
        const uint8_t* reference = table_.record_buffer.data() + f.offset;
        length = read_le32(reference + 2);
        const uint32_t block = read_le32(reference + 6);
        const uint32_t block_size = header_read_ ? block_size_ : kShortHeaderBlockSize;
        if (length != 0 && block_size == 0) return false;
        data_start_ = static_cast<uint64_t>(block) * block_size;
        if (length != 0 && data_start_ >= kMemoDataLimit) return false;
        data_end_ = std::min(data_start_ + length, std::max(file_end_, data_start_));
        break;
    }
    case MemoFormat::kNone: return false;
    }
    rewind();
    return true;
}

void MemoReader::rewind() {
    pending_ = {};
    position_ = data_start_;
    done_ = position_ >= data_end_;
}

std::span<char> MemoReader::next() {
    if (!pending_.empty()) {
        std::span<char> piece = pending_;
        pending_ = {};
        return piece;
    }
    if (done_) return {};
    // A dBase III memo ends at its marker: the first read is small, since most
    // memos are, and the later ones take whole pieces.
    const bool first = position_ == data_start_;
    std::span<char> piece = read_piece(std::min<uint64_t>(first ? kFirstReadSize : piece_.size(), data_end_ - position_));
    if (piece.empty()) {
        done_ = true;
        return {};
    }
    if (format_ == MemoFormat::kDbase3) {
        const void* marker = std::memchr(piece.data(), kEndOfFile, piece.size());
        if (marker) {
            piece = piece.first(static_cast<size_t>(static_cast<const char*>(marker) - piece.data()));
            done_ = true;
        }
    }
    if (position_ >= data_end_) done_ = true;
    return whole_characters(piece);
}

std::span<char> MemoReader::whole_characters(std::span<char> piece) {
    if (done_ || piece.size() < 2) return piece;
    const Utf8Page* pairs = double_byte_page(table_);
    if (!pairs) return piece;
    const std::string_view text(piece.data(), piece.size());
    size_t i = 0;
    while (i + 1 < text.size()) i += pairs->character_length(text, i);
    if (i + 1 != text.size() || !pairs->is_lead_byte(static_cast<unsigned char>(text[i]))) return piece;
    // The lead byte is read again with the next piece.
    --position_;
    return piece.first(piece.size() - 1);
}

MemoWriter::MemoWriter(DbfTable& table) : table_(table), format_(memo_format(table.version())) {
    if (format_ != MemoFormat::kNone) file_ = open_memo_file(table, MemoAccess::write);
}

bool MemoWriter::start(int field) {
    failed_ = true;
    written_ = 0;
    field_ = field;
    const std::optional<MemoHeader> header = file_ ? read_memo_header(file_, format_) : std::nullopt;
    if (!header) return false;
    block_size_ = header->block_size;
    const uint32_t next_free = append_block(file_, header->next_free, block_size_);
    offset_ = append_offset(next_free, block_size_, 0);
    if (offset_ == 0 || !reference_fits(table_, field, format_, next_free)) return false;
    block_ = next_free;
    failed_ = false;
    return true;
}

bool MemoWriter::add(std::string_view data) {
    if (failed_) return false;
    if (data.empty()) return true;
    // The memo, its block header and the dBase III end markers must end within 2 GiB.
    const uint64_t end = offset_ + block_header_size(format_) + written_ + data.size() + kDbase3EndMarkers;
    if (end > kMemoDataLimit || !file_.seek(offset_ + block_header_size(format_) + written_) ||
        !file_.write(data.data(), data.size())) {
        failed_ = true;
        return false;
    }
    written_ += data.size();
    return true;
}

bool MemoWriter::finish() {
    if (failed_ || written_ == 0) return false;
    failed_ = true;
    uint8_t block_header[kBlockHeaderSize];
    uint64_t stored = written_ + block_header_size(format_);
    bool ok = true;
    switch (format_) {
    case MemoFormat::kDbase3: {
        const uint8_t markers[kDbase3EndMarkers] = {kEndOfFile, kEndOfFile};
        ok = file_.seek(offset_ + written_) && file_.write(markers, sizeof markers);
        stored += sizeof markers;
        break;
    }
    case MemoFormat::kDbase4:
        std::memcpy(block_header, kDbase4BlockMark, sizeof kDbase4BlockMark);
        write_le32(block_header + 4, static_cast<uint32_t>(stored));
        ok = file_.seek(offset_) && file_.write(block_header, sizeof block_header);
        break;
    case MemoFormat::kFoxPro:
        write_be32(block_header, kFoxProTextBlock);
        write_be32(block_header + 4, static_cast<uint32_t>(written_));
        ok = file_.seek(offset_) && file_.write(block_header, sizeof block_header);
        break;
    case MemoFormat::kSmt:
    case MemoFormat::kNone: break;
    }
    const uint64_t new_next_free = static_cast<uint64_t>(block_) + block_count(stored, block_size_);
    if (!ok || new_next_free > UINT32_MAX) return false;
    uint8_t next[4];
    if (format_ == MemoFormat::kFoxPro)
        write_be32(next, static_cast<uint32_t>(new_next_free));
    else
        write_le32(next, static_cast<uint32_t>(new_next_free));
    if (!file_.seek(0) || !file_.write(next, sizeof next)) return false;
    store_reference(table_, field_, format_, block_, static_cast<size_t>(written_));
    return true;
}

std::optional<TableKind> memo_kind_for_version(uint8_t version) {
    switch (memo_format(version)) {
    case MemoFormat::kDbase3: return TableKind::dbase3;
    case MemoFormat::kDbase4: return TableKind::dbase4;
    case MemoFormat::kFoxPro: return TableKind::foxpro;
    case MemoFormat::kSmt: return TableKind::smt;
    case MemoFormat::kNone: break;
    }
    return std::nullopt;
}

MemoCopier::MemoCopier(DbfTable& table, const std::string& source_name, const std::string& target_name)
    : table_(table), source_(open_file_read_only(source_name)), target_(open_file_write_access(target_name)) {}

bool MemoCopier::copy_field(int field) {
    const MemoFormat format = memo_format(table_.version());
    std::optional<std::string> data = read_memo_from(source_, table_, field, format);
    blank_field(table_, field);
    if (!data || data->empty()) return true;
    if (data->size() >= kMemoDataLimit) return false;
    uint32_t block = append_memo(target_, table_, field, format, *data);
    if (block == 0) return false;
    store_reference(table_, field, format, block, data->size());
    return true;
}

} // namespace rorarodi
