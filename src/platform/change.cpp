#include "platform/change.h"

#include <algorithm>
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

#include "platform/change_journal.h"
#include "platform/change_playback.h"
#include "platform/file.h"

namespace rorarodi {

namespace {

// Original bytes are saved in pieces of at most this size; a large write saves
// this much ahead, so that a pass over a big file syncs the journal seldom.
constexpr size_t kPiece = 1 << 20;
constexpr uint64_t kSaveAhead = 64u << 20;
constexpr uint64_t kSmallSaveAhead = 256u << 10;  // a run of record writes syncs every 256 KiB
constexpr size_t kLargeWrite = 64 * 1024;

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
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

// What a file is and how it was last changed: another process that writes or
// replaces it changes one of these.
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    bool operator==(const FileState& o) const {
        return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

std::optional<FileState> state_of(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return FileState{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

std::optional<FileState> state_by_name(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return state_of(st);
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
    std::optional<FileState> expected;  // the file as this process read it
    int number = -1;                    // its number in the journal, once declared
    uint64_t original_length = 0;
    SavedRanges saved;
};

// One guarded table: its files, journal and locks.
struct TableGuard {
    std::string table_path;
    std::string directory;  // absolute, with the final '/'
    std::vector<GuardedFile> files;
    JournalWriter journal;
    int declared = 0;
    std::vector<int> lock_fds;
    std::vector<std::string> hidden_names;  // to remove once the change is made
};

struct ChangeState {
    bool open = false;
    std::vector<std::unique_ptr<TableGuard>> guards;
    std::optional<DiskFailure> failure;
    std::set<std::string> touched;      // files written: synced at the commit
    std::set<std::string> directories;  // directories whose names changed: synced at the commit
    std::set<std::string> unsynced_directories;  // names made since the directory's last sync
    std::set<std::string> temporaries;  // hidden names handed out in this change
    std::set<std::string> made;         // visible names this change made
};

ChangeState& state() {
    static ChangeState s;
    return s;
}

// How each table file looked when this process last read or wrote it.
std::map<std::string, FileState>& seen_files() {
    static std::map<std::string, FileState> seen;
    return seen;
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

// Takes the exclusive lock of the file that `path` names, waiting a bounded time;
// the name must still hold the locked file afterwards (a process that replaced it
// meanwhile leaves the lock on an orphan), else the lock is taken again. -1 (errno
// set, EAGAIN for a lock held elsewhere) when it cannot be had; -2 for a missing file.
int lock_file(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lock_wait_milliseconds());
    for (;;) {
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return errno == ENOENT ? -2 : -1;
        for (;;) {
            if (disk::try_lock(fd)) break;
            if ((errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() >= deadline) {
                // Both say that another open file holds a lock.
                if (errno == EACCES) errno = EAGAIN;
                close_fd(fd);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        close_fd(fd);
    }
}

// Makes what the journal holds durable before the step it undoes.
bool sync_entries(TableGuard& guard) {
    if (sync_journal(guard.journal)) return true;
    note(DiskOp::sync, guard.journal.path);
    return false;
}

bool write_entry(TableGuard& guard, std::string& entry) {
    if (append_entry(guard.journal, entry)) return true;
    note(DiskOp::write, guard.journal.path);
    return false;
}

// Syncs the directory of `path` when a name made in it since its last sync is not
// yet durable.
bool make_names_durable(const std::string& path) {
    ChangeState& s = state();
    const std::string directory = directory_name(absolute_path(path));
    if (!s.unsynced_directories.count(directory)) return true;
    if (!disk::sync_directory_of(absolute_path(path))) {
        note(DiskOp::sync, directory);
        return false;
    }
    s.unsynced_directories.erase(directory);
    return true;
}

void name_changed(const std::string& path) {
    ChangeState& s = state();
    s.directories.insert(directory_name(absolute_path(path)));
    s.unsynced_directories.insert(directory_name(absolute_path(path)));
}

// Locks the table and its memo file and creates the journal, once per change.
bool start_journal(TableGuard& guard) {
    if (guard.journal.fd >= 0) return true;
    if (state().failure) return false;
    for (const GuardedFile& file : guard.files) {
        const int fd = lock_file(file.path);
        if (fd == -1) {
            note(DiskOp::lock, file.path);
            return false;
        }
        if (fd >= 0) guard.lock_fds.push_back(fd);
        // A file that another process replaced or changed since this one read it
        // is not changed on that reading.
        struct stat st {};
        if (fd >= 0 && file.expected && (::fstat(fd, &st) != 0 || !(state_of(st) == file.expected))) {
            note_disk_failure(DiskOp::lock, file.path, EAGAIN);
            return false;
        }
    }
    int op = 0;
    if (!create_journal(guard.journal, op)) {
        note(op == 0 ? DiskOp::create : op == 1 ? DiskOp::write : DiskOp::sync, guard.journal.path);
        close_journal(guard.journal);
        // A journal that could not be completed is none: it goes again.
        if (op != 0) (void)disk::remove(guard.journal.path);
        return false;
    }
    if (!disk::sync_directory_of(guard.journal.path)) {
        note(DiskOp::sync, directory_name(guard.journal.path));
        return false;
    }
    state().directories.insert(directory_name(guard.journal.path));
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
            if (file.expected && file.expected->inode == st.st_ino && file.expected->device == st.st_dev)
                return {guard.get(), &file};
    return {nullptr, nullptr};
}

// Saves the original bytes of [begin, end) of a guarded file not saved yet, and
// declares the file (with its original length) first.
bool save_original(TableGuard& guard, GuardedFile& file, int fd, uint64_t begin, uint64_t end) {
    if (!start_journal(guard)) return false;
    std::string entry;
    if (file.number < 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            note(DiskOp::read, file.path);
            return false;
        }
        file.original_length = static_cast<uint64_t>(st.st_size);
        begin_entry(entry, EntryKind::length);
        put_text(entry, stored_name(guard, file.path));
        put_u64(entry, file.original_length);
        if (!write_entry(guard, entry)) return false;
        file.number = guard.declared++;
    }
    end = std::min(end, file.original_length);
    // Each piece is read straight into its entry: file number, offset, bytes.
    for (const auto& [gap_begin, gap_end] : file.saved.missing(begin, end)) {
        for (uint64_t at = gap_begin; at < gap_end;) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(kPiece, gap_end - at));
            begin_entry(entry, EntryKind::bytes);
            put_u32(entry, static_cast<uint32_t>(file.number));
            put_u64(entry, at);
            const size_t data_at = entry.size();
            entry.resize(data_at + size);
            if (!read_exactly(fd, at, entry.data() + data_at, size)) {
                // A read error fails the change; a file grown shorter than its
                // original length is not read past its end by any write.
                note(DiskOp::read, file.path);
                return false;
            }
            if (!write_entry(guard, entry)) return false;
            file.saved.add(at, at + size);
            at += size;
        }
    }
    return sync_entries(guard);
}

// Appends a name entry and syncs it before the step it covers.
bool log_names(TableGuard& guard, EntryKind kind, const std::string& name, const std::string& second = {}) {
    if (!start_journal(guard)) return false;
    std::string entry;
    begin_entry(entry, kind);
    put_text(entry, stored_name(guard, name));
    if (kind == EntryKind::moved || kind == EntryKind::kept) put_text(entry, stored_name(guard, second));
    return write_entry(guard, entry) && sync_entries(guard);
}

// Syncs a file by name; a missing file needs nothing.
bool sync_path(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    const bool synced = disk::sync(fd);
    close_fd(fd);
    return synced;
}

std::mt19937_64& name_generator() {
    static std::mt19937_64 generator(std::random_device{}() ^ (static_cast<uint64_t>(::getpid()) << 32));
    return generator;
}

// Creates a hidden work file, noted in the journal before it exists (its name is
// new and this change's own). -1, the failure noted unless the name is taken.
int create_hidden(TableGuard& guard, const std::string& path) {
    if (!log_names(guard, EntryKind::temporary, path)) return -1;
    const int fd = disk::create(path, true, 0666);
    if (fd < 0) {
        if (is_disk_fault(errno)) note(DiskOp::create, path);
        return -1;
    }
    guard.hidden_names.push_back(path);
    name_changed(path);
    note_file_written(path);
    return fd;
}

// True when `path` is one of the guarded files.
bool is_guarded_name(const std::string& path) {
    const std::string absolute = absolute_path(path);
    for (auto& guard : state().guards)
        for (const GuardedFile& file : guard->files)
            if (absolute_path(file.path) == absolute) return true;
    return false;
}

// Renames this change's file `from` to the new name `to`, never over a file: the
// journal notes the move first, with every name it relies on durable.
bool move_to_new_name(TableGuard& guard, const std::string& from, const std::string& to) {
    ChangeState& s = state();
    if (!make_names_durable(from) || !log_names(guard, EntryKind::moved, from, to)) return false;
    if (!disk::rename_exclusive(from, to)) {
        const int error = errno;
        // A name that cannot be used is the command's to report; a disk fault fails the change.
        if (is_disk_fault(error)) note_disk_failure(DiskOp::rename, from, error);
        errno = error;
        return false;
    }
    name_changed(to);
    if (s.touched.erase(from) > 0) s.touched.insert(to);
    s.made.erase(from);
    s.made.insert(to);
    return true;
}

// Gives the file `path` holds a hidden second name, noted first, that keeps it
// until the change is made.
bool keep_under_hidden_name(TableGuard& guard, const std::string& path) {
    const std::string hidden = temporary_name_for(path);
    if (!log_names(guard, EntryKind::kept, path, hidden)) return false;
    if (!disk::link(path, hidden)) {
        note(DiskOp::link, path);
        return false;
    }
    guard.hidden_names.push_back(hidden);
    name_changed(hidden);
    return true;
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
    guard->journal.path = journal_name(absolute);
    guard->directory = directory_of(absolute);
    for (const std::string& path : {table_path, memo_path}) {
        if (path.empty()) continue;
        GuardedFile file;
        file.path = path;
        // The file as this process read it, when it noted that; else as it is now.
        const auto seen = seen_files().find(absolute_path(path));
        file.expected = seen != seen_files().end() ? std::optional<FileState>(seen->second) : state_by_name(path);
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

// Before a write or truncation inside an open change: false (errno set) once the
// change has failed; otherwise notes the file as written.
bool change_admits_write(const std::string& path) {
    ChangeState& s = state();
    if (s.failure) {
        errno = s.failure->error;
        return false;
    }
    note_file_written(path);
    return true;
}

} // namespace

bool before_file_write(int fd, const std::string& path, uint64_t offset, size_t count) {
    if (!state().open) return true;
    if (!change_admits_write(path)) return false;
    auto [guard, guarded] = guarded_file_of(fd);
    if (!guard) return true;
    const uint64_t end = offset + std::max<uint64_t>(count, count >= kLargeWrite ? kSaveAhead : kSmallSaveAhead);
    return save_original(*guard, *guarded, fd, offset, end);
}

bool before_file_truncate(int fd, const std::string& path, uint64_t length) {
    if (!state().open) return true;
    if (!change_admits_write(path)) return false;
    auto [guard, guarded] = guarded_file_of(fd);
    if (!guard) return true;
    return save_original(*guard, *guarded, fd, length, UINT64_MAX);
}

ChangeOutcome finish_change(bool keep) {
    ChangeState& s = state();
    ChangeOutcome outcome;
    if (!s.open) return outcome;
    for (auto& guard : s.guards) outcome.wrote = outcome.wrote || guard->journal.fd >= 0;
    bool commit = keep && !s.failure;
    if (commit) {
        // Everything the change wrote reaches the disk before the journal goes.
        for (const std::string& path : s.touched) {
            if (!sync_path(path)) {
                note(DiskOp::sync, path);
                commit = false;
                break;
            }
        }
        for (const std::string& directory : s.directories) {
            if (commit && !disk::sync_directory_of(directory + "/")) {
                note(DiskOp::sync, directory);
                commit = false;
            }
        }
    }
    for (auto& guard : s.guards) {
        if (guard->journal.fd < 0) continue;
        if (!commit) {
            close_journal(guard->journal);
            (void)play_back(guard->journal.path, outcome.rollback_failure, true);  // kept in the outcome
            continue;
        }
        // The commit: a commit entry when hidden names are to go (a journal that
        // ends with one is completed, never rolled back), then the journal's removal.
        bool made = false;
        if (!guard->hidden_names.empty()) {
            std::string entry;
            begin_entry(entry, EntryKind::commit);
            if (!write_entry(*guard, entry) || !sync_entries(*guard)) {
                // A commit entry that may not be on the disk does not count.
                close_journal(guard->journal);
                (void)play_back(guard->journal.path, outcome.rollback_failure, true);  // in the outcome
                continue;
            }
            made = true;
            bool removed = true;
            for (const std::string& name : guard->hidden_names) {
                if (!disk::remove(name) && errno != ENOENT) {
                    note(DiskOp::remove, name);
                    removed = false;
                }
            }
            // A name left behind stays recorded: the next open removes it.
            if (!removed) {
                close_journal(guard->journal);
                outcome.committed = true;
                continue;
            }
        }
        close_journal(guard->journal);
        if (!disk::remove(guard->journal.path)) {
            note(DiskOp::remove, guard->journal.path);
            // Without a commit entry the journal must not outlive the change.
            if (!made) (void)play_back(guard->journal.path, outcome.rollback_failure, true);  // in the outcome
        } else {
            made = true;
            if (!disk::sync_directory_of(guard->journal.path)) note(DiskOp::sync, directory_name(guard->journal.path));
        }
        outcome.committed = outcome.committed || made;
    }
    if (commit && !outcome.wrote) outcome.committed = true;
    outcome.failure = s.failure;
    // The files as this process leaves them, before another may change them.
    for (auto& guard : s.guards)
        for (const GuardedFile& file : guard->files)
            if (const std::optional<FileState> now = state_by_name(file.path)) seen_files()[absolute_path(file.path)] = *now;
    for (auto& guard : s.guards)
        for (int& fd : guard->lock_fds) close_fd(fd);
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
        if (exists(name)) continue;
        if (state().open) state().temporaries.insert(name);
        return name;
    }
}

FileHandle create_new_file(const std::string& path) {
    ChangeState& s = state();
    if (s.failure) return FileHandle();
    TableGuard* guard = guard_for_path(path);
    if (!guard) {
        const int fd = disk::create(path, true, 0666);
        if (fd < 0) {
            if (is_disk_fault(errno)) note(DiskOp::create, path);
            return FileHandle();
        }
        return FileHandle(fd, path);
    }
    if (s.temporaries.count(path)) {
        const int fd = create_hidden(*guard, path);
        return fd < 0 ? FileHandle() : FileHandle(fd, path);
    }
    // A visible name: the file is made under a hidden name and renamed to it, never
    // over a file of that name (a name that a file holds is never noted as this
    // change's, so no rollback removes a user's file).
    if (exists(path)) {
        errno = EEXIST;
        return FileHandle();
    }
    const std::string hidden = temporary_name_for(path);
    FileHandle file(create_hidden(*guard, hidden), path);
    if (!file || !move_to_new_name(*guard, hidden, path)) return FileHandle();
    return file;
}

bool replace_file(const std::string& from, const std::string& to) {
    ChangeState& s = state();
    if (s.failure) return false;
    struct stat old {};
    const bool replaces = ::stat(to.c_str(), &old) == 0;
    if (replaces) {
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
    TableGuard* guard = guard_for_path(to);
    if (!guard) {
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
    // A user's file that moves is kept under a hidden name first.
    if (!s.made.count(from) && !s.temporaries.count(from) && !keep_under_hidden_name(*guard, from)) return false;
    if (!replaces) return move_to_new_name(*guard, from, to);
    // The file `to` holds is kept under a hidden name, durable before the rename.
    if (!keep_under_hidden_name(*guard, to)) return false;
    // The new file is locked before it takes a guarded name: a process that opens
    // the name meanwhile waits for this change.
    if (is_guarded_name(to)) {
        const int fd = ::open(from.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 || !disk::try_lock(fd)) {
            int unused = fd;
            close_fd(unused);
            note(DiskOp::lock, from);
            return false;
        }
        guard->lock_fds.push_back(fd);
    }
    if (!make_names_durable(to)) return false;
    if (!disk::rename(from, to)) {
        note(DiskOp::rename, from);
        return false;
    }
    name_changed(to);
    // The file is synced under its new name, and only when this change wrote it.
    if (s.touched.erase(from) > 0) s.touched.insert(to);
    s.made.erase(from);
    return true;
}

bool keep_file_as(const std::string& path, const std::string& copy_name) {
    const std::string temporary = temporary_name_for(copy_name);
    TableGuard* guard = guard_for_path(copy_name);
    if (guard && !log_names(*guard, EntryKind::temporary, temporary)) return false;
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
        note_file_written(temporary);
    }
    if (guard) {
        guard->hidden_names.push_back(temporary);
        name_changed(temporary);
    }
    return replace_file(temporary, copy_name);
}

bool remove_new_file(const std::string& path) {
    if (!disk::remove(path)) {
        if (errno == ENOENT) return true;
        note(DiskOp::remove, path);
        return false;
    }
    if (state().open) name_changed(path);
    return true;
}

void note_file_seen(const std::string& path) {
    if (const std::optional<FileState> now = state_by_name(path)) seen_files()[absolute_path(path)] = *now;
}

bool changed_since_seen(const std::string& path) {
    const auto seen = seen_files().find(absolute_path(path));
    if (seen == seen_files().end()) return false;
    const std::optional<FileState> now = state_by_name(path);
    return now && !(*now == seen->second);
}

void forget_seen_files() { seen_files().clear(); }

std::string journal_name(const std::string& table_path) { return table_path + ".journal"; }

bool has_journal(const std::string& table_path) { return exists(journal_name(table_path)); }

namespace {
// True when the journal ends with its commit entry: the change it records is
// complete, and the files hold it.
bool journal_committed(const std::string& journal_path) {
    int fd = ::open(journal_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const JournalContents contents = read_journal(fd);
    close_fd(fd);
    return contents.read && !contents.entries.empty() && contents.entries.back().kind == EntryKind::commit;
}

// True when another open file holds a lock on the file `path` names.
bool locked_elsewhere(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool locked = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close_fd(fd);
    return locked;
}
} // namespace

bool has_interrupted_change(const std::string& table_path) {
    const std::string journal = journal_name(table_path);
    if (!exists(journal) || journal_committed(journal)) return false;
    // A journal under a live lock belongs to a change in progress.
    return !locked_elsewhere(table_path);
}

Recovery recover_interrupted_change(const std::string& table_path) {
    Recovery recovery;
    if (!has_journal(table_path)) return recovery;
    // The lock makes sure no process is in the middle of that change; a table
    // whose name is missing has no process changing it.
    int fd = lock_file(table_path);
    if (fd == -1) {
        recovery.result = errno == EAGAIN ? RecoveryResult::locked : RecoveryResult::failed;
        recovery.failure = DiskFailure{DiskOp::lock, table_path, errno};
        return recovery;
    }
    if (has_journal(table_path)) {
        const PlaybackEnd end = play_back(journal_name(table_path), recovery.failure);
        recovery.result = end == PlaybackEnd::failed      ? RecoveryResult::failed
                          : end == PlaybackEnd::completed ? RecoveryResult::completed
                                                          : RecoveryResult::rolled_back;
    }
    close_fd(fd);
    return recovery;
}

} // namespace rorarodi
