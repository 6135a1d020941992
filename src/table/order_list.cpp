#include "table/order_list.h"

#include <algorithm>
#include <cstring>

#include "platform/scratch_file.h"

namespace rorarodi {

namespace {

// Entries read or written at a time: the cache of a list on disk, the buffer of a
// writer, and the most a list on disk keeps in memory at its end before it writes
// them out.
constexpr size_t kBlockEntries = 64 * 1024;
constexpr size_t kEntryBytes = sizeof(uint32_t);

} // namespace

// The entries [0, stored) of a list on disk, in this process's byte order, and the
// block of them read last.
struct OrderList::File {
    explicit File(const std::string& beside) : scratch(beside) {}
    ScratchFile scratch;
    uint64_t stored = 0;
    std::vector<uint32_t> cache;
    uint64_t cache_first = 0;
};

OrderList::OrderList() = default;
OrderList::OrderList(std::vector<uint32_t> positions) : memory_(std::move(positions)) {}
OrderList::OrderList(OrderList&&) noexcept = default;
OrderList& OrderList::operator=(OrderList&&) noexcept = default;
OrderList::~OrderList() = default;

size_t OrderList::stored() const { return file_ ? static_cast<size_t>(file_->stored) : 0; }

uint32_t OrderList::from_file(size_t index) const {
    File& file = *file_;
    if (index >= file.stored) return memory_[index - file.stored];
    if (index >= file.cache_first && index - file.cache_first < file.cache.size())
        return file.cache[index - file.cache_first];
    // The block that holds the entry, on a boundary of blocks: a walk either way
    // reads each block once.
    const uint64_t first = index / kBlockEntries * kBlockEntries;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kBlockEntries, file.stored - first));
    file.cache.resize(count);
    if (!file.scratch.read_at(file.cache.data(), count * kEntryBytes, first * kEntryBytes)) {
        file.cache.clear();
        return kUnreadable;
    }
    file.cache_first = first;
    return file.cache[index - first];
}

void OrderList::push_back(uint32_t position) {
    memory_.push_back(position);
    if (!file_ || memory_.size() < kBlockEntries) return;
    if (file_->scratch.write_at(memory_.data(), memory_.size() * kEntryBytes, file_->stored * kEntryBytes)) {
        file_->stored += memory_.size();
        memory_.clear();
    }
}

void OrderList::reserve(size_t count) {
    const size_t tail = count > stored() ? count - stored() : 0;
    memory_.reserve(file_ ? std::min(tail, kBlockEntries) : tail);
}

uint64_t OrderList::memory_bytes() const {
    return (memory_.capacity() + (file_ ? file_->cache.capacity() : 0)) * kEntryBytes;
}

bool OrderList::compact_file(const std::function<bool(uint32_t)>& remove) {
    // The entries kept move towards the front of the file: the place written never
    // passes the place read.
    File& file = *file_;
    file.cache.clear();
    std::vector<uint32_t> block;
    uint64_t kept = 0;
    for (uint64_t first = 0; first < file.stored; first += kBlockEntries) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(kBlockEntries, file.stored - first));
        block.resize(count);
        if (!file.scratch.read_at(block.data(), count * kEntryBytes, first * kEntryBytes)) return false;
        std::erase_if(block, remove);
        if (!block.empty() && !file.scratch.write_at(block.data(), block.size() * kEntryBytes, kept * kEntryBytes))
            return false;
        kept += block.size();
    }
    file.stored = kept;
    std::erase_if(memory_, remove);
    return true;
}

bool OrderList::operator==(const std::vector<uint32_t>& entries) const {
    if (size() != entries.size()) return false;
    for (size_t i = 0; i < entries.size(); ++i)
        if ((*this)[i] != entries[i]) return false;
    return true;
}

OrderListWriter::OrderListWriter(const std::string& beside, uint64_t count, bool reversed)
    : count_(count), reversed_(reversed) {
    list_.file_ = std::make_unique<OrderList::File>(beside);
    block_.reserve(static_cast<size_t>(std::min<uint64_t>(kBlockEntries, count)));
}

OrderListWriter::~OrderListWriter() = default;

bool OrderListWriter::ready() const { return list_.file_->scratch.ready(); }

bool OrderListWriter::add(uint32_t position) {
    // An entry past the number announced spoils the list.
    if (added_ == count_) failed_ = true;
    if (failed_) return false;
    block_.push_back(position);
    ++added_;
    return block_.size() < kBlockEntries || flush();
}

bool OrderListWriter::flush() {
    if (block_.empty()) return true;
    // Reversed, the block just given holds the entries that end where the earlier
    // blocks begin, last first.
    uint64_t first = added_ - block_.size();
    if (reversed_) {
        std::reverse(block_.begin(), block_.end());
        first = count_ - added_;
    }
    failed_ = failed_ || !list_.file_->scratch.write_at(block_.data(), block_.size() * kEntryBytes, first * kEntryBytes);
    block_.clear();
    return !failed_;
}

std::optional<OrderList> OrderListWriter::finish() {
    if (!flush() || failed_ || added_ != count_) return std::nullopt;
    list_.file_->stored = count_;
    block_ = std::vector<uint32_t>();
    return std::move(list_);
}

} // namespace rorarodi
