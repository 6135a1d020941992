// Memo files beside a table: names, block sizes, reading and appending memos in the
// dBase III, dBase IV (and level 7), FoxPro and SMT formats.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Memo file name for a table file name and kind (".dbt", ".fpt"/".dct", ".smt", ".dbv").
std::string make_memo_file_name(const std::string& table_file_name, int kind);

// Derives the table kind from the version byte (7 for the level 7 layout), stores
// the memo file name and kind in the table, clears `memo_slot`; returns the kind.
int derive_table_kind(DbfTable& table);

// Name of the memo file on disk: `memo_file_name`, or when no file has exactly that
// name, a file of the same directory whose name differs only in letter case and
// that is not the memo file of another table there.
std::string memo_file_path(const DbfTable& table);

// Block size of the table's memo file, 0 when it cannot be opened or the version
// byte selects no memo format.
uint32_t memo_block_size(DbfTable& table);

// The memo of the current record's field as text (up to its end), or nothing.
std::optional<std::string> read_memo_text(DbfTable& table, int field);
// The memo's data bytes (may hold zero bytes), or nothing.
std::optional<std::string> read_memo_bytes(DbfTable& table, int field);

// Appends a new memo and stores its reference in the field of `record_buffer`;
// false (field unchanged) for empty data or when the memo file cannot be written.
bool write_memo_text(DbfTable& table, int field, const std::string& text);
bool write_memo_bytes(DbfTable& table, int field, const std::string& data);

// Writes `text` over the data of the current record's memo, in place and with the
// same length (dBase III, dBase IV and FoxPro formats). False, and nothing written,
// when there is no memo, the format keeps no text in place, the memo file's header
// is short or its block size 0, or the text would reach into the header area or past
// the end of the file.
bool overwrite_memo_text(DbfTable& table, int field, const std::string& text);

// One pass of in-place rewrites of the memo texts of a table (the code-page
// conversions). All references are noted first; then each text is rewritten from
// its data up to its stated length or end, but never past the start of the next
// block that any record references, never over the header of the memo file or of
// a block, and each block at most once. Binary blocks are never rewritten: those of
// fields noted as binary, and FoxPro blocks of any type but text (1).
class MemoTextPass {
public:
    using Conversion = std::function<void(unsigned char* text, size_t length)>;

    // Notes the memo block of the current record's field.
    void note_reference(DbfTable& table, int field, bool binary);
    // Rewrites the text of the current record's memo field through `conversion`,
    // which keeps the length (dBase III, dBase IV and FoxPro formats). False when
    // nothing was written: no memo, a block not noted, already rewritten or binary,
    // a damaged block header, or a memo file that cannot be written.
    bool rewrite(DbfTable& table, int field, const Conversion& conversion);

private:
    void prepare();

    std::vector<uint32_t> blocks_;   // every noted block; ascending once prepared
    std::vector<uint32_t> binary_;   // blocks of binary fields
    std::vector<bool> closed_;       // per block: rewritten already, or binary
    bool prepared_ = false;
};

} // namespace rorarodi
