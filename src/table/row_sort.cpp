#include "table/row_sort.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace rorarodi {

namespace {

// Buckets this small are finished by insertion: fewer moves than another pass.
constexpr size_t kSmallBucket = 24;

// Rows [begin, end) whose first `depth` bytes are equal.
struct Bucket {
    size_t begin;
    size_t end;
    size_t depth;
};

class RowSorter {
public:
    RowSorter(uint8_t* rows, size_t row_size) : rows_(rows), row_size_(row_size), spare_(row_size) {}

    void sort(size_t count) {
        std::vector<Bucket> pending{{0, count, 0}};
        while (!pending.empty()) {
            Bucket bucket = pending.back();
            pending.pop_back();
            split(bucket, pending);
        }
    }

private:
    uint8_t* row(size_t index) const { return rows_ + index * row_size_; }

    void swap_rows(uint8_t* a, uint8_t* b) {
        std::memcpy(spare_.data(), a, row_size_);
        std::memcpy(a, b, row_size_);
        std::memcpy(b, spare_.data(), row_size_);
    }

    void insertion_sort(const Bucket& bucket) {
        const size_t depth = bucket.depth, rest = row_size_ - depth;
        for (size_t i = bucket.begin + 1; i < bucket.end; ++i) {
            size_t j = i;
            while (j > bucket.begin && std::memcmp(row(j - 1) + depth, row(i) + depth, rest) > 0) --j;
            if (j == i) continue;
            std::memcpy(spare_.data(), row(i), row_size_);
            std::memmove(row(j + 1), row(j), (i - j) * row_size_);
            std::memcpy(row(j), spare_.data(), row_size_);
        }
    }

    // Distributes a bucket by its byte at `depth` (American flag sort: each row is
    // swapped straight into its part) and queues the parts that need more.
    void split(Bucket bucket, std::vector<Bucket>& pending) {
        for (;;) {
            const size_t count = bucket.end - bucket.begin;
            if (count < 2 || bucket.depth >= row_size_) return;
            if (count <= kSmallBucket) {
                insertion_sort(bucket);
                return;
            }
            const size_t depth = bucket.depth;
            std::array<size_t, 256> counts{};
            for (size_t i = bucket.begin; i < bucket.end; ++i) ++counts[row(i)[depth]];
            if (counts[row(bucket.begin)[depth]] == count) {
                ++bucket.depth;  // one value: nothing to move at this byte
                continue;
            }
            std::array<size_t, 256> next{}, ends{};
            size_t at = bucket.begin;
            for (size_t v = 0; v < 256; ++v) {
                next[v] = at;
                at += counts[v];
                ends[v] = at;
            }
            for (size_t v = 0; v < 256; ++v) {
                while (next[v] < ends[v]) {
                    uint8_t* slot = row(next[v]);
                    const uint8_t value = slot[depth];
                    if (value == v) {
                        ++next[v];
                        continue;
                    }
                    // The part of `value` still holds a row that belongs elsewhere.
                    size_t& target = next[value];
                    while (row(target)[depth] == value) ++target;
                    swap_rows(slot, row(target));
                    ++target;
                }
            }
            for (size_t v = 0; v < 256; ++v)
                if (counts[v] > 1) pending.push_back({ends[v] - counts[v], ends[v], depth + 1});
            return;
        }
    }

    uint8_t* rows_;
    size_t row_size_;
    std::vector<uint8_t> spare_;
};

} // namespace

void sort_rows(uint8_t* rows, size_t count, size_t row_size) {
    if (count < 2 || row_size == 0) return;
    RowSorter(rows, row_size).sort(count);
}

} // namespace rorarodi

namespace rorarodi {

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kDefaultSortMemory = 512 * kMiB;

} // namespace

uint64_t sort_memory_budget() {
    const char* text = std::getenv("RORARODI_SORT_MEMORY");
    if (!text) return kDefaultSortMemory;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    const bool kib = end && (*end == 'K' || *end == 'k');
    if (errno != 0 || end == text || value == 0 || (*end != 0 && !(kib && end[1] == 0)) ||
        value > (uint64_t{1} << 40))
        return kDefaultSortMemory;
    return kib ? value * 1024 : value * kMiB;
}

SpilledRuns::SpilledRuns(const std::string& beside, size_t row_size) : file_(beside), row_size_(row_size) {}

bool SpilledRuns::add_run(const uint8_t* rows, size_t count) {
    const size_t bytes = count * row_size_;
    if (!file_.write_at(rows, bytes, end_)) return false;
    runs_.push_back({end_, count});
    end_ += bytes;
    return true;
}

bool SpilledRuns::merge(size_t buffer_bytes, const std::function<void(const uint8_t*)>& emit) {
    if (!file_.ready()) return false;
    struct Reader {
        std::vector<uint8_t> buffer;
        uint64_t next = 0;    // next row of the run to read into the buffer
        size_t at = 0;        // current row within the buffer
        size_t held = 0;      // rows in the buffer
    };
    const size_t per_run = std::max<size_t>(1, buffer_bytes / std::max<size_t>(1, runs_.size()) / row_size_);
    std::vector<Reader> readers(runs_.size());
    auto refill = [&](size_t r) {
        Reader& reader = readers[r];
        const uint64_t left = runs_[r].count - reader.next;
        reader.held = static_cast<size_t>(std::min<uint64_t>(left, per_run));
        reader.at = 0;
        if (reader.held == 0) return true;
        reader.buffer.resize(reader.held * row_size_);
        if (!file_.read_at(reader.buffer.data(), reader.buffer.size(), runs_[r].offset + reader.next * row_size_))
            return false;
        reader.next += reader.held;
        return true;
    };
    auto row_of = [&](size_t r) { return readers[r].buffer.data() + readers[r].at * row_size_; };
    // A heap of the runs by their current rows, the smallest on top.
    auto later = [&](size_t a, size_t b) { return std::memcmp(row_of(a), row_of(b), row_size_) > 0; };
    std::vector<size_t> heap;
    for (size_t r = 0; r < runs_.size(); ++r) {
        if (!refill(r)) return false;
        if (readers[r].held > 0) heap.push_back(r);
    }
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        const size_t r = heap.back();
        emit(row_of(r));
        if (++readers[r].at == readers[r].held && !refill(r)) return false;
        if (readers[r].held == 0) {
            heap.pop_back();
            continue;
        }
        std::push_heap(heap.begin(), heap.end(), later);
    }
    return true;
}

} // namespace rorarodi
