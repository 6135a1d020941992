#include "table/record_appender.h"

#include <algorithm>
#include <limits>

#include "table/table_write.h"

namespace rorarodi {

namespace {
constexpr size_t kBlockBytes = 1024 * 1024;
constexpr uint32_t kMostRecords = std::numeric_limits<uint32_t>::max();
} // namespace

RecordAppender::RecordAppender(DbfTable& table)
    : table_(table), length_(table.record_length()), first_(table.record_count()), writable_(table_writable(table)) {
    const size_t per_block = length_ > 0 ? std::max<size_t>(1, kBlockBytes / length_) : 1;
    block_.reserve(per_block * length_);
}

bool RecordAppender::append() {
    if (failed_ || finished_ || length_ == 0 || !writable_ || table_.record_buffer.size() < length_ ||
        uint64_t{first_} + written_ + queued_ >= kMostRecords)
        return false;
    if (block_.size() + length_ > block_.capacity() && !flush()) return false;
    const uint8_t* record = table_.record_buffer.data();
    if (table_.before_record_write) {
        // The hook changes the record buffer: the block takes its result and the
        // buffer gets its plain record back.
        std::vector<uint8_t> plain(record, record + length_);
        table_.before_record_write(table_);
        block_.insert(block_.end(), record, record + length_);
        std::copy(plain.begin(), plain.end(), table_.record_buffer.begin());
    } else {
        block_.insert(block_.end(), record, record + length_);
    }
    ++queued_;
    return true;
}

bool RecordAppender::flush() {
    if (queued_ == 0) return !failed_;
    FileHandle& file = table_.table_handle;
    const uint64_t start = record_file_offset(length_, first_ + written_, table_.header_length());
    if (!file.seek(start) || !file.write(block_.data(), block_.size())) {
        // Keep the whole records that reached the file, and no part of another.
        const long long size = file.size();
        uint64_t reached = size > 0 && static_cast<uint64_t>(size) > start ? (static_cast<uint64_t>(size) - start) / length_ : 0;
        reached = std::min<uint64_t>(reached, queued_);
        written_ += static_cast<uint32_t>(reached);
        file.truncate(start + reached * length_);
        failed_ = true;
    } else {
        written_ += queued_;
    }
    queued_ = 0;
    block_.clear();
    return !failed_;
}

bool RecordAppender::finish() {
    if (finished_) return !failed_;
    flush();
    finished_ = true;
    if (written_ > 0) {
        table_.set_record_count(first_ + written_);
        if (!write_header(table_)) failed_ = true;
    }
    return !failed_;
}

} // namespace rorarodi
