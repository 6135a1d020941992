// A table written into a fresh temporary directory and opened as the run loop opens it.
#pragma once
#include <gtest/gtest.h>

#include "cli_support.h"
#include "table/table.h"
#include "table_builder.h"

namespace testing_support {

struct OpenedTable {
    TempDir dir;
    rorarodi::DbfTable table;

    // Opens `layout` written as t.dbf; with `read_first` the first record is read.
    explicit OpenedTable(const TableLayout& layout, bool read_first = false) {
        write_file(dir / "t.dbf", build_table(layout));
        EXPECT_EQ(rorarodi::open_table(table, dir / "t.dbf", false), rorarodi::OpenResult::opened);
        if (read_first && !layout.records.empty()) {
            EXPECT_TRUE(rorarodi::read_view_record(table, 0));
        }
    }
};

} // namespace testing_support
