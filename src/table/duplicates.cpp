#include "table/duplicates.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/progress.h"
#include "table/dbf_format.h"
#include "table/table_write.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

constexpr uint64_t kReadBytes = 4 * 1024 * 1024;
// Marks are written into blocks of records of about this size.
constexpr size_t kBlockBytes = 512 * 1024;
constexpr uint32_t kEmptySlot = std::numeric_limits<uint32_t>::max();

uint64_t rotate_left(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }

uint64_t final_mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    return h;
}

// A 64-bit hash of a record, eight bytes at a time.
uint64_t record_hash(const uint8_t* bytes, size_t length) {
    constexpr uint64_t kMultiplier = 0x87C37B91114253D5ULL;
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ length;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        h = rotate_left(h ^ (word * kMultiplier), 27) * 5 + 0x52DCE729;
    }
    uint64_t tail = 0;
    for (size_t k = 0; i + k < length; ++k) tail |= static_cast<uint64_t>(bytes[i + k]) << (8 * k);
    h = rotate_left(h ^ (tail * kMultiplier), 27) * 5 + 0x52DCE729;
    return final_mix(h);
}

// The records of a view by position, as read_view_record leaves them. When the
// table's records fit the memory budget they are read once, in large blocks, and
// served from memory; otherwise the walk in view order reads blocks of runs and
// earlier records are read again when needed.
class ViewRecords {
public:
    ViewRecords(DbfTable& table, uint32_t view_size, uint64_t in_memory_bytes)
        : table_(table), length_(table.record_length()), count_(table.record_count()), reader_(table, view_size) {
        load(in_memory_bytes);
    }

    // The record at the next position of the walk in view order.
    const uint8_t* next(uint32_t position, std::vector<uint8_t>& scratch) {
        if (const uint8_t* record = from_memory(position)) return record;
        // An unreadable record is compared as the buffer holds it, as every walk does.
        (void)reader_.read(position);
        return keep(scratch);
    }

    // The record at any position.
    const uint8_t* at(uint32_t position, std::vector<uint8_t>& scratch) {
        if (const uint8_t* record = from_memory(position)) return record;
        (void)read_view_record(table_, position);  // as above
        return keep(scratch);
    }

private:
    void load(uint64_t in_memory_bytes) {
        const uint64_t total = static_cast<uint64_t>(count_) * length_;
        if (total > in_memory_bytes) return;
        try {
            records_.resize(static_cast<size_t>(total));
        } catch (const std::bad_alloc&) {
            return;  // the records are read from the file instead
        }
        const uint64_t base = table_.header_length();
        for (uint64_t done = 0; done < total;) {
            const size_t bytes = static_cast<size_t>(std::min(kReadBytes, total - done));
            if (!table_.table_handle.seek(base + done) ||
                table_.table_handle.read(records_.data() + done, bytes) != static_cast<long long>(bytes)) {
                records_.clear();
                records_.shrink_to_fit();
                return;
            }
            done += bytes;
        }
        if (table_.after_record_read) {
            for (uint64_t offset = 0; offset < total; offset += length_) {
                std::memcpy(table_.record_buffer.data(), records_.data() + offset, length_);
                table_.after_record_read(table_);
                std::memcpy(records_.data() + offset, table_.record_buffer.data(), length_);
            }
        }
        in_memory_ = true;
    }

    const uint8_t* from_memory(uint32_t position) const {
        if (!in_memory_) return nullptr;
        const uint32_t physical = physical_index(table_, position);
        if (physical >= count_) return nullptr;
        return records_.data() + static_cast<size_t>(physical) * length_;
    }

    const uint8_t* keep(std::vector<uint8_t>& scratch) {
        scratch.assign(table_.record_buffer.begin(), table_.record_buffer.begin() + length_);
        return scratch.data();
    }

    DbfTable& table_;
    const uint32_t length_;
    const uint32_t count_;
    ViewReader reader_;
    std::vector<uint8_t> records_;
    bool in_memory_ = false;
};

