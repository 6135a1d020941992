#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "table/row_sort.h"
#include "cli_support.h"

namespace rorarodi {
namespace {

size_t files_in(const std::string& path) {
    size_t count = 0;
    DIR* listing = ::opendir(path.c_str());
    while (dirent* entry = listing ? ::readdir(listing) : nullptr)
        count += std::string(entry->d_name) != "." && std::string(entry->d_name) != "..";
    if (listing) ::closedir(listing);
    return count;
}

TEST(SortMemoryBudget, ReadsMebibytesOrKibibytes) {
    const struct {
        const char* text;
        uint64_t bytes;
    } cases[] = {{"64", 64u << 20}, {"3K", 3u << 10}, {"3k", 3u << 10}, {"0", 512u << 20}, {"-1", 512u << 20},
                 {"12MB", 512u << 20}, {"", 512u << 20}, {"2KK", 512u << 20}};
    for (const auto& c : cases) {
        ::setenv("RORARODI_SORT_MEMORY", c.text, 1);
        EXPECT_EQ(sort_memory_budget(), c.bytes) << c.text;
    }
    ::unsetenv("RORARODI_SORT_MEMORY");
    EXPECT_EQ(sort_memory_budget(), uint64_t{512} << 20);
}

// Runs of every size, merged through buffers of one row or of many, give the
// rows of a sort of all of them; the run file goes with the runs.
TEST(SpilledRuns, MergeEqualsOneSort) {
    testing_support::TempDir dir;
    const std::string beside = dir / "t.dbf";
    std::mt19937 random(7);
    constexpr size_t kRow = 5;
    std::vector<uint8_t> all(kRow * 1000);
    for (uint8_t& b : all) b = static_cast<uint8_t>(random() % 4);  // many equal rows
    std::vector<std::vector<uint8_t>> rows;
    for (size_t i = 0; i < 1000; ++i) rows.emplace_back(all.begin() + i * kRow, all.begin() + (i + 1) * kRow);
    std::vector<std::vector<uint8_t>> expected = rows;
    std::sort(expected.begin(), expected.end());
    for (size_t run_rows : {1, 7, 333, 1000}) {
        for (size_t buffer : {size_t{1}, size_t{4096}}) {
            std::string name;
            {
                SpilledRuns runs(beside, kRow);
                ASSERT_TRUE(runs.ready());
                for (size_t first = 0; first < 1000; first += run_rows) {
                    const size_t count = std::min(run_rows, 1000 - first);
                    std::vector<uint8_t> run(all.begin() + first * kRow, all.begin() + (first + count) * kRow);
                    sort_rows(run.data(), count, kRow);
                    ASSERT_TRUE(runs.add_run(run.data(), count));
                }
                std::vector<std::vector<uint8_t>> merged;
                ASSERT_TRUE(runs.merge(buffer, [&](const uint8_t* row) { merged.emplace_back(row, row + kRow); }));
                EXPECT_EQ(merged, expected) << run_rows << " rows a run, buffer " << buffer;
            }
            EXPECT_EQ(files_in(dir.path()), 0u);
        }
    }
}

} // namespace
} // namespace rorarodi
