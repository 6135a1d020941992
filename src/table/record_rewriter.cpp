#include "table/record_rewriter.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace rorarodi {

namespace {
constexpr size_t kBlockBytes = 512 * 1024;
} // namespace

RecordRewriter::RecordRewriter(DbfTable& table) : table_(table), length_(table.record_length()) {
    if (length_ > 0) max_run_ = std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / length_));
}

// Callers that report a failure call finish() themselves; here it only completes.
RecordRewriter::~RecordRewriter() { (void)flush(); }

bool RecordRewriter::load_block(uint32_t position, uint32_t physical) {
    first_ = physical;
    records_ = 0;
    if (length_ == 0) return false;
    // The run of view positions from here that lie one after another in the file.
    const uint32_t count = view_record_count(table_);
    uint32_t run = 1;
    while (run < max_run_ && uint64_t{position} + run < count && physical_index(table_, position + run) == uint64_t{physical} + run)
        ++run;
    block_.resize(size_t{run} * length_);
    if (!table_.table_handle.seek(record_file_offset(length_, physical, table_.header_length()))) return false;
    long long got = table_.table_handle.read(block_.data(), block_.size());
    if (got <= 0) return false;
    records_ = static_cast<uint64_t>(got) / length_;
    return records_ > 0;
}

bool RecordRewriter::read(uint32_t position) {
    const uint32_t physical = physical_index(table_, position);
    if (!in_block(physical)) {
        if (!flush()) failed_ = true;
        if (!load_block(position, physical)) return read_view_record(table_, position);
    }
    std::memcpy(table_.record_buffer.data(), block_.data() + (physical - first_) * length_, length_);
    if (table_.after_record_read) table_.after_record_read(table_);
    return true;
}

bool RecordRewriter::write(uint32_t position) {
    // The write hook works on the buffer in place; the plain values come back after.
    if (table_.before_record_write) plain_.assign(table_.record_buffer.begin(), table_.record_buffer.begin() + length_);
    const bool written = store(position) && !std::exchange(failed_, false);
    if (table_.before_record_write) std::copy(plain_.begin(), plain_.end(), table_.record_buffer.begin());
    return written;
}

bool RecordRewriter::store(uint32_t position) {
    const uint32_t physical = physical_index(table_, position);
    if (!in_block(physical)) {
        bool flushed = flush();
        return write_view_record(table_, position) && flushed;
    }
    if (table_.before_record_write) table_.before_record_write(table_);
    const uint64_t index = physical - first_;
    std::memcpy(block_.data() + index * length_, table_.record_buffer.data(), length_);
    if (dirty_end_ == dirty_begin_) {
        dirty_begin_ = index;
        dirty_end_ = index + 1;
    } else {
        dirty_begin_ = std::min(dirty_begin_, index);
        dirty_end_ = std::max(dirty_end_, index + 1);
    }
    return true;
}

bool RecordRewriter::flush() {
    if (dirty_end_ == dirty_begin_) return true;
    if (!backup_before_write(table_)) {
        // Without the backup the changed records are not written.
        dirty_begin_ = dirty_end_ = 0;
        return false;
    }
    const uint64_t offset = static_cast<uint64_t>(table_.header_length()) + (first_ + dirty_begin_) * length_;
    bool written = table_.table_handle.seek(offset) &&
                   table_.table_handle.write(block_.data() + dirty_begin_ * length_, (dirty_end_ - dirty_begin_) * length_);
    dirty_begin_ = dirty_end_ = 0;
    return written;
}

bool RecordRewriter::finish() { return flush() && !std::exchange(failed_, false); }

} // namespace rorarodi
