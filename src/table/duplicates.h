// Finding the records of a view that repeat an earlier record byte for byte, and
// marking many records deleted at once.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "table/table.h"

namespace rorarodi {

// View positions, ascending, of the records not marked deleted that are equal over
// the whole record (deletion mark included, as read through the read hook) to a
// record at an earlier position of the view. Of each group of equal records the
// first in view order is therefore not listed. Records are hashed in one pass and
// compared byte for byte only when their hashes are equal. The table's records are
// held in memory when they take at most `in_memory_bytes`, otherwise earlier
// records are read again for the comparison. Throws std::bad_alloc when the
// hash table of the view cannot be had.
constexpr uint64_t kDuplicateSearchMemory = uint64_t{512} * 1024 * 1024;
std::vector<uint32_t> find_duplicate_positions(DbfTable& table, uint64_t in_memory_bytes = kDuplicateSearchMemory);

// Writes the deletion mark '*' (through the mark-write hook) into the records at
// the view positions given, reading and writing the file in blocks of records, with
// the backup made first when due. Returns how many marks reached the file.
uint32_t mark_positions_deleted(DbfTable& table, const std::vector<uint32_t>& positions);

// What deleting the duplicates of a view did: the records found to repeat an
// earlier one, and the marks that reached the file.
struct DuplicatesDeleted {
    uint64_t found = 0;
    uint32_t marked = 0;
    bool sorted = false;  // found through hashes sorted in runs on disk
};

// Marks deleted the records find_duplicate_positions lists, within `budget` bytes
// of memory and some fixed buffers. When the hash of the whole view does not fit,
// the records' hashes are sorted with their positions in runs on disk, which brings
// equal records together in view order, and the records found are gathered in
// sorted runs too. Nothing, and no change, when records were found and the backup
// cannot be made. Throws std::bad_alloc when memory runs out before a mark is written.
std::optional<DuplicatesDeleted> delete_duplicates(DbfTable& table, uint64_t budget);

} // namespace rorarodi
