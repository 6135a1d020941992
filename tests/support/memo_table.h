// A memo table written into a fresh temporary directory and opened as the run loop
// opens it, with the record buffer's memo reference and trailing field at hand.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "cli_support.h"
#include "table/table.h"
#include "table_builder.h"

namespace testing_support {

// A table of one memo field (and a trailing 'C' field) beside the given memo file
// image, opened the way the run loop opens tables.
struct MemoTable {
    TempDir dir;
    rorarodi::DbfTable table;
    std::string memo_path;

    MemoTable(uint8_t version, const std::string& memo_image, unsigned memo_width = 10,
              const std::string& memo_extension = "") {
        TableLayout layout;
        layout.version = version;
        layout.fields = {{"NOTE", 'M', memo_width}, {"TAIL", 'C', 4}};
        write_file(dir / "t.dbf", build_table(layout));
        EXPECT_EQ(rorarodi::open_table(table, dir / "t.dbf", false), rorarodi::OpenResult::opened);
        memo_path = memo_extension.empty() ? table.memo_file_name : dir / ("t" + memo_extension);
        if (!memo_image.empty()) write_file(memo_path, memo_image);
        put_tail("tail");
    }

    void put_reference(const std::string& bytes) {
        std::memcpy(table.record_buffer.data() + 1, bytes.data(), bytes.size());
    }
    void put_tail(const std::string& bytes) {
        std::memcpy(table.record_buffer.data() + table.field(1).offset, bytes.data(), 4);
    }
    std::string reference() const {
        return std::string(reinterpret_cast<const char*>(table.record_buffer.data()) + 1,
                           rorarodi::field_width(table, 0));
    }
    std::string tail() const {
        return std::string(reinterpret_cast<const char*>(table.record_buffer.data()) + table.field(1).offset, 4);
    }
    std::string memo_file() const { return read_file(memo_path); }
};

} // namespace testing_support
