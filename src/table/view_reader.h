// Sequential reading of a view: runs of physically consecutive records come from
// one block read instead of one read per record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// Reads the records of a view in order, serving runs of physically consecutive
// records from one block read. Every record reaches the record buffer and the read
// hook exactly as read_view_record leaves it; anything a block cannot serve (a
// failed or short read) goes through read_view_record itself.
class ViewReader {
public:
    ViewReader(DbfTable& table, uint32_t count);

    // Reads the record at a view position into the record buffer; false when it
    // could not be read.
    bool read(uint32_t position);

    // Leaves the file position after the last record, as a single read would.
    void finish();

private:
    static constexpr size_t kBlockBytes = 256 * 1024;

    bool load_block(uint32_t position, uint64_t physical);

    DbfTable& table_;
    uint32_t count_;
    uint32_t length_;
    uint32_t max_run_ = 1;
    std::vector<uint8_t> block_;
    uint64_t block_first_ = 0;
    uint64_t block_records_ = 0;
    bool last_from_block_ = false;
    uint64_t last_physical_ = 0;
};

} // namespace rorarodi
