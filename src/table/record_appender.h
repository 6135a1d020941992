// Appending many different records in large blocks, with the header written once,
// and copying a table's records into another table in a chosen order.
#pragma once
#include <cstdint>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Collects records appended after the last one and writes them a block at a time
// (appends from another table, a sorted copy, the output table of an export).
// finish() (or the destructor) writes what is pending, grows an active view and
// order by the new records at their end, and rewrites the header once: record
// count, date and end-of-file marker. Nothing is written to a table that is not
// writable. After a failed write (a full disk) the file ends after the last whole
// record written, the header counts those, and every further append is refused.
class RecordAppender {
public:
    explicit RecordAppender(DbfTable& table);
    ~RecordAppender();
    RecordAppender(const RecordAppender&) = delete;
    RecordAppender& operator=(const RecordAppender&) = delete;

    // Appends the record buffer as a record write stores it (the write hook works
    // on a copy: the buffer keeps its plain values). False when the record is
    // refused: the table is not writable, full (2^32 - 1 records) or a write failed.
    [[nodiscard]] bool append();
    // Appends record-length bytes that are already in stored form (no hook).
    [[nodiscard]] bool append_stored(const uint8_t* record);
    // Appends `count` records in stored form lying one after another, as that many
    // append_stored calls would; a long run is written straight from `records`.
    [[nodiscard]] bool append_stored_run(const uint8_t* records, uint32_t count);
    // Writes what is pending and the header; false when any write failed.
    [[nodiscard]] bool finish();
    // Records appended so far (those of a failed block write not counted after finish).
    uint32_t appended() const { return appended_; }

private:
    uint8_t* next_slot();
    [[nodiscard]] bool flush();

    DbfTable& table_;
    const uint32_t length_;
    const uint32_t first_index_;  // physical index of the first appended record
    const uint32_t view_size_;    // view size before the first append
    uint32_t block_capacity_ = 1;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> plain_;
    const uint8_t* run_ = nullptr;  // records written in place of the block, when set
    uint32_t pending_ = 0;   // records in the block, not yet written
    uint32_t written_ = 0;   // records that reached the file
    uint32_t appended_ = 0;  // written plus pending
    bool writable_ = false;
    bool had_end_marker_ = false;  // the file held 0x1A right after the last record
    uint64_t original_size_ = 0;
    bool failed_ = false;
    bool finished_ = false;
};

// Appends one record of `source`, `record` in its stored form, to `out` (a
// RecordAppender of `target`, whose records have the same length): through the
// source's read hook and the target's write hook when either table has one,
// otherwise as it is stored. False when the record is refused.
[[nodiscard]] bool append_copied_record(DbfTable& source, DbfTable& target, RecordAppender& out, const uint8_t* record);

// Appends the records of `source` at the physical indexes of `order`, in that
// order, to `target`, whose records have the same length: whole records with their
// deletion marks, through the source's read hook and the target's write hook, in
// large blocks with the target's header written once. The source's records are
// read into memory at once when they take at most `in_memory_bytes`, otherwise the
// order is taken a window of about that many bytes at a time, whose records are
// read in file order. False when the lengths differ, an index lies outside the
// table, a record cannot be read or a write fails.
constexpr uint64_t kCopyInMemoryBytes = uint64_t{512} * 1024 * 1024;
[[nodiscard]] bool copy_records_in_order(DbfTable& source, DbfTable& target, const OrderList& order,
                           uint64_t in_memory_bytes = kCopyInMemoryBytes);

} // namespace rorarodi
