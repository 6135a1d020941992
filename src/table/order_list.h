// The order of a view: for each position of the ordered view, the position in the
// unordered view that it shows. Four bytes a record: a long one lives in a scratch
// file beside the table, read through a small cache in large sequential blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rorarodi {

class OrderList {
public:
    // What an entry that cannot be read back from the scratch file reads as: a
    // position past every view, which every reader treats as no record.
    static constexpr uint32_t kUnreadable = std::numeric_limits<uint32_t>::max();

    OrderList();
    // An order held in memory.
    OrderList(std::vector<uint32_t> positions);
    OrderList(OrderList&&) noexcept;
    OrderList& operator=(OrderList&&) noexcept;
    ~OrderList();

    size_t size() const { return stored() + memory_.size(); }
    // The entry at `index` (below size()); kUnreadable when the file fails.
    uint32_t operator[](size_t index) const {
        if (!file_) return memory_[index];
        return from_file(index);
    }
    // Adds an entry at the end. Never fails but for memory: an entry that cannot be
    // written to the file stays in memory.
    void push_back(uint32_t position);
    // Room for `count` entries in all, so that as many push_back calls do not throw.
    void reserve(size_t count);
    // Removes the entries `remove` is true for, keeping the others' order; false when
    // the file failed (the list is then no order and must be dropped).
    template <class Predicate>
    [[nodiscard]] bool erase_if(Predicate remove);
    // The bytes of memory the list holds.
    uint64_t memory_bytes() const;
    // True when the entries live in a scratch file.
    bool on_disk() const { return file_ != nullptr; }

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = uint32_t;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = uint32_t;
        const_iterator(const OrderList* list, size_t index) : list_(list), index_(index) {}
        uint32_t operator*() const { return (*list_)[index_]; }
        const_iterator& operator++() {
            ++index_;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return index_ == other.index_; }

    private:
        const OrderList* list_;
        size_t index_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    bool operator==(const std::vector<uint32_t>& entries) const;

private:
    friend class OrderListWriter;
    struct File;

    size_t stored() const;
    uint32_t from_file(size_t index) const;
    [[nodiscard]] bool compact_file(const std::function<bool(uint32_t)>& remove);

    // The whole list in memory; with a file, the entries after those it stores.
    std::vector<uint32_t> memory_;
    std::unique_ptr<File> file_;
};

// Builds an order of `count` entries in a scratch file beside `beside`, the entries
// given one after another from the first, or (reversed) from the last.
class OrderListWriter {
public:
    OrderListWriter(const std::string& beside, uint64_t count, bool reversed);
    ~OrderListWriter();
    OrderListWriter(const OrderListWriter&) = delete;
    OrderListWriter& operator=(const OrderListWriter&) = delete;

    // False when no scratch file could be made.
    bool ready() const;
    [[nodiscard]] bool add(uint32_t position);
    // The list once `count` entries were added; nothing after a failed write or
    // with a different number of entries.
    std::optional<OrderList> finish();

private:
    [[nodiscard]] bool flush();

    OrderList list_;
    uint64_t count_;
    bool reversed_;
    uint64_t added_ = 0;
    std::vector<uint32_t> block_;
    bool failed_ = false;
};

template <class Predicate>
bool OrderList::erase_if(Predicate remove) {
    if (file_) return compact_file(remove);
    std::erase_if(memory_, remove);
    return true;
}

} // namespace rorarodi