// One record of each group of equal records seen so far.
struct Representative {
    uint64_t hash;
    uint32_t position;
};

} // namespace

std::vector<uint32_t> find_duplicate_positions(DbfTable& table, uint64_t in_memory_bytes) {
    std::vector<uint32_t> duplicates;
    const uint32_t view_size = view_record_count(table);
    const uint32_t length = table.record_length();
    if (view_size < 2 || length == 0 || table.record_buffer.empty()) return duplicates;

    ViewRecords records(table, view_size, in_memory_bytes);
    // Open addressing over the representatives: a slot holds an index into
    // `representatives`; equal hashes of different records simply sit in
    // neighbouring slots.
    size_t capacity = 16;
    while (capacity < static_cast<size_t>(view_size) * 2) capacity <<= 1;
    const size_t mask = capacity - 1;
    std::vector<uint32_t> slots(capacity, kEmptySlot);
    std::vector<Representative> representatives;
    std::vector<uint8_t> current, earlier;

    ProgressMeter progress(view_size);
    for (uint32_t position = 0; position < view_size; ++position) {
        progress.step(position);
        const uint8_t* record = records.next(position, current);
        // A deleted record is never marked, and never equals a live one.
        if (record[0] == kDeletedMark) continue;
        const uint64_t hash = record_hash(record, length);
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const uint32_t index = slots[slot];
            if (index == kEmptySlot) {
                slots[slot] = static_cast<uint32_t>(representatives.size());
                representatives.push_back({hash, position});
                break;
            }
            const Representative& candidate = representatives[index];
            if (candidate.hash == hash && std::memcmp(records.at(candidate.position, earlier), record, length) == 0) {
                duplicates.push_back(position);
                break;
            }
        }
    }
    return duplicates;
}

uint32_t mark_positions_deleted(DbfTable& table, const std::vector<uint32_t>& positions) {
    const uint32_t length = table.record_length();
    const uint32_t count = table.record_count();
    if (positions.empty() || length == 0 || !table_writable(table)) return 0;
    std::vector<uint32_t> physical;
    physical.reserve(positions.size());
    for (uint32_t position : positions) {
        const uint32_t index = physical_index(table, position);
        if (index < count) physical.push_back(index);
    }
    std::sort(physical.begin(), physical.end());
    physical.erase(std::unique(physical.begin(), physical.end()), physical.end());
    if (physical.empty()) return 0;

    // Without the backup no mark is written.
    if (!backup_before_write(table)) return 0;
    FileHandle& file = table.table_handle;
    const uint32_t run = std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / length));
    std::vector<uint8_t> block;
    uint32_t marked = 0;
    for (size_t i = 0; i < physical.size();) {
        // The marks that fall within one block, read and written back whole.
        const uint32_t first = physical[i];
        size_t end = i;
        while (end < physical.size() && physical[end] - first < run) ++end;
        const size_t span = static_cast<size_t>(physical[end - 1] - first + 1) * length;
        const uint64_t offset = record_file_offset(length, first, table.header_length());
        block.resize(span);
        if (file.seek(offset) && file.read(block.data(), span) == static_cast<long long>(span)) {
            for (size_t k = i; k < end; ++k) {
                uint8_t mark = kDeletedMark;
                if (table.before_mark_write) table.before_mark_write(table, mark);
                block[static_cast<size_t>(physical[k] - first) * length] = mark;
            }
            if (file.seek(offset) && file.write(block.data(), span)) marked += static_cast<uint32_t>(end - i);
        } else {
            // The block cannot be read whole: one mark at a time.
            for (size_t k = i; k < end; ++k) {
                uint8_t mark = kDeletedMark;
                if (table.before_mark_write) table.before_mark_write(table, mark);
                if (seek_physical_record(table, physical[k]) && file.write(&mark, 1)) ++marked;
            }
        }
        i = end;
    }
    return marked;
}

} // namespace rorarodi
