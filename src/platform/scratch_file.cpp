#include "platform/scratch_file.h"

#include <unistd.h>

#include <cerrno>

#include "platform/change.h"
#include "platform/change_playback.h"
#include "platform/disk.h"

namespace rorarodi {

ScratchFile::ScratchFile(const std::string& beside) {
    fd_ = disk::create_unnamed(directory_name(beside));
    if (fd_ >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return;
    // No unnamed files here: a hidden name (temporary_name_for makes sure it is new,
    // the exclusive create makes sure no other file is taken) that goes at once.
    const std::string name = temporary_name_for(beside);
    fd_ = disk::create(name, true, 0600);
    if (fd_ >= 0 && !disk::remove(name)) name_ = name;
}

ScratchFile::~ScratchFile() {
    if (fd_ < 0) return;
    ::close(fd_);
    if (!name_.empty()) (void)disk::remove(name_);  // nothing more can be done here
}

bool ScratchFile::write_at(const void* data, size_t count, uint64_t offset) {
    return fd_ >= 0 && disk::write_at(fd_, data, count, offset);
}

bool ScratchFile::read_at(void* data, size_t count, uint64_t offset) const {
    return fd_ >= 0 && disk::read_at(fd_, data, count, offset);
}

} // namespace rorarodi
