#include "table/view_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rorarodi {

ViewReader::ViewReader(DbfTable& table, uint32_t count) : table_(table), count_(count), length_(table.record_length()) {
    if (length_ > 0) max_run_ = std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / length_));
}

bool ViewReader::read(uint32_t position) {
    uint64_t physical = physical_index(table_, position);
    if (!(physical >= block_first_ && physical < block_first_ + block_records_) && !load_block(position, physical)) {
        last_from_block_ = false;
        return read_view_record(table_, position);
    }
    std::memcpy(table_.record_buffer.data(), block_.data() + (physical - block_first_) * length_, length_);
    if (table_.after_record_read) table_.after_record_read(table_);
    last_from_block_ = true;
    last_physical_ = physical;
    return true;
}

FetchedRecord ViewReader::fetch(uint32_t position) {
    if (table_.after_record_read) {
        // A record that cannot be read leaves the buffer as it was, as read() does.
        (void)read(position);
        return {table_.record_buffer.data(), true};
    }
    uint64_t physical = physical_index(table_, position);
    if (!(physical >= block_first_ && physical < block_first_ + block_records_) && !load_block(position, physical)) {
        last_from_block_ = false;
        (void)read_view_record(table_, position);  // as above
        return {table_.record_buffer.data(), true};
    }
    last_from_block_ = true;
    last_physical_ = physical;
    return {block_.data() + (physical - block_first_) * length_, false};
}

void ViewReader::finish() {
    // Only a closed handle refuses a position, and then there is nothing to leave.
    if (last_from_block_)
        (void)table_.table_handle.seek(
            record_file_offset(length_, static_cast<uint32_t>(last_physical_), table_.header_length()) + length_);
}

bool ViewReader::load_block(uint32_t position, uint64_t physical) {
    block_records_ = 0;
    uint32_t run = 1;
    while (run < max_run_ && uint64_t{position} + run < count_ && physical_index(table_, position + run) == physical + run)
        ++run;
    if (run < 2 || physical + run > std::numeric_limits<uint32_t>::max()) return false;
    block_.resize(size_t{run} * length_);
    if (!table_.table_handle.seek(record_file_offset(length_, static_cast<uint32_t>(physical), table_.header_length())))
        return false;
    long long got = table_.table_handle.read(block_.data(), block_.size());
    if (got < static_cast<long long>(length_)) return false;
    block_first_ = physical;
    block_records_ = static_cast<uint64_t>(got) / length_;
    return true;
}

} // namespace rorarodi
