// Appending many records to a table in large block writes.
#pragma once
#include <cstdint>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Appends records after the last record of a table, collecting them into blocks
// that are written as they fill; finish() writes the rest and then the header
// once (record count, date, end-of-file marker). For a table nothing else reads
// meanwhile, such as the output table of an export: the table's view and order
// lists are not extended.
class RecordAppender {
public:
    explicit RecordAppender(DbfTable& table);
    ~RecordAppender() { finish(); }
    RecordAppender(const RecordAppender&) = delete;
    RecordAppender& operator=(const RecordAppender&) = delete;

    // Queues the record buffer (through the write hook) as the next record; false
    // when the table is not writable, holds the most records a header can count,
    // or a block could not be written.
    bool append();
    // Writes the queued records and, when any record was appended, the header; a
    // failed block write leaves the file ending after the last whole record
    // written. False when a write failed.
    bool finish();

private:
    bool flush();

    DbfTable& table_;
    const uint32_t length_;
    const uint32_t first_;   // record count before the first append
    const bool writable_;
    uint32_t written_ = 0;   // records in the file
    uint32_t queued_ = 0;    // records in the block
    std::vector<uint8_t> block_;
    bool failed_ = false;
    bool finished_ = false;
};

} // namespace rorarodi
