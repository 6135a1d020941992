#include "platform/disk.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace rorarodi {

namespace {

#ifdef RORARODI_FAULT_INJECTION
// The test build counts the calls and can make one of them fail or end the
// process before it runs: RORARODI_FAULT=kill:N, fail:N:ENOSPC or fail:N:EIO
// (calls count from 1); RORARODI_FAULT_COUNT=file writes the number of calls made
// into that file when the program ends normally.
struct FaultPlan {
    enum Kind { none, kill, fail } kind = none;
    unsigned long at = 0;
    int error = 0;
    unsigned long calls = 0;
    std::string count_file;
};

FaultPlan& fault_plan() {
    static FaultPlan plan = [] {
        FaultPlan p;
        if (const char* count = std::getenv("RORARODI_FAULT_COUNT")) p.count_file = count;
        const char* text = std::getenv("RORARODI_FAULT");
        if (!text) return p;
        std::string_view setting(text);
        if (setting.rfind("kill:", 0) == 0) {
            p.kind = FaultPlan::kill;
            p.at = std::strtoul(text + 5, nullptr, 10);
        } else if (setting.rfind("fail:", 0) == 0) {
            p.kind = FaultPlan::fail;
            char* end = nullptr;
            p.at = std::strtoul(text + 5, &end, 10);
            p.error = end && std::string_view(end) == ":EIO" ? EIO : ENOSPC;
        }
        return p;
    }();
    return plan;
}

void write_call_count() {
    const FaultPlan& plan = fault_plan();
    if (plan.count_file.empty()) return;
    if (std::FILE* file = std::fopen(plan.count_file.c_str(), "w")) {
        std::fprintf(file, "%lu\n", plan.calls);
        (void)std::fclose(file);  // a test aid: the test sees a missing count
    }
}

// Counts one call; false (errno set) when this call is to fail.
bool may_proceed() {
    FaultPlan& plan = fault_plan();
    static const bool registered = [] { return std::atexit(write_call_count) == 0; }();
    (void)registered;
    ++plan.calls;
    if (plan.kind == FaultPlan::none || plan.calls != plan.at) return true;
    if (plan.kind == FaultPlan::kill) {
        std::fflush(stdout);
        std::raise(SIGKILL);
    }
    errno = plan.error;
    return false;
}
#else
constexpr bool may_proceed() { return true; }
#endif

} // namespace

bool syncs_disabled() {
    static const bool disabled = [] {
        const char* value = std::getenv("RORARODI_UNSAFE_NO_SYNC");
        return value && value[0] == '1';
    }();
    return disabled;
}

bool is_disk_fault(int error) {
    switch (error) {
    case ENOENT: case ENOTDIR: case EACCES: case EPERM: case EEXIST: case EISDIR: case ENAMETOOLONG: case ELOOP:
        return false;
    default: return true;
    }
}

const char* disk_op_verb(DiskOp op) {
    switch (op) {
    case DiskOp::write: return "write";
    case DiskOp::sync: return "sync";
    case DiskOp::truncate: return "truncate";
    case DiskOp::rename: return "rename";
    case DiskOp::remove: return "remove";
    case DiskOp::create: return "create";
    case DiskOp::link: return "link";
    case DiskOp::lock: return "lock";
    case DiskOp::read: return "read";
    }
    return "change";
}

std::string describe_failure(const DiskFailure& failure) {
    const char* reason = failure.op == DiskOp::lock && failure.error == EAGAIN
                             ? "another process is changing it"
                             : std::strerror(failure.error);
    return std::string("Can't ") + disk_op_verb(failure.op) + " " + failure.path + ": " + reason;
}

namespace disk {

bool write_at(int fd, const void* data, size_t count, uint64_t offset) {
    if (!may_proceed()) return false;
    const auto* in = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(fd, in + done, count - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

bool read_at(int fd, void* data, size_t count, uint64_t offset) {
    auto* out = static_cast<unsigned char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool sync(int fd, bool data_only) {
    if (!may_proceed()) return false;
    if (syncs_disabled()) return true;
    return (data_only ? ::fdatasync(fd) : ::fsync(fd)) == 0;
}

bool truncate(int fd, uint64_t length) {
    if (!may_proceed()) return false;
    return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool rename(const std::string& from, const std::string& to) {
    if (!may_proceed()) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool rename_exclusive(const std::string& from, const std::string& to) {
    if (!may_proceed()) return false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the exclusive rename: the name is checked first.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool remove(const std::string& path) {
    if (!may_proceed()) return false;
    return ::unlink(path.c_str()) == 0;
}

bool link(const std::string& existing, const std::string& new_name) {
    if (!may_proceed()) return false;
    return ::link(existing.c_str(), new_name.c_str()) == 0;
}

int create(const std::string& path, bool exclusive, mode_t mode) {
    if (!may_proceed()) return -1;
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    return ::open(path.c_str(), flags, mode);
}

int create_unnamed(const std::string& directory) {
    if (!may_proceed()) return -1;
    return ::open(directory.c_str(), O_RDWR | O_TMPFILE | O_EXCL | O_CLOEXEC, 0600);
}

bool try_lock(int fd) {
    if (!may_proceed()) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool sync_directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = sync(fd);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return synced;
}

} // namespace disk

} // namespace rorarodi
