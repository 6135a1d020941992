#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "cli_support.h"
#include "memo_table.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/record_appender.h"
#include "table/table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// Everything a reader gives for the memo of the current record, or nothing.
std::optional<std::string> read_pieces(MemoReader& reader) {
    if (!reader.start(0)) return std::nullopt;
    std::string data;
    for (std::span<char> piece = reader.next(); !piece.empty(); piece = reader.next()) {
        EXPECT_LE(piece.size(), MemoReader::kPieceSize);
        data.append(piece.data(), piece.size());
    }
    return data;
}

std::string smt_reference(uint32_t length, uint32_t block) {
    return std::string(2, '\0') + le32(length) + le32(block);
}

// Long memos with zero bytes, line breaks and (for dBase III) no end marker
// inside, read piece by piece, give what reading them whole gives; so do bad
// references and damaged blocks.
TEST(MemoStream, ReaderGivesWhatReadingWholeGives) {
    std::string long_memo;
    for (int i = 0; i < 30000; ++i) long_memo += std::string("line\r\n\0", 7);
    const std::vector<std::string> memos = {"short", long_memo, "x"};
    std::vector<uint32_t> blocks;
    struct Format {
        uint8_t version;
        std::string image;
        std::vector<std::string> references;
    };
    std::vector<Format> formats;
    // The image, then references to each memo and bad ones (the block list is
    // filled by the image's builder).
    auto add = [&](uint8_t version, const std::string& image) {
        Format format{version, image, {}};
        for (size_t i = 0; i < blocks.size(); ++i)
            format.references.push_back(version == 0xE5
                                            ? smt_reference(static_cast<uint32_t>(memos[i].size()), blocks[i])
                                            : memo_reference_text(blocks[i]));
        if (version == 0xE5) {
            for (const std::string& bad : {smt_reference(0, blocks[0]), smt_reference(0xFFFFFFF0u, blocks[2]),
                                           smt_reference(4, 4000000000u)})
                format.references.push_back(bad);
        } else {
            for (const char* bad : {"         0", "         1", "      9999", "4000000000", "         3"})
                format.references.push_back(bad);
        }
        formats.push_back(format);
    };
    add(0x83, build_dbase3_memo(memos, blocks));
    add(0x8B, build_dbase4_memo(memos, blocks, 64));
    add(0xF5, build_foxpro_memo(memos, blocks, 32));
    add(0xE5, build_smt_memo(memos, blocks, 32));

    for (const Format& format : formats) {
        MemoTable m(format.version, format.image);
        MemoReader reader(m.table);
        for (const std::string& reference : format.references) {
            SCOPED_TRACE(std::to_string(format.version) + " [" + reference + "]");
            m.put_reference(reference);
            std::optional<std::string> whole = read_memo_bytes(m.table, 0);
            std::optional<std::string> pieces = read_pieces(reader);
            ASSERT_EQ(whole.has_value(), pieces.has_value());
            if (whole) {
                EXPECT_TRUE(same_bytes(*pieces, *whole));
            }
        }
        // A memo read again from its start.
        m.put_reference(format.references[1]);
        ASSERT_TRUE(reader.start(0));
        reader.next();
        reader.rewind();
        std::string again;
        for (std::span<char> piece = reader.next(); !piece.empty(); piece = reader.next())
            again.append(piece.data(), piece.size());
        EXPECT_TRUE(same_bytes(again, long_memo));
    }
}

// Memos appended piece by piece leave the memo file and the field as appending
// them whole does.
TEST(MemoStream, WriterStoresWhatWritingWholeStores) {
    const std::string data = std::string(70000, 'a') + std::string("\0\r\n", 3) + "end";
    std::vector<uint32_t> blocks;
    const std::pair<uint8_t, std::string> formats[] = {{0x83, build_dbase3_memo({}, blocks)},
                                                       {0x8B, build_dbase4_memo({}, blocks, 64)},
                                                       {0xF5, build_foxpro_memo({}, blocks, 1)},
                                                       {0xE5, build_smt_memo({}, blocks, 32)}};
    for (const auto& [version, image] : formats) {
        SCOPED_TRACE(version);
        MemoTable whole(version, image), pieces(version, image);
        ASSERT_TRUE(write_memo_bytes(whole.table, 0, data));
        ASSERT_TRUE(write_memo_bytes(whole.table, 0, "second"));
        {
            MemoWriter writer(pieces.table);
            ASSERT_TRUE(writer.start(0));
            for (size_t at = 0; at < data.size(); at += 4096) EXPECT_TRUE(writer.add(std::string_view(data).substr(at, 4096)));
            EXPECT_TRUE(writer.finish());
            ASSERT_TRUE(writer.start(0));
            EXPECT_TRUE(writer.add("second"));
            EXPECT_TRUE(writer.finish());
            // An empty memo changes nothing.
            const std::string before = pieces.reference();
            ASSERT_TRUE(writer.start(0));
            EXPECT_FALSE(writer.finish());
            EXPECT_EQ(pieces.reference(), before);
        }
        EXPECT_EQ(pieces.reference(), whole.reference());
        EXPECT_TRUE(same_bytes(read_file(pieces.table.memo_file_name), read_file(whole.table.memo_file_name)));
    }
    // No memo file: nothing starts.
    MemoTable none(0x83, build_dbase3_memo({}, blocks));
    std::remove(none.table.memo_file_name.c_str());
    MemoWriter writer(none.table);
    EXPECT_FALSE(writer.start(0));
    EXPECT_FALSE(writer.add("x"));
}

TEST(RecordAppender, AppendsInBlocksAndCountsOnce) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"N", 'C', 3}};
    layout.records = {make_record(layout, {"old"})};
    write_file(dir / "t.dbf", build_table(layout));
    DbfTable table;
    ASSERT_EQ(open_table(table, dir / "t.dbf", false), OpenResult::opened);
    {
        RecordAppender appender(table);
        for (int i = 0; i < 100000; ++i) {
            std::memcpy(&table.record_buffer[1], i % 2 ? "odd" : "evn", 3);
            ASSERT_TRUE(appender.append());
        }
    }
    EXPECT_EQ(table.record_count(), 100001u);
    const std::string bytes = read_file(dir / "t.dbf");
    const size_t header = 32 + 32 + 1;
    EXPECT_EQ(bytes.size(), header + 100001 * 4 + 1);
    EXPECT_EQ(bytes.substr(4, 4), le32(100001));
    EXPECT_EQ(bytes.substr(header, 12), " old evn odd");
    EXPECT_EQ(bytes.back(), '\x1A');

    // A read-only table takes nothing.
    DbfTable read_only;
    ASSERT_EQ(open_table(read_only, dir / "t.dbf", true), OpenResult::opened);
    RecordAppender refused(read_only);
    EXPECT_FALSE(refused.append());
    EXPECT_TRUE(refused.finish());
    EXPECT_EQ(read_file(dir / "t.dbf"), bytes);
}

} // namespace
