// Sorting of fixed-width byte rows in place, in the order of memcmp over the whole
// row (the rows of order keys, or of record hashes, built once into one contiguous
// block), and sorted runs of them spilled beside a table and merged.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/scratch_file.h"

namespace rorarodi {

// Sorts `count` rows of `row_size` bytes each, lying one after another at `rows`,
// into ascending memcmp order. The sort is not stable: rows that must keep an order
// among equal keys carry their position in their last bytes. Besides the rows it
// needs only a spare row and a list of the buckets still to sort.
void sort_rows(uint8_t* rows, size_t count, size_t row_size);

// The memory an order or sort may take for its rows before it sorts them in runs
// on disk: RORARODI_SORT_MEMORY (a number of MiB, or of KiB with a K after it),
// 512 MiB when unset or not a positive number.
uint64_t sort_memory_budget();

// Sorted runs of rows kept in one scratch file beside a table (no name shows it,
// and it goes with the runs, whatever way the work ends), merged back in memcmp
// order.
class SpilledRuns {
public:
    SpilledRuns(const std::string& beside, size_t row_size);

    // False when the file could not be created.
    bool ready() const { return file_.ready(); }
    // Rows written so far.
    uint64_t rows() const { return end_ / row_size_; }
    // Writes `count` rows, sorted already, as one run; false on a failed write.
    [[nodiscard]] bool add_run(const uint8_t* rows, size_t count);
    // Calls emit(row) for every row of every run in ascending memcmp order, reading
    // the runs through buffers of about `buffer_bytes` together; false on a failed read.
    [[nodiscard]] bool merge(size_t buffer_bytes, const std::function<void(const uint8_t*)>& emit);

private:
    struct Run {
        uint64_t offset;
        uint64_t count;
    };
    ScratchFile file_;
    size_t row_size_;
    uint64_t end_ = 0;
    std::vector<Run> runs_;
};

} // namespace rorarodi
