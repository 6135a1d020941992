#include "platform/change.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/file.h"

namespace rorarodi {

namespace {

// Journal layout: the 8-byte magic, then entries of
//   u32 payload length, u8 kind, payload, u32 check value of kind and payload
// (little-endian). An entry is synced before the action it undoes, so playing
// back stops at the first entry that is cut short or fails its check value: its
// action never happened.
constexpr char kMagic[8] = {'R', 'R', 'J', 'O', 'U', 'R', '1', '\n'};
enum EntryKind : uint8_t {
    kLength = 1,    // path, u64 original length: declares guarded file number n
    kBytes = 2,     // u32 file number, u64 offset, original bytes
    kCreated = 3,   // path: remove it
    kRenamed = 4,   // from, to: rename `to` back to `from`
    kReplaced = 5,  // to, saved: `saved` is the old `to`
    kVoid = 6,      // path: a kCreated entry whose creation did not happen
    kCommit = 7,    // the change is complete: only the old files' second names remain to go
};
// Original bytes are saved in pieces of at most this size; a large write saves
// this much ahead, so that a pass over a big file syncs the journal seldom.
constexpr size_t kPiece = 1 << 20;
constexpr uint64_t kSaveAhead = 8u << 20;
constexpr uint64_t kSmallSaveAhead = 256u << 10;  // a run of record writes syncs every 256 KiB
constexpr size_t kLargeWrite = 64 * 1024;

// The check value of an entry: a 32-bit hash of its bytes, eight at a time (an
// entry may hold a megabyte of original bytes; this keeps up with the copy).
uint32_t entry_check(const unsigned char* data, size_t size) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t hash = 0x6A09E667F3BCC908ull ^ (size * kMultiplier);
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
    }
    uint64_t tail = 0;
    for (size_t k = 0; i + k < size; ++k) tail |= static_cast<uint64_t>(data[i + k]) << (8 * k);
    hash = (hash ^ tail) * kMultiplier;
    hash ^= hash >> 32;
    return static_cast<uint32_t>(hash);
}

