// Reading records at view positions and writing them back in place, with runs of
// physically consecutive records served from one block read and written back
// with one block write.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Every read and write behaves as read_view_record and write_view_record would
// (hooks, backup before the first write, a later read sees an earlier write),
// except that the record buffer keeps its plain values after a write; the file
// itself is written when a read or write leaves the block and at finish(). Positions
// that do not form runs are read and written one record at a time.
class RecordRewriter {
public:
    explicit RecordRewriter(DbfTable& table);
    ~RecordRewriter();
    RecordRewriter(const RecordRewriter&) = delete;
    RecordRewriter& operator=(const RecordRewriter&) = delete;

    // The record at a view position into the record buffer; false when it could
    // not be read.
    [[nodiscard]] bool read(uint32_t position);
    // The record buffer as the record at a view position; false when the write
    // failed, or a block written on the way failed.
    [[nodiscard]] bool write(uint32_t position);
    // Writes what is pending; false when that write, or any block written since the
    // last write() or finish() reported, failed.
    [[nodiscard]] bool finish();

private:
    [[nodiscard]] bool store(uint32_t position);
    [[nodiscard]] bool load_block(uint32_t position, uint32_t physical);
    [[nodiscard]] bool flush();
    bool in_block(uint64_t physical) const { return physical >= first_ && physical < first_ + records_; }

    DbfTable& table_;
    const uint32_t length_;
    uint32_t max_run_ = 1;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> plain_;
    uint64_t first_ = 0;
    uint64_t records_ = 0;
    // Changed records of the block, as a range of record indexes within it.
    uint64_t dirty_begin_ = 0;
    uint64_t dirty_end_ = 0;
    bool failed_ = false;  // a block written by a read failed, not yet reported
};

} // namespace rorarodi
