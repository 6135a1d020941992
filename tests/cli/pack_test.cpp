#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

std::string zeros(size_t count) { return std::string(count, '\0'); }

// One memo format: the table's version byte and memo reference, the memo file
// builder, and what a memo occupies in the file.
struct MemoFormat {
    const char* name;
    uint8_t version;
    unsigned width;
    const char* old_name;  // where the pack leaves the old memo file
    const char* memo_name;
    std::function<std::string(const std::vector<std::string>&, std::vector<uint32_t>&)> build;
    uint32_t block_size;
    size_t overhead;  // bytes stored with each memo besides its data
    std::function<std::string(uint32_t block, size_t length)> reference;
    std::string blank;
};

std::vector<MemoFormat> formats() {
    auto text = [](uint32_t block, size_t) { return memo_reference_text(block); };
    return {
        {"dBase III", 0x83, 10, "t.~bt", "t.dbt", [](auto& m, auto& b) { return build_dbase3_memo(m, b); }, 512, 2,
         text, std::string(10, ' ')},
        {"dBase IV", 0x8B, 10, "t.~bt", "t.dbt", [](auto& m, auto& b) { return build_dbase4_memo(m, b, 64); }, 64, 8,
         text, std::string(10, ' ')},
        {"FoxPro", 0xF5, 10, "t.~pt", "t.fpt", [](auto& m, auto& b) { return build_foxpro_memo(m, b, 64); }, 64, 8,
         text, std::string(10, ' ')},
        {"Visual FoxPro", 0x30, 4, "t.~pt", "t.fpt", [](auto& m, auto& b) { return build_foxpro_memo(m, b, 32); }, 32,
         8, [](uint32_t block, size_t) { return le32(block); }, zeros(4)},
        {"SMT", 0xE5, 10, "t.~mt", "t.smt", [](auto& m, auto& b) { return build_smt_memo(m, b, 32); }, 32, 0,
         [](uint32_t block, size_t length) { return zeros(2) + le32(static_cast<uint32_t>(length)) + le32(block); },
         zeros(10)},
    };
}

// A memo file as appending leaves it: no padding after the last memo.
std::string unpadded(const MemoFormat& format, const std::vector<std::string>& memos) {
    std::vector<uint32_t> blocks;
    std::string file = format.build(memos, blocks);
    file.resize(blocks.back() * format.block_size + memos.back().size() + format.overhead);
    return file;
}

TEST(Pack, TableAndMemoInEveryFormat) {
    for (const MemoFormat& format : formats()) {
        SCOPED_TRACE(format.name);
        TempDir dir;
        const std::string long_memo(700, 'g');
        std::vector<uint32_t> blocks;
        const std::string memo_file = format.build({"alpha", "orphan", "beta", long_memo}, blocks);
        TableLayout layout;
        layout.version = format.version;
        layout.extra_header = format.version == 0x30 ? 263 : 0;
        layout.fields = {{"NAME", 'C', 4}, {"NOTE", 'M', format.width}};
        auto record = [&](const char* name, const std::string& reference, bool deleted) {
            return std::string(deleted ? "*" : " ") + name + reference;
        };
        layout.records = {record("ann ", format.reference(blocks[0], 5), false),
                          record("bob ", format.reference(blocks[2], 4), true),
                          record("cid ", format.reference(999, 3), false),  // points past the file
                          record("dee ", format.reference(blocks[3], long_memo.size()), false)};
        write_file(dir / "t.dbf", build_table(layout));
        write_file(dir / format.memo_name, memo_file);

        // A rejected argument alone changes nothing; in a run that would pack, it
        // stops the run before anything changes.
        EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/PACK:x"}).output, "Invalid pack parameter...\n");
        EXPECT_EQ(run_rorarodi(dir, {"t.dbf", "/PACK:x", "/PACK"}, "t.dbf: nothing was changed\n").output,
                  "Invalid pack parameter...\n");
        EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
        RunResult r = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/PACK", "/COUNT"});
        EXPECT_EQ(r.output,
                  "Processing of parameter [/PACK]\nEnter Pack\nLeave Pack\n"
                  "Processing of parameter [/COUNT]\nEnter Count\n3\nLeave Count\n");
        // Orphan and deleted memos are gone, references renumbered, a reference to
        // nowhere blanked; the old memo file is kept as it was.
        std::vector<uint32_t> new_blocks;
        format.build({"alpha", long_memo}, new_blocks);
        TableLayout packed = layout;
        packed.records = {record("ann ", format.reference(new_blocks[0], 5), false),
                          record("cid ", format.blank, false),
                          record("dee ", format.reference(new_blocks[1], long_memo.size()), false)};
        std::string after = read_file(dir / "t.dbf");
        std::string expected = build_table(packed);
        expected.replace(1, 3, after.substr(1, 3));
        EXPECT_EQ(after, expected);
        EXPECT_EQ(read_file(dir / format.memo_name), unpadded(format, {"alpha", long_memo}));
        EXPECT_EQ(read_file(dir / format.old_name), memo_file);
    }
}

TEST(Pack, ModesKeptAndTablePartAlone) {
    TempDir dir;
    const std::string memo_file =
        write_foxpro_memo_table(dir.path(), 4, "NOTE", {"one", "two"}, {{"ann", 1}, {"bob", 0, true}, {"cid"}});
    // /PACK:DBF, then a bare /PACK repeats the table-only mode: the memo file stays.
    RunResult r = run_rorarodi(dir, {"t.dbf", "/PACK:DBF", "/PACK", "/COUNT"});
    EXPECT_EQ(r.output, "2\n");
    EXPECT_EQ(read_file(dir / "t.fpt"), memo_file);
    EXPECT_FALSE(file_exists(dir / "t.~pt"));
    // /PACK:memo rebuilds the memo file only, here holding the one memo still referenced.
    run_rorarodi(dir, {"t.dbf", "/PACK:memo"});
    std::string rebuilt = read_file(dir / "t.fpt");
    EXPECT_EQ(rebuilt, be32(9) + zeros(2) + std::string("\x00\x40", 2) + zeros(504) + be32(1) + be32(3) + "two");
    EXPECT_EQ(read_file(dir / "t.~pt"), memo_file);
    std::string table = read_file(dir / "t.dbf");
    EXPECT_EQ(table.substr(table.size() - 31), " ann " + memo_reference_text(8) + " cid " + std::string(10, ' ') + "\x1A");
}

TEST(Pack, MemoFileThatCannotBeRenamed) {
    TempDir dir;
    const std::string memo_file =
        write_foxpro_memo_table(dir.path(), 4, "NOTE", {"one"}, {{"ann", 0, true}, {"bob", 0}});
    // A directory holds the "~" name: the pack fails whole, the table part included.
    ASSERT_EQ(::mkdir((dir / "t.~pt").c_str(), 0755), 0);
    write_file(dir / "t.~pt/keep", "x");
    RunResult r = run_rorarodi(dir, {"t.dbf", "/PACK", "/COUNT", "/PACK:dbf", "/COUNT"});
    EXPECT_EQ(r.output, "Can't rename t.~pt: Is a directory; t.dbf is unchanged\n2\n1\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "t.fpt"), memo_file);
    const std::string table = read_file(dir / "t.dbf");
    EXPECT_EQ(table.substr(table.size() - 16), " bob " + memo_reference_text(8) + "\x1A");
}

} // namespace
