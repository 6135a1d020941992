#include <gtest/gtest.h>

#include "cli_support.h"
#include "commands/record_lists.h"
#include "driver/dispatch.h"
#include "driver/settings.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// Opens a table of `count` records as the current table.
class RangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_state();
        TableLayout layout;
        layout.fields = {{"ID", 'N', 4}};
        for (int i = 0; i < 10; ++i) layout.records.push_back(make_record(layout, {std::to_string(i + 1)}));
        write_file(dir_ / "t.dbf", build_table(layout));
        auto table = std::make_unique<DbfTable>();
        ASSERT_EQ(open_table(*table, dir_ / "t.dbf", false), OpenResult::opened);
        process_state().current_table = std::move(table);
    }
    void TearDown() override { reset_process_state(); }

    std::vector<uint32_t> visited() {
        std::vector<uint32_t> positions;
        visit_range_positions(current_table(), [&](uint32_t p) { positions.push_back(p); });
        return positions;
    }

    TempDir dir_;
};

TEST_F(RangeTest, ListsKeepTheirOrderAndDuplicates) {
    EXPECT_EQ(visited().size(), 10u);
    dispatch_parameter("RANGE:3,1-2");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{2, 0, 1}));
    dispatch_parameter("range:1");
    dispatch_parameter("RANGE:1");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{2, 0, 1, 0, 0}));
    dispatch_parameter("RANGE:ALL");
    EXPECT_EQ(visited().size(), 10u);
}

TEST_F(RangeTest, ListsThatNameNothingLeaveAnEmptyListInForce) {
    for (const char* text : {"RANGE:0", "RANGE:abc", "RANGE:5-3", "RANGE:-4", "RANGE:;,"}) {
        dispatch_parameter("RANGE:all");
        dispatch_parameter(text);
        EXPECT_TRUE(process_state().range_list.entries.has_value()) << text;
        EXPECT_TRUE(visited().empty()) << text;
    }
    dispatch_parameter("RANGE:aLL");
    EXPECT_FALSE(process_state().range_list.entries.has_value());
}

TEST_F(RangeTest, EntriesPastTheViewAreSkippedAndHugeRangesCostNothing) {
    dispatch_parameter("RANGE:9-2000000000,20,2");
    EXPECT_EQ(visited(), (std::vector<uint32_t>{8, 9, 1}));
    EXPECT_EQ(process_state().range_list.entries->size(), 3u);
}

} // namespace
