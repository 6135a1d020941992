#include "table/record_appender.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/progress.h"
#include "table/dbf_format.h"
#include "table/header_write.h"

namespace rorarodi {

namespace {

// Records are written this many bytes at a time.
constexpr size_t kBlockBytes = 512 * 1024;
// A copy reads the source's records in pieces of this size.
constexpr uint64_t kReadBytes = 4 * 1024 * 1024;
constexpr uint32_t kMaxRecordCount = std::numeric_limits<uint32_t>::max();

uint64_t record_offset(const DbfTable& table, uint64_t index) {
    return static_cast<uint64_t>(table.header_length()) + index * table.record_length();
}

// copy_records_in_order for records that do not fit in `memory`: the order is taken
// a window at a time, and the window's records are read in the order they lie in
// the file (neighbours in one read) into their places, then appended.
[[nodiscard]] bool copy_in_windows(DbfTable& source, DbfTable& target, const OrderList& order, uint64_t memory) {
    const uint32_t length = source.record_length();
    const uint32_t count = source.record_count();
    // A window's records, and its entries as physical index and place.
    const size_t window = static_cast<size_t>(
        std::clamp<uint64_t>(memory / (length + sizeof(uint64_t)), 1, std::max<size_t>(1, order.size())));
    std::vector<uint8_t> records(window * length);
    std::vector<uint64_t> entries;
    entries.reserve(window);
    const size_t run_limit = std::max<size_t>(1, kReadBytes / length);
    std::vector<uint8_t> run(std::min(run_limit, window) * length);
    RecordAppender out(target);
    ProgressMeter progress(order.size());
    for (size_t first = 0; first < order.size(); first += window) {
        progress.step(first);
        const size_t held = std::min(window, order.size() - first);
        entries.clear();
        for (size_t k = 0; k < held; ++k) {
            const uint32_t index = order[first + k];
            if (index >= count) return false;
            entries.push_back(uint64_t{index} << 32 | k);
        }
        std::sort(entries.begin(), entries.end());
        for (size_t i = 0; i < held;) {
            // Records that lie one after another are read at once.
            const uint32_t start = static_cast<uint32_t>(entries[i] >> 32);
            size_t end = i + 1;
            while (end < held && end - i < run_limit && (entries[end] >> 32) == uint64_t{start} + (end - i)) ++end;
            const size_t bytes = (end - i) * length;
            if (!source.table_handle.seek(record_offset(source, start)) ||
                source.table_handle.read(run.data(), bytes) != static_cast<long long>(bytes))
                return false;
            for (size_t e = i; e < end; ++e)
                std::memcpy(records.data() + (entries[e] & 0xFFFFFFFFu) * length, run.data() + (e - i) * length, length);
            i = end;
        }
        for (size_t k = 0; k < held; ++k)
            if (!append_copied_record(source, target, out, records.data() + k * length)) return false;
    }
    return out.finish();
}

} // namespace

RecordAppender::RecordAppender(DbfTable& table)
    : table_(table), length_(table.record_length()), first_index_(table.record_count()),
      view_size_(view_record_count(table)) {
    writable_ = length_ > 0 && !table.record_buffer.empty() && table_writable(table);
    if (writable_) {
        const long long size = table.table_handle.size();
        original_size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
        uint8_t byte = 0;
        had_end_marker_ = table.table_handle.seek(record_offset(table, first_index_)) &&
                          table.table_handle.read(&byte, 1) == 1 && byte == kEndOfFile;
    }
    if (length_ > 0) block_capacity_ = std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / length_));
}

// Callers that report a failure call finish() themselves; here it only completes.
RecordAppender::~RecordAppender() { (void)finish(); }

uint8_t* RecordAppender::next_slot() {
    if (!writable_ || failed_ || finished_ || appended_ == kMaxRecordCount - first_index_) return nullptr;
    if (pending_ == block_capacity_ && !flush()) return nullptr;
    const size_t needed = (static_cast<size_t>(pending_) + 1) * length_;
    if (block_.size() < needed) block_.resize(std::min<size_t>(static_cast<size_t>(block_capacity_) * length_, needed * 2));
    uint8_t* slot = block_.data() + static_cast<size_t>(pending_) * length_;
    ++pending_;
    ++appended_;
    return slot;
}

bool RecordAppender::append() {
    uint8_t* slot = next_slot();
    if (!slot) return false;
    if (!table_.before_record_write) {
        std::memcpy(slot, table_.record_buffer.data(), length_);
        return true;
    }
    plain_.assign(table_.record_buffer.begin(), table_.record_buffer.begin() + length_);
    table_.before_record_write(table_);
    std::memcpy(slot, table_.record_buffer.data(), length_);
    std::copy(plain_.begin(), plain_.end(), table_.record_buffer.begin());
    return true;
}

bool RecordAppender::append_stored(const uint8_t* record) {
    uint8_t* slot = next_slot();
    if (!slot) return false;
    std::memcpy(slot, record, length_);
    return true;
}

