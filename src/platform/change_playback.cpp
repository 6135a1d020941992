#include "platform/change_playback.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/change_journal.h"

namespace rorarodi {

std::string directory_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

// The state of one playback: the journal, the files it opened, what to sync.
class Playback {
public:
    Playback(const std::string& journal_path, std::optional<DiskFailure>& failure)
        : journal_path_(journal_path), failure_(failure) {
        const size_t slash = journal_path.rfind('/');
        directory_ = slash == std::string::npos ? std::string() : journal_path.substr(0, slash + 1);
    }
    ~Playback() {
        for (auto& [path, fd] : open_files_)
            if (fd >= 0) ::close(fd);
        if (journal_fd_ >= 0) ::close(journal_fd_);
    }
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    PlaybackEnd run(bool roll_back_anyway);

private:
    bool fail(DiskOp op, const std::string& path) {
        if (!failure_) failure_ = DiskFailure{op, path, errno};
        return false;
    }
    std::string resolve(const std::string& name) const {
        return !name.empty() && name[0] == '/' ? name : directory_ + name;
    }
    // The descriptor of a file to restore: -2 when it is gone, -1 on a failure.
    int file_fd(const std::string& path);
    bool undo(const JournalEntry& entry);
    bool tidy(const JournalEntry& entry);
    bool remove_if_present(const std::string& path);

    std::string journal_path_, directory_;
    std::optional<DiskFailure>& failure_;
    int journal_fd_ = -1;
    std::vector<std::string> files_;  // declared guarded files, by number
    std::vector<std::pair<std::string, int>> open_files_;
    std::set<std::string> written_, directories_;
    std::vector<unsigned char> data_, current_;
};

// True when both names exist and hold the same file.
bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// 1 when the name exists, 0 when it does not, -1 when that cannot be told.
int presence(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return 1;
    return errno == ENOENT ? 0 : -1;
}

int Playback::file_fd(const std::string& path) {
    for (auto& [name, fd] : open_files_)
        if (name == path) return fd;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) return fail(DiskOp::write, path), -1;
    open_files_.emplace_back(path, fd < 0 ? -2 : fd);
    return fd < 0 ? -2 : fd;
}

bool Playback::remove_if_present(const std::string& path) {
    const int present = presence(path);
    if (present < 0) return fail(DiskOp::remove, path);
    if (present == 0) return true;
    if (!disk::remove(path) && errno != ENOENT) return fail(DiskOp::remove, path);
    directories_.insert(path);
    return true;
}

// Each undo looks at the files as they are and does only what is still to do.
bool Playback::undo(const JournalEntry& entry) {
    switch (entry.kind) {
    case EntryKind::bytes: {
        if (entry.number >= files_.size()) return true;
        const std::string& path = files_[entry.number];
        const int fd = file_fd(path);
        if (fd == -1) return false;
        if (fd == -2) return true;  // the file is gone: nothing to restore into
        data_.resize(static_cast<size_t>(entry.data_size));
        if (!read_exactly(journal_fd_, entry.data_at, data_.data(), data_.size()))
            return fail(DiskOp::read, journal_path_);
        // Bytes that are still the original ones are not written again.
        current_.resize(data_.size());
        if (read_exactly(fd, entry.offset, current_.data(), current_.size()) && current_ == data_) return true;
        if (!disk::write_at(fd, data_.data(), data_.size(), entry.offset)) return fail(DiskOp::write, path);
        written_.insert(path);
        return true;
    }
    case EntryKind::length: {
        const std::string path = resolve(entry.name);
        const int fd = file_fd(path);
        if (fd == -1) return false;
        struct stat st {};
        if (fd == -2) return true;
        if (::fstat(fd, &st) != 0) return fail(DiskOp::truncate, path);
        if (static_cast<uint64_t>(st.st_size) == entry.offset) return true;
        if (!disk::truncate(fd, entry.offset)) return fail(DiskOp::truncate, path);
        written_.insert(path);
        return true;
    }
    case EntryKind::temporary: return remove_if_present(resolve(entry.name));
    case EntryKind::moved: {
        // The new name was made by the rename from a name that no longer exists
        // (the change never makes that name again); while the old name is there
        // the rename never happened, and the name belongs to someone else.
        const std::string from = resolve(entry.name), to = resolve(entry.second);
        const int present = presence(from);
        if (present < 0) return fail(DiskOp::remove, to);
        return present == 1 || remove_if_present(to);
    }
    case EntryKind::kept: {
        // The old file is under its hidden name until it is back under its own:
        // the rename puts it back in one step (the name never stands empty). When
        // the name holds it still, only the hidden name goes (the rename would
        // leave both).
        const std::string name = resolve(entry.name), hidden = resolve(entry.second);
        const int present = presence(hidden);
        if (present < 0) return fail(DiskOp::rename, hidden);
        if (present == 0) return true;
        if (same_file(name, hidden)) return remove_if_present(hidden);
        if (!disk::rename(hidden, name)) return fail(DiskOp::rename, hidden);
        directories_.insert(name);
        return true;
    }
    case EntryKind::commit: return true;
    }
    return true;
}

// After the commit only the hidden names are left to remove.
bool Playback::tidy(const JournalEntry& entry) {
    switch (entry.kind) {
    case EntryKind::temporary: return remove_if_present(resolve(entry.name));
    case EntryKind::kept: return remove_if_present(resolve(entry.second));
    default: return true;
    }
}

PlaybackEnd Playback::run(bool roll_back_anyway) {
    journal_fd_ = ::open(journal_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (journal_fd_ < 0) {
        if (errno == ENOENT) return PlaybackEnd::rolled_back;
        fail(DiskOp::read, journal_path_);
        return PlaybackEnd::failed;
    }
    const JournalContents contents = read_journal(journal_fd_);
    if (!contents.read) {
        fail(DiskOp::read, journal_path_);
        return PlaybackEnd::failed;
    }
    bool committed = false;
    for (const JournalEntry& entry : contents.entries) {
        if (entry.kind == EntryKind::length) files_.push_back(resolve(entry.name));
        if (entry.kind == EntryKind::commit) committed = !roll_back_anyway;
    }
    bool ok = true;
    if (committed) {
        for (const JournalEntry& entry : contents.entries)
            if (ok) ok = tidy(entry);
    } else {
        for (auto it = contents.entries.rbegin(); it != contents.entries.rend() && ok; ++it) ok = undo(*it);
    }
    for (auto& [path, fd] : open_files_)
        if (ok && fd >= 0 && written_.count(path) && !disk::sync(fd)) ok = fail(DiskOp::sync, path);
    std::set<std::string> synced;
    for (const std::string& path : directories_)
        if (ok && synced.insert(directory_name(path)).second && !disk::sync_directory_of(path))
            ok = fail(DiskOp::sync, directory_name(path));
    if (!ok) return PlaybackEnd::failed;
    if (!disk::remove(journal_path_) && errno != ENOENT) {
        fail(DiskOp::remove, journal_path_);
        return PlaybackEnd::failed;
    }
    if (!disk::sync_directory_of(journal_path_)) {
        fail(DiskOp::sync, directory_name(journal_path_));
        return PlaybackEnd::failed;
    }
    return committed ? PlaybackEnd::completed : PlaybackEnd::rolled_back;
}

} // namespace

PlaybackEnd play_back(const std::string& journal_path, std::optional<DiskFailure>& failure, bool roll_back_anyway) {
    Playback playback(journal_path, failure);
    return playback.run(roll_back_anyway);
}

} // namespace rorarodi
