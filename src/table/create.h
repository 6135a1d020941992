// New, empty table files and memo files: header, field descriptors and terminator
// for a chosen table kind, and the header block of an empty memo file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// The three date bytes of a header: year - 1900 (less 100 while above 255), month, day.
struct HeaderDate {
    uint8_t year = 0, month = 0, day = 0;
};

// The header date bytes of a calendar date.
HeaderDate header_date_for(int year, int month, int day);
// Today's date in universal time, as header date bytes.
HeaderDate current_header_date();
// Writes today's date into bytes 1..3 of a header image.
void stamp_header_date(uint8_t* header);

// Version byte a new table of `kind` gets when it has memo fields, and without.
uint8_t new_table_version(TableKind kind, bool has_memo_fields);

// What a table made from another keeps of its header (/MODIFY): the version byte,
// where the new fields leave the table of the same kind with or without memo
// fields as before, and the area after the terminator (a Visual FoxPro table's
// database backlink). Given, a Visual FoxPro table also keeps each descriptor's
// field flags and autoincrement counter as the field list holds them.
struct KeptHeader {
    uint8_t version = 0;
    std::vector<uint8_t> backlink;
};
KeptHeader kept_header_of(DbfTable& table);

// The name of the Visual FoxPro system field that holds null and length bits.
inline constexpr const char* kNullFlagsName = kNullFlagsFieldName;

// Writes an empty table (no records, no end-of-file byte) of `kind` with the fields
// (name, type, length and decimals as the length word, the carried bytes), lengths
// normalised as the kind fixes them; the caller's list is not changed. Header byte
// 29 gets `code_page_mark`. A Visual FoxPro table gets version 0x30 when it has
// memo fields or a type only Visual FoxPro knows (I, Y, T, B of width 8, V, Q, W,
// G, 0), 0x03 otherwise, its 263-byte area in both cases, and with memo fields 2
// in byte 28 and 3 in byte 29 (when the mark is 0); a table with V or Q fields gets
// the `_NullFlags` system field at its end when the list has none. With `make_memo`
// and memo fields, an empty memo file of `memo_block_size` (0: 512) is created too;
// its result does not count unless it failed for want of space or another fault of
// the disk. False when the file cannot be created or written, or when the fields
// need a header or record longer than 65535 bytes (then no file is made). An
// existing file of the name is replaced in one step (it holds the old file or the
// whole new one); with `exclusive`, existing files are never replaced and the
// creation fails instead (work files beside a table).
[[nodiscard]] bool create_table_file(const std::string& file_name, const std::vector<FieldDescriptor>& fields,
                                     TableKind kind, uint32_t memo_block_size, bool make_memo,
                                     uint8_t code_page_mark = 0, const KeptHeader* kept = nullptr,
                                     bool exclusive = false);

// The header block of an empty memo file for a table of `kind` (block size 0 means
// 512; dBase III always uses 512). False when the block size does not fit the
// header's 16 bits or the file cannot be created and written.
[[nodiscard]] bool create_memo_file(const std::string& table_file_name, TableKind kind, uint32_t block_size,
                                    bool exclusive = false);
// The same under a given memo file name (a pack rebuilds the memo file under the
// name it was found by).
[[nodiscard]] bool create_memo_file_at(const std::string& memo_file_name, TableKind kind, uint32_t block_size,
                                       bool exclusive = false);

// The bytes create_memo_file writes.
std::string memo_header_block(TableKind kind, uint32_t block_size);

} // namespace rorarodi
