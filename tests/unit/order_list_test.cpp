#include <gtest/gtest.h>

#include <dirent.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "cli_support.h"
#include "table/order_list.h"

namespace rorarodi {
namespace {

// An order on disk over several blocks, written forwards and backwards: it reads
// back entry by entry in either direction and at random, grows past a block at its
// end, loses entries as in memory, holds little memory, and leaves no file behind.
TEST(OrderList, OnDiskAgreesWithInMemory) {
    testing_support::TempDir dir;
    constexpr uint32_t kCount = 150'001;  // two whole blocks and a bit
    std::vector<uint32_t> entries(kCount);
    std::iota(entries.begin(), entries.end(), 0);
    std::shuffle(entries.begin(), entries.end(), std::mt19937(3));
    for (const bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "forwards");
        OrderListWriter writer(dir / "t.dbf", kCount, reversed);
        ASSERT_TRUE(writer.ready());
        for (uint32_t k = 0; k < kCount; ++k) ASSERT_TRUE(writer.add(entries[reversed ? kCount - 1 - k : k]));
        std::optional<OrderList> list = writer.finish();
        ASSERT_TRUE(list && list->on_disk());
        EXPECT_TRUE(*list == entries);
        for (uint32_t k = kCount; k-- > 0;) ASSERT_EQ((*list)[k], entries[k]) << k;
        std::mt19937 random(5);
        for (int i = 0; i < 1000; ++i) {
            const size_t k = random() % kCount;
            ASSERT_EQ((*list)[k], entries[k]) << k;
        }
        std::vector<uint32_t> expected = entries;
        list->reserve(kCount + 70'000);
        for (uint32_t k = 0; k < 70'000; ++k) {
            list->push_back(kCount + k);
            expected.push_back(kCount + k);
        }
        EXPECT_LT(list->memory_bytes(), 1u << 20);
        const auto remove = [](uint32_t position) { return position % 3 == 0 || position >= 200'000; };
        ASSERT_TRUE(list->erase_if(remove));
        std::erase_if(expected, remove);
        EXPECT_EQ(std::vector<uint32_t>(list->begin(), list->end()), expected);
        list->push_back(7);
        expected.push_back(7);
        EXPECT_TRUE(*list == expected);
    }
    // A writer given fewer entries than announced, or more, makes no list.
    OrderListWriter short_writer(dir / "t.dbf", 3, false);
    ASSERT_TRUE(short_writer.add(1));
    EXPECT_FALSE(short_writer.finish());
    OrderListWriter long_writer(dir / "t.dbf", 1, false);
    ASSERT_TRUE(long_writer.add(1));
    EXPECT_FALSE(long_writer.add(0));  // one more than announced
    EXPECT_FALSE(long_writer.finish());
    DIR* listing = ::opendir(dir.path().c_str());
    size_t files = 0;
    while (dirent* entry = listing ? ::readdir(listing) : nullptr)
        files += std::string(entry->d_name) != "." && std::string(entry->d_name) != "..";
    if (listing) ::closedir(listing);
    EXPECT_EQ(files, 0u);
}

} // namespace
} // namespace rorarodi
