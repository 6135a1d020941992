#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "opened_table.h"
#include "table/duplicates.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// The straightforward search: every later position against every earlier one.
std::vector<uint32_t> pairwise_duplicates(DbfTable& table) {
    const uint32_t n = view_record_count(table);
    const uint32_t length = table.record_length();
    std::vector<std::string> records(n);
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_TRUE(read_view_record(table, i));
        records[i].assign(reinterpret_cast<const char*>(table.record_buffer.data()), length);
    }
    std::vector<bool> marked(n, false);
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = i + 1; j < n; ++j)
            if (records[i] == records[j] && records[j][0] != '*') marked[j] = true;
    std::vector<uint32_t> positions;
    for (uint32_t j = 0; j < n; ++j)
        if (marked[j]) positions.push_back(j);
    return positions;
}

TEST(Duplicates, HashedSearchAgreesWithPairwiseSearch) {
    std::mt19937 random(15);
    TableLayout layout;
    layout.fields = {{"A", 'C', 2}, {"B", 'C', 9}};
    for (int i = 0; i < 3000; ++i) {
        // Few distinct values: many groups of equal records, some deleted.
        std::string a(1, static_cast<char>('a' + random() % 4));
        std::string b(1 + random() % 2, static_cast<char>('0' + random() % 5));
        layout.records.push_back(make_record(layout, {a, b}, random() % 5 == 0));
    }
    OpenedTable opened(layout);
    DbfTable& table = opened.table;

    // The whole file, a view of some records, and an order over that view; the
    // records held in memory and read again from the file.
    std::vector<uint32_t> view;
    for (uint32_t i = 0; i < layout.records.size(); ++i)
        if (random() % 3) view.push_back(i);
    std::vector<uint32_t> order(view.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    for (int setup = 0; setup < 3; ++setup) {
        if (setup >= 1) table.filter.view_list = view;
        if (setup == 2) table.order_list = order;
        const std::vector<uint32_t> expected = pairwise_duplicates(table);
        EXPECT_GT(expected.size(), 500u);
        for (uint64_t memory : {kDuplicateSearchMemory, uint64_t{0}}) {
            SCOPED_TRACE(setup * 10 + (memory != 0));
            EXPECT_EQ(find_duplicate_positions(table, memory), expected);
        }
    }

    // Marking them: after that, none is left, and every mark is one of them.
    const std::vector<uint32_t> found = find_duplicate_positions(table);
    std::vector<uint8_t> marks_before;
    for (uint32_t p = 0; p < view_record_count(table); ++p) {
        marks_before.push_back(read_mark_byte(table, p).value_or(0));
    }
    EXPECT_EQ(mark_positions_deleted(table, found), found.size());
    EXPECT_TRUE(find_duplicate_positions(table).empty());
    for (uint32_t p = 0; p < view_record_count(table); ++p) {
        const bool listed = std::binary_search(found.begin(), found.end(), p);
        EXPECT_EQ(read_mark_byte(table, p), listed ? '*' : marks_before[p]) << p;
    }
}

// Deleting them within a budget too small for the hash of the view (the hashes
// sorted in runs on disk, the records found spilled too) marks the same records
// as the hashed search, under a view and an order as well.
TEST(Duplicates, SortedSearchMarksWhatTheHashedSearchMarks) {
    std::mt19937 random(21);
    TableLayout layout;
    layout.fields = {{"A", 'C', 3}};
    for (int i = 0; i < 2000; ++i)
        layout.records.push_back(make_record(layout, {std::to_string(random() % 300)}, random() % 6 == 0));
    std::vector<uint32_t> view, order;
    for (uint32_t i = 0; i < layout.records.size(); ++i)
        if (random() % 4) view.push_back(i);
    order.resize(view.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    for (int setup = 0; setup < 3; ++setup) {
        std::string marks[2];
        for (const uint64_t budget : {kDuplicateSearchMemory, uint64_t{64}}) {
            SCOPED_TRACE(setup * 10 + (budget == 64));
            OpenedTable opened(layout);
            DbfTable& table = opened.table;
            if (setup >= 1) table.filter.view_list = view;
            if (setup == 2) table.order_list = order;
            const size_t expected = pairwise_duplicates(table).size();
            const std::optional<DuplicatesDeleted> deleted = delete_duplicates(table, budget);
            ASSERT_TRUE(deleted);
            EXPECT_EQ(deleted->sorted, budget == 64);  // the runs on disk were taken
            EXPECT_EQ(deleted->found, expected);
            EXPECT_EQ(deleted->marked, expected);
            EXPECT_TRUE(pairwise_duplicates(table).empty());
            for (uint32_t i = 0; i < table.record_count(); ++i) {
                ASSERT_TRUE(seek_physical_record(table, i));
                char mark = 0;
                ASSERT_EQ(table.table_handle.read(&mark, 1), 1);
                marks[budget == 64] += mark;
            }
        }
        EXPECT_EQ(marks[0], marks[1]);
    }
}

} // namespace
