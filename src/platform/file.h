// Move-only handle on an open file, with a current position as the table and memo
// code expects: seek, then read or write at that position. Offsets are 64-bit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace rorarodi {

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd, std::string path = {}) : fd_(fd), path_(std::move(path)) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept
        : fd_(other.fd_), position_(other.position_), path_(std::move(other.path_)) {
        other.fd_ = -1;
    }
    FileHandle& operator=(FileHandle&& other) noexcept;
    ~FileHandle() { close(); }

    explicit operator bool() const { return fd_ >= 0; }
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The name the file was opened by (for messages).
    const std::string& path() const { return path_; }
    // True when the file was opened with write access.
    bool is_writable() const;
    void close();

    // Moves the position; false only when the handle is closed.
    [[nodiscard]] bool seek(uint64_t offset);
    uint64_t position() const { return position_; }
    // Reads up to `count` bytes at the position and advances it; returns the number
    // read, or -1 on an error. Reading at or past the end returns 0.
    [[nodiscard]] long long read(void* buffer, size_t count);
    // Writes all `count` bytes at the position; false when not all could be written
    // (the failure is noted in the open change, which then rolls back).
    [[nodiscard]] bool write(const void* buffer, size_t count);
    // Size of the file in bytes, or -1.
    long long size() const;
    // Cuts or extends the file to `length` bytes.
    [[nodiscard]] bool truncate(uint64_t length);

private:
    int fd_ = -1;
    uint64_t position_ = 0;
    std::string path_;
};

// Opens an existing regular file for reading; a closed handle on failure.
[[nodiscard]] FileHandle open_file_read_only(const std::string& name);
// Opens an existing regular file for reading and writing, falling back to reading only.
[[nodiscard]] FileHandle open_file_read_write(const std::string& name);
// Opens an existing regular file for reading and writing only (no fallback).
[[nodiscard]] FileHandle open_file_write_access(const std::string& name);
// Creates (or truncates) a file for reading and writing. Files that take the place
// of a user's file are made with create_new_file and replace_file (change.h).
[[nodiscard]] FileHandle create_file(const std::string& name);

// A stdio stream that closes itself. Closing reports nothing: a writer flushes and
// checks the stream for errors before it lets go.
struct StdioCloser {
    void operator()(std::FILE* file) const { (void)std::fclose(file); }
};
using StdioFile = std::unique_ptr<std::FILE, StdioCloser>;

// True when both names exist and denote the same file (any spelling, any link).
bool names_same_file(const std::string& a, const std::string& b);
// True when both handles are open on the same file (device and inode).
bool is_same_file(const FileHandle& a, const FileHandle& b);
// True when `name` is an existing file that `handle` has open.
bool names_open_file(const std::string& name, const FileHandle& handle);

// True when `name` names an existing regular file, or an existing directory.
bool file_exists(const std::string& name);
bool is_directory(const std::string& name);
// True when `name` names an existing file that is neither a regular file nor a
// directory: a device or a pipe (a link followed).
bool is_special_file(const std::string& name);

} // namespace rorarodi