void put_u32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put_u64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put_text(std::string& out, const std::string& text) {
    put_u32(out, static_cast<uint32_t>(text.size()));
    out += text;
}
uint64_t get_le(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The directory that holds `path`, as messages name it.
std::string directory_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string absolute_path(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string cwd(4096, '\0');
    if (!::getcwd(cwd.data(), cwd.size())) return path;
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd + "/" + path;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Closes a descriptor, keeping errno.
void close_fd(int& fd) {
    if (fd >= 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    fd = -1;
}

// Byte ranges of a file already saved in the journal.
class SavedRanges {
public:
    // The parts of [begin, end) not saved yet.
    std::vector<std::pair<uint64_t, uint64_t>> missing(uint64_t begin, uint64_t end) const {
        std::vector<std::pair<uint64_t, uint64_t>> gaps;
        auto it = spans_.upper_bound(begin);
        if (it != spans_.begin()) {
            auto before = std::prev(it);
            if (before->second > begin) begin = std::min(end, before->second);
        }
        for (; begin < end && it != spans_.end() && it->first < end; ++it) {
            if (it->first > begin) gaps.emplace_back(begin, it->first);
            begin = std::max(begin, it->second);
        }
        if (begin < end) gaps.emplace_back(begin, end);
        return gaps;
    }
    void add(uint64_t begin, uint64_t end) {
        auto it = spans_.upper_bound(begin);
        if (it != spans_.begin() && std::prev(it)->second >= begin) {
            --it;
            begin = it->first;
            end = std::max(end, it->second);
            it = spans_.erase(it);
        }
        while (it != spans_.end() && it->first <= end) {
            end = std::max(end, it->second);
            it = spans_.erase(it);
        }
        spans_[begin] = end;
    }

private:
    std::map<uint64_t, uint64_t> spans_;
};

struct GuardedFile {
    std::string path;
    bool known = false;  // the file existed when guarded
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;  // size and time of the last change when guarded
    struct timespec modified {};
    int number = -1;  // its number in the journal, once declared
    uint64_t original_length = 0;
    SavedRanges saved;
    std::unique_ptr<struct Replacement> replacement;
};

// A guarded file rewritten whole: its changes go into a new file beside it, which
// takes its place when the change commits. The original is never written.
struct Replacement {
    std::string path;
    int fd = -1;
    int handle_fd = -1;      // the descriptor the rewriting goes through
    SavedRanges written;     // ranges the new file holds
    uint64_t length = 0;     // the file's length as the rewriting sees it
    uint64_t original_limit = 0;  // below this, ranges not written come from the original
};

// One guarded table: its files, journal and locks.
struct TableGuard {
    std::string table_path;
    std::string journal_path;
    std::string directory;  // absolute, with the final '/'
    std::vector<GuardedFile> files;
    int journal_fd = -1;
    uint64_t journal_end = 0;
    bool unsynced = false;
    int declared = 0;
    std::vector<int> lock_fds;
    std::vector<std::string> saved_names;  // second names to remove after the commit
};

struct ChangeState {
    bool open = false;
    int replacements = 0;
    std::vector<std::unique_ptr<TableGuard>> guards;
    std::optional<DiskFailure> failure;
    std::set<std::string> touched;
    std::set<std::string> directories;
};

ChangeState& state() {
    static ChangeState s;
    return s;
}

void note(DiskOp op, const std::string& path) { note_disk_failure(op, path, errno); }

// The name of `path` as the journal stores it: relative to the journal's
// directory when the file lies in it, absolute otherwise.
std::string stored_name(const TableGuard& guard, const std::string& path) {
    const std::string absolute = absolute_path(path);
    if (absolute.compare(0, guard.directory.size(), guard.directory) == 0 &&
        absolute.find('/', guard.directory.size()) == std::string::npos)
        return absolute.substr(guard.directory.size());
    return absolute;
}

int lock_wait_milliseconds() {
    const char* value = std::getenv("RORARODI_LOCK_WAIT_MS");
    return value ? std::atoi(value) : 5000;
}

// Takes the exclusive lock of `path`, waiting a bounded time. -1 (the failure
// noted) when it cannot be had; a missing file needs no lock (-2).
int lock_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return -2;
        note(DiskOp::lock, path);
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lock_wait_milliseconds());
    for (;;) {
        if (disk::try_lock(fd)) return fd;
        if ((errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() >= deadline) {
            // Both say that another open file holds a lock.
            if (errno == EACCES) errno = EAGAIN;
            note(DiskOp::lock, path);
            close_fd(fd);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Completes an entry laid out in `entry` (4 bytes for the length, the kind, the
// payload, 4 bytes for the check value) and appends it to the journal.
bool write_entry(TableGuard& guard, std::string& entry) {
    const size_t payload = entry.size() - 9;
    for (int i = 0; i < 4; ++i) entry[i] = static_cast<char>(payload >> (8 * i));
    const uint32_t check = entry_check(reinterpret_cast<const unsigned char*>(entry.data()) + 4, payload + 1);
    for (int i = 0; i < 4; ++i) entry[payload + 5 + i] = static_cast<char>(check >> (8 * i));
    if (!disk::write_at(guard.journal_fd, entry.data(), entry.size(), guard.journal_end)) {
        note(DiskOp::write, guard.journal_path);
        return false;
    }
    guard.journal_end += entry.size();
    guard.unsynced = true;
    return true;
}

bool append_entry(TableGuard& guard, EntryKind kind, const std::string& payload) {
    std::string entry(4, '\0');
    entry.push_back(static_cast<char>(kind));
    entry += payload;
    entry.append(4, '\0');
    return write_entry(guard, entry);
}

// Makes what the journal holds durable before the action it undoes.
bool sync_journal(TableGuard& guard) {
    if (!guard.unsynced) return true;
    if (!disk::sync(guard.journal_fd, true)) {
        note(DiskOp::sync, guard.journal_path);
        return false;
    }
    guard.unsynced = false;
    return true;
}

// Locks the table and its memo file and creates the journal, once per change.
bool start_journal(TableGuard& guard) {
    if (guard.journal_fd >= 0) return true;
    if (state().failure) return false;
    for (const GuardedFile& file : guard.files) {
        const int fd = lock_file(file.path);
        if (fd == -1) return false;
        if (fd >= 0) guard.lock_fds.push_back(fd);
        // A file that another process replaced or changed while this one waited is
        // not as this process read it: it is not changed on that reading.
        struct stat st {};
        if (fd >= 0 && file.known &&
            (::fstat(fd, &st) != 0 || st.st_ino != file.inode || st.st_dev != file.device || st.st_size != file.size ||
             st.st_mtim.tv_sec != file.modified.tv_sec || st.st_mtim.tv_nsec != file.modified.tv_nsec)) {
            note_disk_failure(DiskOp::lock, file.path, EAGAIN);
            return false;
        }
    }
    guard.journal_fd = disk::create(guard.journal_path, true, 0600);
    if (guard.journal_fd < 0) {
        note(DiskOp::create, guard.journal_path);
        return false;
    }
    state().directories.insert(guard.journal_path);
    if (!disk::write_at(guard.journal_fd, kMagic, sizeof kMagic, 0)) {
        note(DiskOp::write, guard.journal_path);
        return false;
    }
    guard.journal_end = sizeof kMagic;
    if (!disk::sync(guard.journal_fd) ) {
        note(DiskOp::sync, guard.journal_path);
        return false;
    }
    if (!disk::sync_directory_of(guard.journal_path)) {
        note(DiskOp::sync, guard.directory);
        return false;
    }
    return true;
}

// The guard whose directory holds `path`, else the first one; null without guards.
TableGuard* guard_for_path(const std::string& path) {
    ChangeState& s = state();
    if (s.guards.empty()) return nullptr;
    const std::string absolute = absolute_path(path);
    for (auto& guard : s.guards)
        if (directory_of(absolute) == guard->directory) return guard.get();
    return s.guards.front().get();
}

// The guarded file behind an open descriptor.
std::pair<TableGuard*, GuardedFile*> guarded_file_of(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {nullptr, nullptr};
    for (auto& guard : state().guards)
        for (GuardedFile& file : guard->files)
            if (file.known && file.inode == st.st_ino && file.device == st.st_dev) return {guard.get(), &file};
    return {nullptr, nullptr};
}

// Saves the original bytes of [begin, end) of a guarded file not saved yet, and
// declares the file (with its original length) first.
bool save_original(TableGuard& guard, GuardedFile& file, int fd, uint64_t begin, uint64_t end) {
    if (!start_journal(guard)) return false;
    if (file.number < 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            note(DiskOp::write, file.path);
            return false;
        }
        file.original_length = static_cast<uint64_t>(st.st_size);
        std::string payload;
        put_text(payload, stored_name(guard, file.path));
        put_u64(payload, file.original_length);
        if (!append_entry(guard, kLength, payload)) return false;
        file.number = guard.declared++;
    }
    end = std::min(end, file.original_length);
    // Each piece is read straight into its entry: file number, offset, bytes.
    constexpr size_t kBytesAt = 5 + 12;
    std::string entry;
    for (const auto& [gap_begin, gap_end] : file.saved.missing(begin, end)) {
        for (uint64_t at = gap_begin; at < gap_end;) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(kPiece, gap_end - at));
            entry.assign(4, '\0');
            entry.push_back(static_cast<char>(kBytes));
            put_u32(entry, static_cast<uint32_t>(file.number));
            put_u64(entry, at);
            entry.resize(kBytesAt + size + 4);
            size_t got = 0;
            while (got < size) {
                const ssize_t n = ::pread(fd, entry.data() + kBytesAt + got, size - got, static_cast<off_t>(at + got));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                got += static_cast<size_t>(n);
            }
            if (got == 0) break;  // the file is shorter than it was: nothing more to save
            entry.resize(kBytesAt + got + 4);
            if (!write_entry(guard, entry)) return false;
            file.saved.add(at, at + got);
            at += got;
        }
    }
    return sync_journal(guard);
}

// Notes an action of the journal's kinds and syncs it before the action happens.
bool log_action(const std::string& path, EntryKind kind, const std::string& first, const std::string& second = {}) {
    TableGuard* guard = guard_for_path(path);
    if (!guard) return true;
    if (!start_journal(*guard)) return false;
    std::string payload;
    put_text(payload, stored_name(*guard, first));
    if (kind == kRenamed || kind == kReplaced) put_text(payload, stored_name(*guard, second));
    return append_entry(*guard, kind, payload) && sync_journal(*guard);
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Syncs a file by name; a missing file needs nothing.
bool sync_path(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    const bool synced = disk::sync(fd);
    close_fd(fd);
    return synced;
}

// Reads a journal and undoes what it records, newest first; then removes it.
bool play_back(const std::string& journal_path, std::optional<DiskFailure>& failure, bool* completed = nullptr,
               bool roll_back_anyway = false) {
    auto fail = [&](DiskOp op, const std::string& path) {
        if (!failure) failure = DiskFailure{op, path, errno};
        return false;
    };
    int fd = ::open(journal_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? true : fail(DiskOp::write, journal_path);
    const std::string directory = directory_of(absolute_path(journal_path));
    auto resolve = [&](const std::string& name) { return !name.empty() && name[0] == '/' ? name : directory + name; };

    struct Entry {
        uint8_t kind;
        std::string a, b;
        uint64_t number = 0, offset = 0, data_at = 0, data_size = 0;
    };
    std::vector<Entry> entries;
    std::vector<std::string> files;  // declared guarded files, by number
    {
        struct stat st {};
        (void)::fstat(fd, &st);  // a failure leaves size 0: nothing is played back
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        std::vector<unsigned char> head(8);
        bool valid = size >= 8 && ::pread(fd, head.data(), 8, 0) == 8 && std::memcmp(head.data(), kMagic, 8) == 0;
        uint64_t at = 8;
        std::vector<unsigned char> body;
        while (valid && at + 9 <= size) {
            unsigned char prefix[5];
            if (::pread(fd, prefix, 5, static_cast<off_t>(at)) != 5) break;
            const uint64_t length = get_le(prefix, 4);
            if (at + 9 + length > size) break;
            body.resize(static_cast<size_t>(length) + 5);
            if (::pread(fd, body.data(), body.size(), static_cast<off_t>(at + 4)) != static_cast<ssize_t>(body.size()))
                break;
            if (entry_check(body.data(), static_cast<size_t>(length) + 1) != get_le(body.data() + length + 1, 4))
                break;
            const unsigned char* p = body.data() + 1;
            const unsigned char* end = p + length;
            auto text = [&](std::string& out) {
                if (end - p < 4) return false;
                const uint64_t n = get_le(p, 4);
                if (static_cast<uint64_t>(end - p - 4) < n) return false;
                out.assign(reinterpret_cast<const char*>(p + 4), static_cast<size_t>(n));
                p += 4 + n;
                return true;
            };
            Entry entry{body[0], {}, {}};
            bool parsed = true;
            switch (entry.kind) {
            case kLength:
                parsed = text(entry.a) && end - p >= 8;
                if (parsed) {
                    entry.offset = get_le(p, 8);
                    files.push_back(resolve(entry.a));
                }
                break;
            case kBytes:
                parsed = end - p >= 12;
                if (parsed) {
                    entry.number = get_le(p, 4);
                    entry.offset = get_le(p + 4, 8);
                    entry.data_at = at + 5 + 12;
                    entry.data_size = length - 12;
                }
                break;
            case kCreated:
            case kVoid: parsed = text(entry.a); break;
            case kCommit: break;
            case kRenamed:
            case kReplaced: parsed = text(entry.a) && text(entry.b); break;
            default: parsed = false;
            }
            if (!parsed) break;
            entries.push_back(std::move(entry));
            at += 9 + length;
        }
    }

    std::set<std::string> voided, synced_paths, directories;
    bool committed = false;
    for (const Entry& entry : entries) {
        if (entry.kind == kVoid) voided.insert(resolve(entry.a));
        if (entry.kind == kCommit) committed = !roll_back_anyway;
    }
    if (completed) *completed = committed;
    if (committed) {
        // Complete: what remains is removing the second names of replaced files.
        for (const Entry& entry : entries) {
            const std::string saved = resolve(entry.b);
            if (entry.kind != kReplaced || !exists(saved)) continue;
            if (!disk::remove(saved)) {
                close_fd(fd);
                return fail(DiskOp::remove, saved);
            }
        }
        entries.clear();
        directories.insert(journal_path);
    }
    std::map<std::string, int> open_files;
    auto file_fd = [&](const std::string& path) {
        auto found = open_files.find(path);
        if (found != open_files.end()) return found->second;
        const int target = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        open_files[path] = target;
        return target;
    };
    bool ok = true;
    std::vector<unsigned char> data, current;
    for (auto it = entries.rbegin(); it != entries.rend() && ok; ++it) {
        const Entry& entry = *it;
        switch (entry.kind) {
        case kBytes: {
            if (entry.number >= files.size()) break;
            const std::string& path = files[entry.number];
            const int target = file_fd(path);
            if (target < 0) break;  // the file is gone: nothing to restore into
            data.resize(static_cast<size_t>(entry.data_size));
            if (::pread(fd, data.data(), data.size(), static_cast<off_t>(entry.data_at)) !=
                static_cast<ssize_t>(data.size())) {
                ok = fail(DiskOp::write, journal_path);
                break;
            }
            // Bytes that are still the original ones are not written again (a
            // change that failed at its first write put back without writing).
            current.resize(data.size());
            if (::pread(target, current.data(), current.size(), static_cast<off_t>(entry.offset)) ==
                    static_cast<ssize_t>(current.size()) &&
                current == data)
                break;
            if (!disk::write_at(target, data.data(), data.size(), entry.offset)) ok = fail(DiskOp::write, path);
            synced_paths.insert(path);
            break;
        }
        case kLength: {
            const std::string path = resolve(entry.a);
            const int target = file_fd(path);
            struct stat st {};
            if (target < 0 || (::fstat(target, &st) == 0 && static_cast<uint64_t>(st.st_size) == entry.offset)) break;
            if (!disk::truncate(target, entry.offset)) ok = fail(DiskOp::truncate, path);
            synced_paths.insert(path);
            break;
        }
        case kCreated: {
            const std::string path = resolve(entry.a);
            if (voided.count(path) || !exists(path)) break;
            if (!disk::remove(path)) ok = fail(DiskOp::remove, path);
            directories.insert(path);
            break;
        }
        case kRenamed: {
            const std::string from = resolve(entry.a), to = resolve(entry.b);
            if (exists(from) || !exists(to)) break;
            if (!disk::rename(to, from)) ok = fail(DiskOp::rename, to);
            directories.insert(from);
            directories.insert(to);
            break;
        }
        case kReplaced: {
            const std::string to = resolve(entry.a), saved = resolve(entry.b);
            if (!exists(saved)) break;
            if (same_file(saved, to) ? !disk::remove(saved) : !disk::rename(saved, to)) ok = fail(DiskOp::rename, saved);
            directories.insert(to);
            break;
        }
        default: break;
        }
    }
    for (auto& [path, target] : open_files) {
        if (target >= 0 && ok && synced_paths.count(path) && !disk::sync(target)) ok = fail(DiskOp::sync, path);
        close_fd(target);
    }
    for (const std::string& path : directories)
        if (ok && !disk::sync_directory_of(path)) ok = fail(DiskOp::sync, directory_name(path));
    close_fd(fd);
    if (!ok) return false;
    if (!disk::remove(journal_path)) return fail(DiskOp::remove, journal_path);
    if (!disk::sync_directory_of(journal_path)) return fail(DiskOp::sync, directory_name(journal_path));
    return true;
}

std::mt19937_64& name_generator() {
    static std::mt19937_64 generator(std::random_device{}() ^ (static_cast<uint64_t>(::getpid()) << 32));
    return generator;
}

} // namespace

void begin_change() {
    ChangeState& s = state();
    s = ChangeState{};
    s.open = true;
}

bool change_open() { return state().open; }

void guard_table(const std::string& table_path, const std::string& memo_path) {
    ChangeState& s = state();
    if (!s.open) return;
    const std::string absolute = absolute_path(table_path);
    for (const auto& guard : s.guards)
        if (guard->table_path == absolute) return;
    auto guard = std::make_unique<TableGuard>();
    guard->table_path = absolute;
    guard->journal_path = journal_name(absolute);
    guard->directory = directory_of(absolute);
    for (const std::string& path : {table_path, memo_path}) {
        if (path.empty()) continue;
        GuardedFile file;
        file.path = path;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            file.known = true;
            file.device = st.st_dev;
            file.inode = st.st_ino;
            file.size = st.st_size;
            file.modified = st.st_mtim;
        }
        guard->files.push_back(std::move(file));
    }
    s.guards.push_back(std::move(guard));
}

void note_disk_failure(DiskOp op, const std::string& path, int error) {
    ChangeState& s = state();
    if (s.open && !s.failure) s.failure = DiskFailure{op, path, error};
}

const std::optional<DiskFailure>& change_failure() { return state().failure; }

void note_file_written(const std::string& path) {
    ChangeState& s = state();
    if (s.open && !path.empty()) s.touched.insert(path);
}

namespace {
// The replacement that `fd` writes into, if any.
Replacement* replacement_of(int fd) {
    ChangeState& s = state();
    if (s.replacements == 0 || fd < 0) return nullptr;
    for (auto& guard : s.guards)
        for (GuardedFile& file : guard->files)
            if (file.replacement && file.replacement->handle_fd == fd) return file.replacement.get();
    return nullptr;
}

bool fail_if_failed() {
    const ChangeState& s = state();
    if (!s.failure) return false;
    errno = s.failure->error;
    return true;
}
} // namespace

int before_file_write(const FileHandle& file, uint64_t offset, size_t count) {
    ChangeState& s = state();
    if (!s.open) return file.fd();
    if (fail_if_failed()) return -1;
    note_file_written(file.path());
    if (Replacement* replacement = replacement_of(file.fd())) {
        replacement->written.add(offset, offset + count);
        replacement->length = std::max<uint64_t>(replacement->length, offset + count);
        return replacement->fd;
    }
    auto [guard, guarded] = guarded_file_of(file.fd());
    if (!guard) return file.fd();
    const uint64_t end = offset + std::max<uint64_t>(count, count >= kLargeWrite ? kSaveAhead : kSmallSaveAhead);
    return save_original(*guard, *guarded, file.fd(), offset, end) ? file.fd() : -1;
}

int before_file_truncate(const FileHandle& file, uint64_t length) {
    ChangeState& s = state();
    if (!s.open) return file.fd();
    if (fail_if_failed()) return -1;
    note_file_written(file.path());
    if (Replacement* replacement = replacement_of(file.fd())) {
        replacement->length = length;
        replacement->original_limit = std::min(replacement->original_limit, length);
        return replacement->fd;
    }
    auto [guard, guarded] = guarded_file_of(file.fd());
    if (!guard) return file.fd();
    return save_original(*guard, *guarded, file.fd(), length, UINT64_MAX) ? file.fd() : -1;
}

long long read_through_replacement(const FileHandle& file, void* buffer, size_t count, uint64_t offset) {
    Replacement* replacement = replacement_of(file.fd());
    if (!replacement) return -2;
    auto* out = static_cast<unsigned char*>(buffer);
    const uint64_t end = std::min<uint64_t>(offset + count, replacement->length);
    auto read_from = [&](int fd, uint64_t from, uint64_t to) {
        while (from < to) {
            const ssize_t n = ::pread(fd, out + (from - offset), static_cast<size_t>(to - from), static_cast<off_t>(from));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) {  // a hole past the end of what was written reads as zeros
                std::memset(out + (from - offset), 0, static_cast<size_t>(to - from));
                break;
            }
            from += static_cast<uint64_t>(n);
        }
        return true;
    };
    uint64_t at = offset;
    const uint64_t original_end = std::min(end, replacement->original_limit);
    for (const auto& [gap_begin, gap_end] : replacement->written.missing(std::min(offset, original_end), original_end)) {
        if (gap_begin > at && !read_from(replacement->fd, at, gap_begin)) return -1;
        if (!read_from(file.fd(), gap_begin, gap_end)) return -1;
        at = gap_end;
    }
    if (at < end && !read_from(replacement->fd, at, end)) return -1;
    return end > offset ? static_cast<long long>(end - offset) : 0;
}

std::optional<uint64_t> replaced_size(const FileHandle& file) {
    Replacement* replacement = replacement_of(file.fd());
    if (!replacement) return std::nullopt;
    return replacement->length;
}

void rewrite_by_replacement(const FileHandle& file) {
    ChangeState& s = state();
    if (!s.open || s.failure || replacement_of(file.fd())) return;
    auto [guard, guarded] = guarded_file_of(file.fd());
    // A file already written in place in this change goes on that way.
    if (!guard || guarded->number >= 0) return;
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0) return;
    auto replacement = std::make_unique<Replacement>();
    replacement->path = temporary_name_for(guarded->path);
    FileHandle created = create_new_file(replacement->path);
    if (!created) return;  // the failure is noted: the change rolls back
    replacement->fd = ::dup(created.fd());
    if (replacement->fd < 0) {
        note(DiskOp::create, replacement->path);
        return;
    }
    replacement->handle_fd = file.fd();
    replacement->length = replacement->original_limit = static_cast<uint64_t>(st.st_size);
    guarded->replacement = std::move(replacement);
    ++s.replacements;
}

namespace {
// Completes a replacement (the ranges never rewritten copied from the original)
// and renames it over the original; the handle that rewrote the file then refers
// to the new one.
bool put_replacement_in_place(GuardedFile& file) {
    Replacement& r = *file.replacement;
    std::vector<unsigned char> block;
    for (const auto& [gap_begin, gap_end] : r.written.missing(0, std::min(r.length, r.original_limit))) {
        for (uint64_t at = gap_begin; at < gap_end;) {
            block.resize(static_cast<size_t>(std::min<uint64_t>(kPiece, gap_end - at)));
            const ssize_t got = ::pread(r.handle_fd, block.data(), block.size(), static_cast<off_t>(at));
            if (got <= 0) {
                note(DiskOp::write, r.path);
                return false;
            }
            if (!disk::write_at(r.fd, block.data(), static_cast<size_t>(got), at)) {
                note(DiskOp::write, r.path);
                return false;
            }
            at += static_cast<uint64_t>(got);
        }
    }
    struct stat st {};
    if (::fstat(r.fd, &st) == 0 && static_cast<uint64_t>(st.st_size) != r.length && !disk::truncate(r.fd, r.length)) {
        note(DiskOp::truncate, r.path);
        return false;
    }
    if (!replace_file(r.path, file.path)) return false;
    state().touched.insert(file.path);
    // The handle is the same descriptor number, now on the new file.
    if (::fstat(r.handle_fd, &st) == 0 && st.st_ino == file.inode && st.st_dev == file.device)
        (void)::dup2(r.fd, r.handle_fd);  // cannot fail for two open descriptors
    return true;
}
} // namespace

ChangeOutcome finish_change(bool keep) {
    ChangeState& s = state();
    ChangeOutcome outcome;
    if (!s.open) return outcome;
    for (auto& guard : s.guards) outcome.wrote = outcome.wrote || guard->journal_fd >= 0;
    bool commit = keep && !s.failure;
    for (auto& guard : s.guards)
        for (GuardedFile& file : guard->files)
            if (commit && file.replacement && !put_replacement_in_place(file)) commit = false;
    if (commit) {
        // Everything the change wrote reaches the disk before the journal goes.
        for (const std::string& path : s.touched) {
            if (!sync_path(path)) {
                note(DiskOp::sync, path);
                commit = false;
                break;
            }
        }
        for (const std::string& path : s.directories) {
            if (commit && !disk::sync_directory_of(path)) {
                note(DiskOp::sync, directory_name(path));
                commit = false;
            }
        }
    }
    if (commit) {
        for (auto& guard : s.guards) {
            if (guard->journal_fd < 0) continue;
            // The commit: a commit entry when second names of old files are to go
            // (a journal that ends with one is completed, never rolled back), then
            // the journal's removal.
            bool done = false;
            if (!guard->saved_names.empty()) {
                if (!append_entry(*guard, kCommit, {}) || !sync_journal(*guard)) {
                    // A commit entry that may not be on the disk does not count.
                    close_fd(guard->journal_fd);
                    (void)play_back(guard->journal_path, outcome.rollback_failure, nullptr, true);  // in the outcome
                    continue;
                }
                done = true;
                bool removed = true;
                for (const std::string& name : guard->saved_names) {
                    if (!disk::remove(name)) {
                        note(DiskOp::remove, name);
                        removed = false;
                    }
                }
                // A name left behind stays recorded: the next open removes it.
                if (!removed) {
                    close_fd(guard->journal_fd);
                    outcome.committed = true;
                    continue;
                }
            }
            close_fd(guard->journal_fd);
            if (!disk::remove(guard->journal_path)) {
                note(DiskOp::remove, guard->journal_path);
                // Without a commit entry the journal must not outlive the change.
                if (!done) (void)play_back(guard->journal_path, outcome.rollback_failure);  // kept in the outcome
            } else {
                done = true;
                if (!disk::sync_directory_of(guard->journal_path)) note(DiskOp::sync, directory_name(guard->journal_path));
            }
            outcome.committed = outcome.committed || done;
        }
        if (!outcome.wrote) outcome.committed = true;
    } else {
        for (auto& guard : s.guards) {
            if (guard->journal_fd < 0) continue;
            close_fd(guard->journal_fd);
            (void)play_back(guard->journal_path, outcome.rollback_failure);  // kept in the outcome
        }
    }
    outcome.failure = s.failure;
    for (auto& guard : s.guards) {
        for (int& fd : guard->lock_fds) close_fd(fd);
        for (GuardedFile& file : guard->files)
            if (file.replacement) close_fd(file.replacement->fd);
    }
    s = ChangeState{};
    return outcome;
}

std::string temporary_name_for(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    static const char kDigits[] = "0123456789abcdef";
    for (;;) {
        uint64_t random = name_generator()();
        std::string suffix;
        for (int i = 0; i < 8; ++i, random >>= 4) suffix.push_back(kDigits[random & 15]);
        std::string name = directory + "." + base + "." + suffix + ".new";
        if (!exists(name)) return name;
    }
}

FileHandle create_new_file(const std::string& path) {
    if (state().failure) return FileHandle();
    if (!log_action(path, kCreated, path)) return FileHandle();
    const int fd = disk::create(path, true, 0666);
    if (fd < 0) {
        const int error = errno;
        // The name belongs to someone else: the rollback must leave it alone.
        if (error == EEXIST) (void)log_action(path, kVoid, path);
        // A name that cannot be used is the command's to report; a disk fault fails the change.
        if (is_disk_fault(error)) note_disk_failure(DiskOp::create, path, error);
        errno = error;
        return FileHandle();
    }
    state().directories.insert(path);
    note_file_written(path);
    return FileHandle(fd, path);
}

bool replace_file(const std::string& from, const std::string& to) {
    if (state().failure) return false;
    struct stat old {};
    if (::stat(to.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            note_disk_failure(DiskOp::rename, to, EISDIR);
            return false;
        }
        // The replacement keeps the mode, owner and group of the file it replaces
        // (the owner only where the process may give it).
        if (::chmod(from.c_str(), old.st_mode & 07777) != 0) {
            note(DiskOp::create, from);
            return false;
        }
        if (::chown(from.c_str(), old.st_uid, old.st_gid) != 0)
            (void)::chown(from.c_str(), static_cast<uid_t>(-1), old.st_gid);  // only the group, when allowed
    }
    if (!change_open() || state().guards.empty()) {
        // Outside a change: the new file is durable before its name is.
        if (!sync_path(from)) {
            note(DiskOp::sync, from);
            return false;
        }
        if (!disk::rename(from, to)) {
            note(DiskOp::rename, from);
            return false;
        }
        if (!disk::sync_directory_of(to)) {
            note(DiskOp::sync, to);
            return false;
        }
        return true;
    }
    if (exists(to)) {
        const std::string saved = temporary_name_for(to);
        if (!log_action(to, kReplaced, to, saved)) return false;
        if (!disk::link(to, saved)) {
            note(DiskOp::link, to);
            return false;
        }
        if (TableGuard* guard = guard_for_path(to)) guard->saved_names.push_back(saved);
    }
    if (!log_action(to, kRenamed, from, to)) return false;
    if (!disk::rename(from, to)) {
        note(DiskOp::rename, from);
        return false;
    }
    state().touched.insert(to);
    state().directories.insert(to);
    return true;
}

bool keep_file_as(const std::string& path, const std::string& copy_name) {
    const std::string temporary = temporary_name_for(copy_name);
    if (change_open() && !state().guards.empty() && !log_action(temporary, kCreated, temporary)) return false;
    if (!disk::link(path, temporary)) {
        if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP) {
            note(DiskOp::link, path);
            return false;
        }
        // No second names here: a copy.
        FileHandle from = open_file_read_only(path);
        int fd = disk::create(temporary, true, 0666);
        if (!from || fd < 0) {
            note(DiskOp::create, temporary);
            close_fd(fd);
            return false;
        }
        FileHandle to(fd, temporary);
        std::vector<unsigned char> block(kPiece);
        for (long long got; (got = from.read(block.data(), block.size())) > 0;)
            if (!to.write(block.data(), static_cast<size_t>(got))) return false;
    }
    note_file_written(temporary);
    return replace_file(temporary, copy_name);
}

