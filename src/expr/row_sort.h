// Sorting of fixed-width byte rows in place, in the order of memcmp over the whole
// row: the rows of order keys, built once into one contiguous block.
#pragma once
#include <cstddef>
#include <cstdint>

namespace rorarodi {

// Sorts `count` rows of `row_size` bytes each, lying one after another at `rows`,
// into ascending memcmp order. The sort is not stable: rows that must keep an order
// among equal keys carry their position in their last bytes. Besides the rows it
// needs only a spare row and a list of the buckets still to sort.
void sort_rows(uint8_t* rows, size_t count, size_t row_size);

} // namespace rorarodi
