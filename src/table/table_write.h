// Changes to a whole table file: the header rewrite, truncation, appending records
// and the pack with its memo file rebuild.
#pragma once
#include <cstdint>
#include <string>

#include "table/table.h"

namespace rorarodi {

// What a pack rebuilds: table and memo file, the table only, the memo file only.
enum class PackMode : int { table_and_memo = 0, table_only = 1, memo_only = 2 };

// True when the table's file was opened for writing and the header's record
// length agrees with the fields (record_geometry_agrees); nothing below writes (or
// changes the table in memory) otherwise.
bool table_writable(const DbfTable& table);

// Sets one header byte (the table flags, the code-page mark) and stamps today's
// date: writes those four bytes and nothing else, whatever the rest of the header
// says. False when the table is not open for writing or a write fails.
[[nodiscard]] bool write_header_byte(DbfTable& table, size_t offset, uint8_t value);

// For a table whose header record length differs from the sum of its field
// widths: when the data after the header (an end marker aside) is a whole number
// of records of the fields' length and not of the header's, the header was wrong:
// it gets the fields' length and the record count, and true is returned. False,
// nothing changed, otherwise.
[[nodiscard]] bool repair_record_geometry(DbfTable& table);

// Stamps today's date into the header, writes the fixed header part at offset 0
// and the end-of-file marker after the last record. True when the header part was
// written in full.
[[nodiscard]] bool write_header(DbfTable& table);

// Cuts the file after `count` records (or adds blank records up to `count`), sets
// the record count and rewrites the header. False, and nothing changed, under a
// view or an order list, or when the file cannot be cut or take the records.
[[nodiscard]] bool truncate_records(DbfTable& table, uint32_t count);

// Removes the records marked deleted (all modes but memo_only) and rebuilds the
// memo file (all modes but table_only), the old one kept under its "~" name. False under a view or an
// order list, or when a read or write failed.
[[nodiscard]] bool pack_table(DbfTable& table, PackMode mode);

// Appends the record buffer (blanked first with `blank`) after the last record, as
// a RecordAppender does; an active view and order grow by the new record. False,
// nothing written, when the write fails.
[[nodiscard]] bool append_record(DbfTable& table, bool blank);

// Appends `count` copies of the record buffer through a RecordAppender. Stops at
// the largest record count the header can hold and at a full disk; the header then
// counts the records really written. Returns that number.
[[nodiscard]] uint32_t append_records(DbfTable& table, uint32_t count);

// The name a pack keeps the old memo file under: the first character of its
// extension replaced by '~' (".fpt" becomes ".~pt").
std::string pack_memo_name(const std::string& memo_file_name);

} // namespace rorarodi
