// Writing a table's header: whether the table may be written at all, one header
// byte, the whole fixed header part, and the repair of a wrong record length.
#pragma once
#include <cstddef>
#include <cstdint>

#include "table/table.h"

namespace rorarodi {

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

} // namespace rorarodi