bool RecordAppender::append_stored_run(const uint8_t* records, uint32_t count) {
    const bool fits = writable_ && !failed_ && !finished_ && count <= kMaxRecordCount - first_index_ - appended_;
    if (count < block_capacity_ || !fits || !flush()) {
        // Short runs, and runs that meet the record limit, go record by record.
        for (uint32_t i = 0; i < count; ++i)
            if (!append_stored(records + static_cast<size_t>(i) * length_)) return false;
        return true;
    }
    run_ = records;
    pending_ = count;
    appended_ += count;
    const bool written = flush();
    run_ = nullptr;
    return written;
}

bool RecordAppender::flush() {
    if (pending_ == 0) return true;
    if (written_ == 0 && !backup_before_write(table_)) {
        // Without the backup nothing is appended: the file stays as it was.
        appended_ = 0;
        pending_ = 0;
        failed_ = true;
        return false;
    }
    FileHandle& file = table_.table_handle;
    const uint64_t start = record_offset(table_, first_index_);
    const uint64_t offset = start + static_cast<uint64_t>(written_) * length_;
    const uint8_t* records = run_ ? run_ : block_.data();
    if (file.seek(offset) && file.write(records, static_cast<size_t>(pending_) * length_)) {
        written_ += pending_;
        pending_ = 0;
        return true;
    }
    // A full disk: keep the whole records that reached the file, cut the rest. The
    // repairs below are the best that can be done; the failure is reported anyway.
    const long long size = file.size();
    uint64_t reached = size > 0 && static_cast<uint64_t>(size) > start ? (static_cast<uint64_t>(size) - start) / length_ : 0;
    reached = std::clamp<uint64_t>(reached, written_, static_cast<uint64_t>(written_) + pending_);
    written_ = static_cast<uint32_t>(reached);
    if (written_ > 0) {
        // The header rewrite puts the end marker after the last whole record.
        (void)file.truncate(start + reached * length_);
    } else {
        // Nothing appended: the file keeps its old end, end marker included.
        (void)file.truncate(std::max<uint64_t>(start, original_size_));
        uint8_t byte = 0;
        const uint8_t marker = kEndOfFile;
        if (had_end_marker_ && !(file.seek(start) && file.read(&byte, 1) == 1 && byte == kEndOfFile) && file.seek(start))
            (void)file.write(&marker, 1);
    }
    pending_ = 0;
    appended_ = written_;
    failed_ = true;
    return false;
}

bool RecordAppender::finish() {
    if (finished_) return !failed_;
    finished_ = true;
    if (!writable_) return appended_ == 0;
    (void)flush();  // a failed write is kept in failed_, answered below
    if (written_ == 0) return !failed_;
    try {
        // Room first, so that the view and the order grow together or not at all.
        if (table_.order_list) table_.order_list->reserve(table_.order_list->size() + written_);
        if (table_.filter.view_list) table_.filter.view_list->reserve(table_.filter.view_list->size() + written_);
        for (uint32_t i = 0; i < written_; ++i) {
            if (table_.order_list) table_.order_list->push_back(view_size_ + i);
            if (table_.filter.view_list) table_.filter.view_list->push_back(first_index_ + i);
        }
    } catch (const std::bad_alloc&) {
        // The records are in the file; a view that cannot grow leaves them out.
    }
    table_.set_record_count(first_index_ + written_);
    const bool header = write_header(table_);
    return header && !failed_;
}

bool append_copied_record(DbfTable& source, DbfTable& target, RecordAppender& out, const uint8_t* record) {
    if (!source.after_record_read && !target.before_record_write) return out.append_stored(record);
    const size_t length = source.record_length();
    if (record != source.record_buffer.data()) std::memcpy(source.record_buffer.data(), record, length);
    if (source.after_record_read) source.after_record_read(source);
    std::memcpy(target.record_buffer.data(), source.record_buffer.data(), length);
    return out.append();
}

bool copy_records_in_order(DbfTable& source, DbfTable& target, const OrderList& order,
                           uint64_t in_memory_bytes) {
    const uint32_t length = source.record_length();
    if (length == 0 || length != target.record_length() || source.record_buffer.empty() || target.record_buffer.empty())
        return false;
    const uint32_t count = source.record_count();
    const uint64_t total = static_cast<uint64_t>(count) * length;

    // The whole record area at once when it fits, read in large blocks; otherwise
    // (or when that much memory cannot be had) a window at a time.
    std::vector<uint8_t> records;
    if (total > in_memory_bytes) return copy_in_windows(source, target, order, in_memory_bytes);
    try {
        records.resize(static_cast<size_t>(total));
    } catch (const std::bad_alloc&) {
        return copy_in_windows(source, target, order, kReadBytes);
    }
    for (uint64_t done = 0; done < total;) {
        const size_t bytes = static_cast<size_t>(std::min<uint64_t>(kReadBytes, total - done));
        if (!source.table_handle.seek(record_offset(source, 0) + done) ||
            source.table_handle.read(records.data() + done, bytes) != static_cast<long long>(bytes))
            return false;
        done += bytes;
    }

    RecordAppender out(target);
    ProgressMeter progress(order.size());
    uint64_t copied = 0;
    for (uint32_t index : order) {
        progress.step(copied++);
        if (index >= count) return false;
        if (!append_copied_record(source, target, out, records.data() + static_cast<size_t>(index) * length))
            return false;
    }
    return out.finish();
}

} // namespace rorarodi