bool remove_new_file(const std::string& path) {
    if (!disk::remove(path)) {
        if (errno == ENOENT) return true;
        note(DiskOp::remove, path);
        return false;
    }
    state().directories.insert(path);
    return true;
}

std::string journal_name(const std::string& table_path) { return table_path + ".journal"; }

namespace {
// True when the journal ends with its commit entry: the change it records is
// complete, and the files hold it.
bool journal_committed(const std::string& journal_path) {
    int fd = ::open(journal_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    unsigned char tail[9];
    const bool read = ::fstat(fd, &st) == 0 && st.st_size >= 17 &&
                      ::pread(fd, tail, sizeof tail, st.st_size - static_cast<off_t>(sizeof tail)) == 9;
    close_fd(fd);
    const unsigned char kind = kCommit;
    return read && get_le(tail, 4) == 0 && tail[4] == kCommit && get_le(tail + 5, 4) == entry_check(&kind, 1);
}
} // namespace

bool has_interrupted_change(const std::string& table_path) {
    const std::string journal = journal_name(table_path);
    if (!exists(journal) || journal_committed(journal)) return false;
    // A journal under a live lock belongs to a change in progress.
    int fd = ::open(table_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool locked = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close_fd(fd);
    return !locked;
}

Recovery recover_interrupted_change(const std::string& table_path) {
    Recovery recovery;
    const std::string journal = journal_name(table_path);
    if (!exists(journal)) return recovery;
    // The lock makes sure no process is in the middle of that change.
    ChangeState& s = state();
    const bool was_open = s.open;
    s.open = true;
    const int fd = lock_file(table_path);
    std::optional<DiskFailure> lock_failure = s.failure;
    s.failure.reset();
    s.open = was_open;
    if (fd == -1) {
        recovery.result = RecoveryResult::failed;
        recovery.failure = lock_failure;
        return recovery;
    }
    if (!exists(journal)) {
        int unused = fd;
        close_fd(unused);
        return recovery;
    }
    bool completed = false;
    recovery.result = !play_back(journal, recovery.failure, &completed) ? RecoveryResult::failed
                      : completed                                       ? RecoveryResult::completed
                                                                        : RecoveryResult::rolled_back;
    int held = fd;
    close_fd(held);
    return recovery;
}

} // namespace rorarodi
