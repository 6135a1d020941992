// Changes to a whole table file: truncation, appending records and the pack with
// its memo file rebuild.
#pragma once
#include <cstdint>
#include <string>

#include "table/header_write.h"
#include "table/table.h"

namespace rorarodi {

// What a pack rebuilds: table and memo file, the table only, the memo file only.
enum class PackMode : int { table_and_memo = 0, table_only = 1, memo_only = 2 };

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
