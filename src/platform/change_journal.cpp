#include "platform/change_journal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/disk.h"

namespace rorarodi {

namespace {

constexpr char kMagic[8] = {'R', 'R', 'J', 'O', 'U', 'R', '2', '\n'};
constexpr size_t kHeaderSize = 16;

// The check value of an entry: a 32-bit hash of the seed and the entry's bytes,
// eight at a time (an entry may hold a megabyte of original bytes; this keeps up
// with the copy).
uint32_t entry_check(uint64_t seed, const unsigned char* data, size_t size) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t hash = (0x6A09E667F3BCC908ull ^ seed) * kMultiplier ^ (size * kMultiplier);
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

uint64_t get_le(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

uint64_t random_seed() {
    static std::mt19937_64 generator(std::random_device{}() ^ (static_cast<uint64_t>(::getpid()) << 32));
    return generator();
}

} // namespace

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

bool read_exactly(int fd, uint64_t offset, void* out, size_t size) {
    auto* to = static_cast<unsigned char*>(out);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, to + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

bool create_journal(JournalWriter& journal, int& op) {
    op = 0;
    journal.fd = disk::create(journal.path, true, 0600);
    if (journal.fd < 0) return false;
    journal.seed = random_seed();
    std::string header(kMagic, sizeof kMagic);
    put_u64(header, journal.seed);
    op = 1;
    if (!disk::write_at(journal.fd, header.data(), header.size(), 0)) return false;
    journal.end = header.size();
    op = 2;
    return disk::sync(journal.fd);
}

void begin_entry(std::string& entry, EntryKind kind) {
    entry.assign(4, '\0');
    entry.push_back(static_cast<char>(kind));
}

bool append_entry(JournalWriter& journal, std::string& entry) {
    entry.append(4, '\0');
    const size_t payload = entry.size() - 9;
    for (int i = 0; i < 4; ++i) entry[i] = static_cast<char>(payload >> (8 * i));
    const uint32_t check =
        entry_check(journal.seed, reinterpret_cast<const unsigned char*>(entry.data()) + 4, payload + 1);
    for (int i = 0; i < 4; ++i) entry[payload + 5 + i] = static_cast<char>(check >> (8 * i));
    if (!disk::write_at(journal.fd, entry.data(), entry.size(), journal.end)) return false;
    journal.end += entry.size();
    journal.unsynced = true;
    return true;
}

bool sync_journal(JournalWriter& journal) {
    if (!journal.unsynced) return true;
    if (!disk::sync(journal.fd, true)) return false;
    journal.unsynced = false;
    return true;
}

void close_journal(JournalWriter& journal) {
    if (journal.fd >= 0) {
        const int saved = errno;
        ::close(journal.fd);
        errno = saved;
    }
    journal.fd = -1;
}

JournalContents read_journal(int fd) {
    JournalContents contents;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return contents;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    unsigned char head[kHeaderSize];
    contents.read = true;
    if (size < kHeaderSize) return contents;
    if (!read_exactly(fd, 0, head, sizeof head)) {
        contents.read = false;
        return contents;
    }
    if (std::memcmp(head, kMagic, sizeof kMagic) != 0) return contents;
    const uint64_t seed = get_le(head + 8, 8);
    uint64_t at = kHeaderSize;
    std::vector<unsigned char> body;
    while (at + 9 <= size) {
        unsigned char prefix[4];
        if (!read_exactly(fd, at, prefix, 4)) {
            contents.read = false;
            return contents;
        }
        const uint64_t length = get_le(prefix, 4);
        if (at + 9 + length > size) break;
        body.resize(static_cast<size_t>(length) + 5);
        if (!read_exactly(fd, at + 4, body.data(), body.size())) {
            contents.read = false;
            return contents;
        }
        if (entry_check(seed, body.data(), static_cast<size_t>(length) + 1) != get_le(body.data() + length + 1, 4))
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
        JournalEntry entry;
        entry.kind = static_cast<EntryKind>(body[0]);
        bool parsed = true;
        switch (entry.kind) {
        case EntryKind::length:
            parsed = text(entry.name) && end - p >= 8;
            if (parsed) entry.offset = get_le(p, 8);
            break;
        case EntryKind::bytes:
            parsed = end - p >= 12;
            if (parsed) {
                entry.number = get_le(p, 4);
                entry.offset = get_le(p + 4, 8);
                entry.data_at = at + 5 + 12;
                entry.data_size = length - 12;
            }
            break;
        case EntryKind::temporary: parsed = text(entry.name); break;
        case EntryKind::moved:
        case EntryKind::kept: parsed = text(entry.name) && text(entry.second); break;
        case EntryKind::commit: break;
        default: parsed = false;
        }
        if (!parsed) break;
        contents.entries.push_back(std::move(entry));
        at += 9 + length;
    }
    return contents;
}

} // namespace rorarodi
