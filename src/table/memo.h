// Memo files beside a table: names, block sizes, reading and appending memos in the
// dBase III, dBase IV (and level 7), FoxPro and SMT formats.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_format.h"
#include "table/table.h"

namespace rorarodi {

// Memo file layouts, chosen by a table's version byte.
enum class MemoFormat { kNone, kDbase3, kDbase4, kFoxPro, kSmt };

// Name of the memo file on disk: `memo_file_name`, or when no file has exactly that
// name, a file of the same directory whose name differs only in letter case and
// that is not the memo file of another table there.
std::string memo_file_path(const DbfTable& table);

// Block size of the table's memo file, 0 when it cannot be opened or the version
// byte selects no memo format.
uint32_t memo_block_size(DbfTable& table);

// The memo of the current record's field as text (up to its end), or nothing.
[[nodiscard]] std::optional<std::string> read_memo_text(DbfTable& table, int field);
// The memo's data bytes (may hold zero bytes), or nothing.
[[nodiscard]] std::optional<std::string> read_memo_bytes(DbfTable& table, int field);

// Appends a new memo and stores its reference in the field of `record_buffer`;
// false (field unchanged) for empty data, for a table not open for writing, or when
// the memo file cannot be written.
// The text form ends at the first zero byte of `text`.
[[nodiscard]] bool write_memo_text(DbfTable& table, int field, std::string_view text);
[[nodiscard]] bool write_memo_bytes(DbfTable& table, int field, std::string_view data);

// One pass of in-place rewrites of the memo texts of a table (the code-page
// conversions). All references are noted first; then each text is rewritten from
// its data up to its stated length or end, but never past the start of the next
// block that any record references, never over the header of the memo file or of
// a block, and each block at most once. Binary blocks are never rewritten: those of
// fields noted as binary, and FoxPro blocks of any type but text (1). The memo
// file is held open for the pass.
class MemoTextPass {
public:
    using Conversion = std::function<void(unsigned char* text, size_t length)>;

    // Notes the memo block of the current record's field.
    void note_reference(DbfTable& table, int field, bool binary);
    // Rewrites the text of the current record's memo field through `conversion`,
    // which keeps the length (dBase III, dBase IV and FoxPro formats). False when
    // nothing was written: no memo, a block not noted, already rewritten or binary,
    // a damaged block header, or a memo file that cannot be written.
    [[nodiscard]] bool rewrite(DbfTable& table, int field, const Conversion& conversion);

private:
    void prepare(DbfTable& table);

    std::vector<uint32_t> blocks_;   // every noted block; ascending once prepared
    std::vector<uint32_t> binary_;   // blocks of binary fields
    std::vector<bool> closed_;       // per block: rewritten already, or binary
    bool prepared_ = false;
    FileHandle file_;                // the memo file, open from the first rewrite on
    uint32_t block_size_ = 0;        // from its header; 0 when it gives none
};

// Reads the memos of a table piece by piece, so that a memo of any length passes
// through a buffer of fixed size. The memo file is opened once, for the reader's
// life (a table named like its own memo file has none). Each memo reads as
// read_memo_bytes gives it.
class MemoReader {
public:
    static constexpr size_t kPieceSize = 64 * 1024;

    explicit MemoReader(DbfTable& table);
    MemoReader(const MemoReader&) = delete;
    MemoReader& operator=(const MemoReader&) = delete;

    // Starts on the memo of a field of the current record; false when there is
    // none (empty reference, no memo file, no memo at that block).
    [[nodiscard]] bool start(int field);
    // The next piece of the memo started last, in a buffer the caller may change
    // until the next call; empty at the memo's end. In a double-byte page pieces
    // end between characters.
    std::span<char> next();
    // Back to the first byte of the memo started last.
    void rewind();

private:
    DbfTable& table_;
    FileHandle file_;
    MemoFormat format_;
    std::span<char> read_piece(uint64_t count);
    // The piece without a lead byte of a double-byte character that ends it, when
    // more follows: a character is never split between two pieces.
    std::span<char> whole_characters(std::span<char> piece);

    uint64_t file_end_ = 0;      // readable end: the file size, at most 2 GiB
    uint32_t block_size_ = 0;    // from the memo file's header, read once
    bool header_read_ = false;   // the header was long enough to give it
    uint64_t data_start_ = 0;    // first data byte of the current memo
    uint64_t data_end_ = 0;      // end of its data (dBase III: where reading stops at the latest)
    uint64_t position_ = 0;      // next byte to read
    bool done_ = true;
    std::span<char> pending_;    // the first piece, read together with the block header
    std::vector<char> piece_;
};

// Appends memos to a table's memo file piece by piece, the file opened once for
// the writer's life (never for a table not open for writing). A finished memo is
// stored as write_memo_bytes stores it.
class MemoWriter {
public:
    explicit MemoWriter(DbfTable& table);
    MemoWriter(const MemoWriter&) = delete;
    MemoWriter& operator=(const MemoWriter&) = delete;

    // Starts a new memo for a field of the record buffer; false when the memo file
    // cannot take one (none, no free block, a reference the field cannot hold).
    [[nodiscard]] bool start(int field);
    // Adds data to the memo being written; false once it cannot be written.
    [[nodiscard]] bool add(std::string_view data);
    // Ends the memo (end marker or block header, next free block) and stores its
    // reference in the field; false, field unchanged, for an empty memo or after a
    // failed write.
    [[nodiscard]] bool finish();

private:
    DbfTable& table_;
    FileHandle file_;
    MemoFormat format_;
    int field_ = -1;
    uint32_t block_ = 0;
    uint32_t block_size_ = 0;
    uint64_t offset_ = 0;      // where the memo's block starts
    uint64_t written_ = 0;     // data bytes written so far
    bool failed_ = true;
};

// The table kind whose new memo file has the format that a version byte selects
// (dBase III, dBase IV, FoxPro, SMT), or nothing when it selects none.
std::optional<TableKind> memo_kind_for_version(uint8_t version);

// Copies memos from one memo file into another of the table's format, both held
// open for a whole pass over the records (the memo file rebuild of a pack).
class MemoCopier {
public:
    // Opens `source_name` for reading and `target_name` for reading and writing.
    MemoCopier(DbfTable& table, const std::string& source_name, const std::string& target_name);
    bool is_open() const { return source_.is_open() && target_.is_open(); }
    // Re-stores the memo of a memo field of the record buffer: read from the source
    // (never beyond its end), appended to the target, the reference replaced. A
    // memo that cannot be read or is empty leaves the field blank. False when the
    // target could not take the memo (the field is left blank then as well).
    [[nodiscard]] bool copy_field(int field);

private:
    DbfTable& table_;
    FileHandle source_;
    FileHandle target_;
};

} // namespace rorarodi
