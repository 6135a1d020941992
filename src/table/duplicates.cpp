#include "table/duplicates.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include "platform/progress.h"
#include "table/dbf_format.h"
#include "table/row_sort.h"
#include "table/table_write.h"
#include "table/view_reader.h"

namespace rorarodi {

namespace {

constexpr uint64_t kReadBytes = 4 * 1024 * 1024;
// Marks are written into blocks of records of about this size.
constexpr size_t kBlockBytes = 512 * 1024;
constexpr uint32_t kEmptySlot = std::numeric_limits<uint32_t>::max();

// The slots of the hash of a view of `count` records: a power of two, at least
// twice the records.
size_t hash_slot_count(uint32_t count) {
    size_t capacity = 16;
    while (capacity < size_t{count} * 2) capacity <<= 1;
    return capacity;
}

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
    const size_t capacity = hash_slot_count(view_size);
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

namespace {

// Writes the deletion mark into records given by ascending physical index: the
// marks that fall within one block of records are read and written back whole.
class MarkWriter {
public:
    explicit MarkWriter(DbfTable& table)
        : table_(table), length_(table.record_length()),
          run_(std::max<uint32_t>(1, static_cast<uint32_t>(kBlockBytes / std::max<uint32_t>(1, length_)))) {}

    // The next index, not below the last one; a repeat is left out.
    void add(uint32_t physical) {
        if (!pending_.empty() && pending_.back() == physical) return;
        if (!pending_.empty() && physical - pending_.front() >= run_) flush();
        pending_.push_back(physical);
    }

    // Writes what is pending; the marks that reached the file.
    uint32_t finish() {
        flush();
        return marked_;
    }

private:
    uint8_t mark() {
        uint8_t mark = kDeletedMark;
        if (table_.before_mark_write) table_.before_mark_write(table_, mark);
        return mark;
    }

    void flush() {
        if (pending_.empty()) return;
        FileHandle& file = table_.table_handle;
        const uint32_t first = pending_.front();
        const size_t span = static_cast<size_t>(pending_.back() - first + 1) * length_;
        const uint64_t offset = record_file_offset(length_, first, table_.header_length());
        block_.resize(span);
        if (file.seek(offset) && file.read(block_.data(), span) == static_cast<long long>(span)) {
            for (uint32_t physical : pending_) block_[static_cast<size_t>(physical - first) * length_] = mark();
            if (file.seek(offset) && file.write(block_.data(), span)) marked_ += static_cast<uint32_t>(pending_.size());
        } else {
            // The block cannot be read whole: one mark at a time.
            for (uint32_t physical : pending_) {
                const uint8_t byte = mark();
                if (seek_physical_record(table_, physical) && file.write(&byte, 1)) ++marked_;
            }
        }
        pending_.clear();
    }

    DbfTable& table_;
    const uint32_t length_;
    const uint32_t run_;
    std::vector<uint32_t> pending_;
    std::vector<uint8_t> block_;
    uint32_t marked_ = 0;
};

} // namespace

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
    if (physical.empty()) return 0;

