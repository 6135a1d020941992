// The record pass of the writers that write most values straight off the record
// (CSV, JSON, COPY): room for the whole record is made in the output once, each
// value is written into it by the writer's quick way, and a value that needs more
// is appended the writer's general way, after which the room is made again.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace rorarodi {

// Turns the most bytes each value may take (one entry per value, and one more for
// what follows the last) into the most bytes the values from each one on may take.
inline void add_up_rooms(std::vector<size_t>& room_from) {
    for (size_t i = room_from.size() - 1; i-- > 0;) room_from[i] += room_from[i + 1];
}

// Copies the text to `to` and returns its end.
inline char* put_text(char* to, std::string_view text) {
    std::memcpy(to, text.data(), text.size());
    return to + text.size();
}

// Writes `count` values at the end of `out`. `room_from` comes from add_up_rooms;
// quick(i, to) writes value i at `to` within its room and returns its end, or
// nothing when the value goes the general way: general(i), which appends it to
// `out`. What quick wrote before it gave up is dropped.
template <typename Quick, typename General>
void write_record_pass(std::string& out, const std::vector<size_t>& room_from, size_t count, Quick&& quick,
                       General&& general) {
    size_t used = out.size();
    out.resize(used + room_from[0]);
    char* to = out.data() + used;
    for (size_t i = 0; i < count; ++i) {
        if (char* end = quick(i, to)) {
            to = end;
            continue;
        }
        out.resize(static_cast<size_t>(to - out.data()));
        general(i);
        used = out.size();
        out.resize(used + room_from[i + 1]);
        to = out.data() + used;
    }
    out.resize(static_cast<size_t>(to - out.data()));
}

} // namespace rorarodi
