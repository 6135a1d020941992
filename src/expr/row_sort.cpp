#include "expr/row_sort.h"

#include <array>
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