    // Without the backup no mark is written.
    if (!backup_before_write(table)) return 0;
    MarkWriter writer(table);
    for (uint32_t index : physical) writer.add(index);
    return writer.finish();
}

namespace {

// Rows of the sorted search: the record's hash, its view position and its physical
// index, big-endian, so that memcmp order is hash order and, among equal hashes,
// view order.
constexpr size_t kHashRowBytes = 16;
// A found record's physical index, big-endian.
constexpr size_t kIndexRowBytes = 4;
static_assert(kIndexRowBytes == sizeof(uint32_t), "indexes are turned big-endian in place");

// The bytes the hashed search holds for a view of `count` records besides the
// records themselves: its slots, one representative a record at most, and the
// positions found and their physical indexes.
uint64_t hashed_search_bytes(uint32_t count) {
    return uint64_t{hash_slot_count(count)} * sizeof(uint32_t) + uint64_t{count} * (sizeof(Representative) + 2 * sizeof(uint32_t));
}

void write_be64(uint8_t* out, uint64_t value) {
    for (int i = 7; i >= 0; --i, value >>= 8) out[i] = static_cast<uint8_t>(value);
}

uint64_t read_be64(const uint8_t* in) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | in[i];
    return value;
}

// The record at a physical index as read_view_record leaves it, copied into
// `bytes`; false when it cannot be read.
bool read_record_copy(DbfTable& table, uint32_t physical, std::vector<uint8_t>& bytes) {
    if (physical >= table.record_count() || !read_physical_record(table, physical)) return false;
    bytes.assign(table.record_buffer.begin(), table.record_buffer.begin() + table.record_length());
    return true;
}

// The hash rows of the view's live records, sorted in runs of at most `budget`
// bytes; false when a run cannot be written.
bool spill_hash_rows(DbfTable& table, uint32_t view_size, uint64_t budget, SpilledRuns& runs) {
    const uint32_t length = table.record_length();
    const size_t per_run = static_cast<size_t>(std::clamp<uint64_t>(budget / kHashRowBytes, 1, view_size));
    std::vector<uint8_t> rows(per_run * kHashRowBytes);
    size_t held = 0;
    ViewReader reader(table, view_size);
    ProgressMeter progress(view_size);
    for (uint32_t position = 0; position < view_size; ++position) {
        progress.step(position);
        // An unreadable record is hashed as the buffer holds it, as every walk does.
        const FetchedRecord record = reader.fetch(position);
        if (record.bytes[0] == kDeletedMark) continue;
        uint8_t* row = rows.data() + held * kHashRowBytes;
        write_be64(row, record_hash(record.bytes, length));
        write_be32(row + 8, position);
        write_be32(row + 12, physical_index(table, position));
        if (++held == per_run) {
            sort_rows(rows.data(), held, kHashRowBytes);
            if (!runs.add_run(rows.data(), held)) return false;
            held = 0;
        }
    }
    reader.finish();
    sort_rows(rows.data(), held, kHashRowBytes);
    return held == 0 || runs.add_run(rows.data(), held);
}

// The physical indexes of the records found, in memory up to a limit and past it
// in sorted runs, given back in ascending order.
class FoundRecords {
public:
    FoundRecords(const std::string& beside, uint64_t budget)
        : runs_(beside, kIndexRowBytes), limit_(static_cast<size_t>(std::max<uint64_t>(1, budget / sizeof(uint32_t)))) {}

    [[nodiscard]] bool add(uint32_t physical) {
        if (held_.size() == held_.capacity()) held_.reserve(std::min(limit_, std::max<size_t>(64, held_.size() * 2)));
        held_.push_back(physical);
        ++count_;
        return held_.size() < limit_ || spill();
    }
    uint64_t count() const { return count_; }

    // Calls emit(index) for every index in ascending order; false on a failed read or write.
    [[nodiscard]] bool each(uint64_t buffer_bytes, const std::function<void(uint32_t)>& emit) {
        if (runs_.rows() == 0) {
            std::sort(held_.begin(), held_.end());
            for (uint32_t physical : held_) emit(physical);
            return true;
        }
        if (!spill()) return false;
        held_ = std::vector<uint32_t>();  // the merge's buffers take its place
        return runs_.merge(static_cast<size_t>(std::min<uint64_t>(buffer_bytes, SIZE_MAX)),
                           [&](const uint8_t* row) { emit(read_be32(row)); });
    }

private:
    bool spill() {
        if (held_.empty()) return true;
        std::sort(held_.begin(), held_.end());
        // Each index turned big-endian where it lies.
        auto* rows = reinterpret_cast<uint8_t*>(held_.data());
        for (size_t i = 0; i < held_.size(); ++i) write_be32(rows + i * kIndexRowBytes, held_[i]);
        const bool added = runs_.add_run(rows, held_.size());
        held_.clear();
        return added;
    }

