// The system calls that change files: every write, sync, truncation, rename,
// removal, creation and lock of the program passes through these functions, so
// that one place counts them, reports them and (in the test build) can make the
// N-th one fail or end the process there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace rorarodi {

enum class DiskOp { write, sync, truncate, rename, remove, create, link, lock, read };

// A call that failed: what it did, the file, and the system's error number.
struct DiskFailure {
    DiskOp op = DiskOp::write;
    std::string path;
    int error = 0;
};

// "write", "sync", ... for messages.
const char* disk_op_verb(DiskOp op);
// "Can't write t.fpt: No space left on device" (a lock gives its own reason).
std::string describe_failure(const DiskFailure& failure);

namespace disk {

// Writes all `count` bytes at `offset`, retrying short writes; false with errno set.
[[nodiscard]] bool write_at(int fd, const void* data, size_t count, uint64_t offset);
// Reads exactly `count` bytes at `offset`, retrying short reads; false with errno
// set (EIO when the file ends first).
[[nodiscard]] bool read_at(int fd, void* data, size_t count, uint64_t offset);
// fsync (fdatasync when `data_only`); skipped when syncs are turned off for a measurement.
[[nodiscard]] bool sync(int fd, bool data_only = false);
[[nodiscard]] bool truncate(int fd, uint64_t length);
[[nodiscard]] bool rename(const std::string& from, const std::string& to);
// Renames `from` to `to` only when no file is named `to` (errno EEXIST otherwise).
[[nodiscard]] bool rename_exclusive(const std::string& from, const std::string& to);
[[nodiscard]] bool remove(const std::string& path);
[[nodiscard]] bool link(const std::string& existing, const std::string& new_name);
// open(2) with O_CREAT (and O_EXCL when `exclusive`); -1 with errno set.
[[nodiscard]] int create(const std::string& path, bool exclusive, mode_t mode);
// open(2) of a file without a name in `directory` (O_TMPFILE, never to be linked):
// it goes with its last descriptor, however the process ends. -1 with errno set
// (EOPNOTSUPP or EISDIR where the file system has no such files).
[[nodiscard]] int create_unnamed(const std::string& directory);
// One attempt at an exclusive open-file-description lock of the whole file; false
// with errno EAGAIN when another open file holds a lock on it.
[[nodiscard]] bool try_lock(int fd);
// Syncs the directory that holds `path`.
[[nodiscard]] bool sync_directory_of(const std::string& path);

} // namespace disk

// True for the errors of a disk or file system (no space, a quota, input/output,
// a file too large, a read-only file system), as opposed to a name that cannot
// be used (missing directory, existing file, no permission), which the commands
// report with their own messages.
bool is_disk_fault(int error);

// True when syncs are skipped (RORARODI_UNSAFE_NO_SYNC=1): a measurement aid only.
bool syncs_disabled();

} // namespace rorarodi
