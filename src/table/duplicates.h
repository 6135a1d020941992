// Finding the records of a view that repeat an earlier record byte for byte, and
// marking many records deleted at once.
#pragma once
#include <cstdint>
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

} // namespace rorarodi