    SpilledRuns runs_;
    size_t limit_;
    std::vector<uint32_t> held_;
    uint64_t count_ = 0;
};

// Of each group of rows with one hash, in view order, a record equal to an earlier
// one of the group is found; the earlier ones are read only when the group has a
// second row. A record that cannot be read is left alone.
class GroupComparer {
public:
    GroupComparer(DbfTable& table, FoundRecords& found) : table_(table), found_(found) {}

    [[nodiscard]] bool row(const uint8_t* row) {
        const uint64_t hash = read_be64(row);
        const uint32_t physical = read_be32(row + 12);
        if (!started_ || hash != hash_) {
            started_ = true;
            hash_ = hash;
            first_ = physical;
            first_read_ = false;
            distinct_ = 0;
            return true;
        }
        if (!first_read_) {
            first_read_ = true;
            if (read_record_copy(table_, first_, slot(0))) distinct_ = 1;
        }
        if (!read_record_copy(table_, physical, current_)) return true;
        for (size_t i = 0; i < distinct_; ++i)
            if (records_[i] == current_) return found_.add(physical);
        slot(distinct_++).swap(current_);
        return true;
    }

private:
    std::vector<uint8_t>& slot(size_t index) {
        if (records_.size() <= index) records_.resize(index + 1);
        return records_[index];
    }

    DbfTable& table_;
    FoundRecords& found_;
    bool started_ = false;
    uint64_t hash_ = 0;
    uint32_t first_ = 0;
    bool first_read_ = false;
    std::vector<std::vector<uint8_t>> records_;  // the distinct records of the group
    size_t distinct_ = 0;
    std::vector<uint8_t> current_;
};

// The sorted search: the records found go into `found`. False when a scratch file
// cannot be made, written or read.
bool find_duplicates_sorted(DbfTable& table, uint32_t view_size, uint64_t budget, FoundRecords& found) {
    SpilledRuns runs(table.table_file_name, kHashRowBytes);
    if (!runs.ready() || !spill_hash_rows(table, view_size, budget, runs)) return false;
    // The merge and the records found share the budget.
    GroupComparer comparer(table, found);
    bool kept = true;
    return runs.merge(static_cast<size_t>(budget / 2), [&](const uint8_t* row) { kept = comparer.row(row) && kept; }) &&
           kept;
}

// Marks the records found; nothing when the backup cannot be made.
std::optional<DuplicatesDeleted> mark_found(DbfTable& table, FoundRecords& found, uint64_t budget) {
    DuplicatesDeleted result;
    result.sorted = true;
    result.found = found.count();
    if (result.found == 0) return result;
    // Without the backup no mark is written.
    if (!backup_before_write(table)) return std::nullopt;
    MarkWriter writer(table);
    const uint32_t count = table.record_count();
    // Marks that were written stay, and are told, should the rest not be read back.
    (void)found.each(budget, [&](uint32_t physical) {
        if (physical < count) writer.add(physical);
    });
    result.marked = writer.finish();
    return result;
}

} // namespace

std::optional<DuplicatesDeleted> delete_duplicates(DbfTable& table, uint64_t budget) {
    const uint32_t view_size = view_record_count(table);
    if (view_size < 2 || table.record_length() == 0 || table.record_buffer.empty() || !table_writable(table))
        return DuplicatesDeleted{};
    const uint64_t hashed = hashed_search_bytes(view_size);
    if (hashed > budget) {
        FoundRecords found(table.table_file_name, budget / 2);
        if (find_duplicates_sorted(table, view_size, budget, found)) return mark_found(table, found, budget);
    }
    // Within the budget, or where the scratch files cannot be made or written: the
    // hash of the view, with the records in memory when they fit beside it.
    const std::vector<uint32_t> positions = find_duplicate_positions(table, budget - std::min(budget, hashed));
    DuplicatesDeleted result;
    result.found = positions.size();
    if (result.found == 0) return result;
    // A backup that cannot be made leaves the table unchanged.
    if (!backup_before_write(table)) return std::nullopt;
    result.marked = mark_positions_deleted(table, positions);
    return result;
}

} // namespace rorarodi
