// Memo files beside a table: names, block sizes, reading and appending memos in the
// dBase III, dBase IV (and level 7), FoxPro and SMT formats.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

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

} // namespace rorarodi
