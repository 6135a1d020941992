#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/change_hooks.h"
#include "platform/disk.h"

namespace rorarodi {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        position_ = other.position_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

void FileHandle::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    position_ = 0;
}

bool FileHandle::is_writable() const {
    if (fd_ < 0) return false;
    int flags = ::fcntl(fd_, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

bool FileHandle::seek(uint64_t offset) {
    if (fd_ < 0) return false;
    position_ = offset;
    return true;
}

long long FileHandle::read(void* buffer, size_t count) {
    if (fd_ < 0) return -1;
    size_t done = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (done < count) {
        ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(position_ + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            if (done == 0) return -1;
            break;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    position_ += done;
    return static_cast<long long>(done);
}

bool FileHandle::write(const void* buffer, size_t count) {
    if (fd_ < 0) return false;
    if (!before_file_write(fd_, path_, position_, count)) return false;
    if (!disk::write_at(fd_, buffer, count, position_)) {
        // A file open for reading only refuses writes: that is no failure of the disk.
        if (errno != EBADF) note_disk_failure(DiskOp::write, path_, errno);
        return false;
    }
    position_ += count;
    return true;
}

long long FileHandle::size() const {
    if (fd_ < 0) return -1;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

bool FileHandle::truncate(uint64_t length) {
    if (fd_ < 0) return false;
    if (!before_file_truncate(fd_, path_, length)) return false;
    if (!disk::truncate(fd_, length)) {
        if (errno != EBADF && errno != EINVAL) note_disk_failure(DiskOp::truncate, path_, errno);
        return false;
    }
    return true;
}

namespace {
FileHandle open_regular(const std::string& name, int flags) {
    int fd = ::open(name.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return FileHandle();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return FileHandle();
    }
    return FileHandle(fd, name);
}
} // namespace

FileHandle open_file_read_only(const std::string& name) { return open_regular(name, O_RDONLY); }

FileHandle open_file_write_access(const std::string& name) { return open_regular(name, O_RDWR); }

FileHandle open_file_read_write(const std::string& name) {
    FileHandle handle = open_regular(name, O_RDWR);
    if (!handle) handle = open_regular(name, O_RDONLY);
    return handle;
}

FileHandle create_file(const std::string& name) {
    int fd = disk::create(name, false, 0644);
    if (fd < 0) {
        if (is_disk_fault(errno)) note_disk_failure(DiskOp::create, name, errno);
        return FileHandle();
    }
    note_file_written(name);
    return FileHandle(fd, name);
}

bool is_same_file(const FileHandle& a, const FileHandle& b) {
    struct stat sa {}, sb {};
    if (!a || !b || ::fstat(a.fd(), &sa) != 0 || ::fstat(b.fd(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool names_open_file(const std::string& name, const FileHandle& handle) {
    struct stat by_name {}, open_file {};
    if (!handle || ::stat(name.c_str(), &by_name) != 0 || ::fstat(handle.fd(), &open_file) != 0) return false;
    return by_name.st_dev == open_file.st_dev && by_name.st_ino == open_file.st_ino;
}

bool file_exists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_directory(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool names_same_file(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

} // namespace rorarodi
