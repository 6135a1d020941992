// The journal of a change: its file format, written entry by entry and read back.
//
// Layout (little-endian): the 8-byte magic, an 8-byte seed drawn for this journal,
// then entries of
//   u32 payload length, u8 kind, payload, u32 check value of seed, kind and payload.
// An entry is synced before the step it undoes, so reading stops at the first entry
// that is cut short or fails its check value: its step never happened. The seed
// keeps an entry of an earlier journal, left in an unsynced tail, from passing.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rorarodi {

enum class EntryKind : uint8_t {
    length = 1,     // path, u64 original length: declares guarded file number n
    bytes = 2,      // u32 file number, u64 offset, original bytes
    temporary = 3,  // path: a hidden work file of this change (made or about to be)
    moved = 4,      // from, to: this change's file `from` takes the new name `to`
    kept = 5,       // name, hidden: the file `name` held is kept under `hidden`
    commit = 6,     // the change is complete: only hidden names remain to go
};

struct JournalEntry {
    EntryKind kind = EntryKind::commit;
    std::string name, second;  // paths as stored
    uint64_t number = 0;       // file number (bytes)
    uint64_t offset = 0;       // offset (bytes) or original length (length)
    uint64_t data_at = 0;      // where the original bytes lie in the journal
    uint64_t data_size = 0;
};

// An open journal being written.
struct JournalWriter {
    std::string path;
    int fd = -1;
    uint64_t seed = 0;
    uint64_t end = 0;
    bool unsynced = false;
};

// Creates the journal exclusively with its header, synced. False with errno set
// (the failing call in `op`: 0 create, 1 write, 2 sync).
[[nodiscard]] bool create_journal(JournalWriter& journal, int& op);
// Starts an entry of `kind` in `entry` (its length and check value come later).
void begin_entry(std::string& entry, EntryKind kind);
void put_u32(std::string& out, uint32_t v);
void put_u64(std::string& out, uint64_t v);
void put_text(std::string& out, const std::string& text);
// The size of the entry head that begin_entry writes.
constexpr size_t kEntryHead = 5;
// Completes an entry made with begin_entry (4 bytes reserved at its end) and
// appends it; false with errno set.
[[nodiscard]] bool append_entry(JournalWriter& journal, std::string& entry);
// fdatasync of what was appended since the last sync; false with errno set.
[[nodiscard]] bool sync_journal(JournalWriter& journal);
void close_journal(JournalWriter& journal);

struct JournalContents {
    bool read = false;  // false: a read failed (errno set)
    std::vector<JournalEntry> entries;
};
// Reads the valid entries of the journal open as `fd`; a journal with a damaged
// header has none.
JournalContents read_journal(int fd);
// Reads exactly `size` bytes at `offset` of a file; false (errno set) on an error
// or a file shorter than that (errno EIO).
[[nodiscard]] bool read_exactly(int fd, uint64_t offset, void* out, size_t size);

} // namespace rorarodi
