// What an open file tells the open change (change.h) before and after it writes:
// the one dependency of file.cpp on the change machinery.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/disk.h"

namespace rorarodi {

// Called before a write or truncation of the open file `fd` (named `path`): the
// original bytes are saved when the file is guarded, and the file is noted to be
// synced at the commit. False (the failure noted, errno set) when the bytes cannot
// be saved, so the write must not happen.
[[nodiscard]] bool before_file_write(int fd, const std::string& path, uint64_t offset, size_t count);
[[nodiscard]] bool before_file_truncate(int fd, const std::string& path, uint64_t length);
// Records a failed call (the first one counts); the open change is then rolled back.
void note_disk_failure(DiskOp op, const std::string& path, int error);
// Notes a file written in the open change, to be synced when it commits.
void note_file_written(const std::string& path);

} // namespace rorarodi
