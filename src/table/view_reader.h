// Sequential reading of a view: runs of physically consecutive records come from
// one block read instead of one read per record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// A record fetched to be looked at: its bytes where they lie, and whether the
// table's record buffer holds them. Field text forms are made from the record
// buffer, so whoever needs one puts the record there first.
struct FetchedRecord {
    const uint8_t* bytes = nullptr;
    bool in_buffer = false;

    void into_buffer(DbfTable& table) {
        if (in_buffer) return;
        std::memcpy(table.record_buffer.data(), bytes, table.record_length());
        in_buffer = true;
    }
};

// Reads the records of a view in order, serving runs of physically consecutive
// records from one block read. Every record reaches the record buffer and the read
// hook exactly as read_view_record leaves it; anything a block cannot serve (a
// failed or short read) goes through read_view_record itself.
class ViewReader {
public:
    ViewReader(DbfTable& table, uint32_t count);

    // Reads the record at a view position into the record buffer; false when it
    // could not be read.
    [[nodiscard]] bool read(uint32_t position);

    // The record at a view position, for a reader that mostly looks at its bytes:
    // a record the block serves, and that no read hook has to see, is left in the
    // block and the record buffer keeps what it held; any other record is read as
    // read() reads it, into the record buffer.
    FetchedRecord fetch(uint32_t position);

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
