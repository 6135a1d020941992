// Files of work data beside a table (sorted runs, a long order) that nothing but
// this process ever sees.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace rorarodi {

// A file in the directory of `beside` without a name, so that nothing of it stays
// however the program ends (a kill included). Where the file system has no such
// files it is created exclusively under a hidden name that is removed at once.
// Closed, and so gone, with the object.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& beside);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // False when no file could be made (a directory the program may not write).
    bool ready() const { return fd_ >= 0; }
    // All `count` bytes at `offset`; false on a failed write.
    [[nodiscard]] bool write_at(const void* data, size_t count, uint64_t offset);
    // Exactly `count` bytes from `offset`; false on a failed or short read.
    [[nodiscard]] bool read_at(void* data, size_t count, uint64_t offset) const;

private:
    int fd_ = -1;
    std::string name_;  // the hidden name still to remove, when one could not be removed at once
};

} // namespace rorarodi
