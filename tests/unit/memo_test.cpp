#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "cli_support.h"
#include "memo_table.h"
#include "table/dbf_format.h"
#include "table/field_store.h"
#include "table/field_text.h"
#include "table/memo.h"
#include "table/table.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

const std::string kDbase4Mark("\xFF\xFF\x08\x00", 4);

std::string zeros(size_t count) { return std::string(count, '\0'); }

std::string smt_reference(uint32_t length, uint32_t block) { return zeros(2) + le32(length) + le32(block); }

std::string be16(uint16_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

// Memo file images with a given header, for damaged files.
std::string dbase3_image(uint32_t next_free, size_t size) {
    std::string image = le32(next_free) + zeros(508);
    image.resize(std::max<size_t>(size, 512), '\0');
    return image;
}

std::string dbase4_image(uint32_t next_free, uint16_t block_size) {
    std::string image = le32(next_free) + zeros(14) + le16(0x0102) + le16(block_size);
    image.resize(512, '\0');
    return image;
}

std::string foxpro_image(uint32_t next_free, uint16_t block_size) {
    std::string image = be32(next_free) + zeros(2) + be16(block_size);
    image.resize(512, '\0');
    return image;
}

std::string smt_image(uint32_t next_free, uint16_t block_size) {
    std::string image = le32(next_free) + le16(block_size) + std::string("SIxMemo\0", 8);
    image.resize(512, '\0');
    return image;
}

TEST(MemoFile, NamesByKind) {
    EXPECT_EQ(make_memo_file_name("ORDERS.DBF", TableKind::foxpro), "ORDERS.fpt");
    EXPECT_EQ(make_memo_file_name("ORDERS.DBC", TableKind::foxpro), "ORDERS.dct");
    EXPECT_EQ(make_memo_file_name("ORDERS.dbc", TableKind::visual_foxpro), "ORDERS.dct");
    EXPECT_EQ(make_memo_file_name("ORDERS.DBF", TableKind::visual_foxpro), "ORDERS.fpt");
    EXPECT_EQ(make_memo_file_name("ORDERS.DBC", TableKind::dbase3), "ORDERS.dbt");
    EXPECT_EQ(make_memo_file_name("ORDERS.DBF", TableKind::smt), "ORDERS.smt");
    EXPECT_EQ(make_memo_file_name("ORDERS.DBF", TableKind::dbase4), "ORDERS.dbt");
    EXPECT_EQ(make_memo_file_name("ORDERS.DBF", TableKind::level7), "ORDERS.dbt");
    EXPECT_EQ(make_memo_file_name("ORDERS.DBF", static_cast<TableKind>(5)), "ORDERS.dbv");
    EXPECT_EQ(make_memo_file_name("/data/v1.2/orders", TableKind::dbase3), "/data/v1.2/orders.dbt");
    EXPECT_EQ(make_memo_file_name("a\\b.c/t.x.dbf", TableKind::foxpro), "a\\b.c/t.x.fpt");
}

TEST(MemoFile, DeriveTableKind) {
    MemoTable fox(0xF5, "");
    EXPECT_EQ(derive_table_kind(fox.table), TableKind::foxpro);
    EXPECT_EQ(fox.table.table_kind, TableKind::foxpro);
    EXPECT_EQ(fox.table.memo_file_name, fox.dir / "t.fpt");

    MemoTable smt(0xE5, "");
    EXPECT_EQ(smt.table.table_kind, TableKind::smt);
    EXPECT_EQ(smt.table.memo_file_name, smt.dir / "t.smt");
    smt.table.level7 = true;
    EXPECT_EQ(derive_table_kind(smt.table), TableKind::level7);
    EXPECT_EQ(smt.table.memo_file_name, smt.dir / "t.dbt");
}

TEST(MemoFile, Dbase3AppendArithmetic) {
    MemoTable m(0x83, dbase3_image(5, 2560));
    ASSERT_EQ(m.table.memo_file_name, m.dir / "t.dbt");
    std::string text(700, 'x');
    ASSERT_TRUE(write_memo_text(m.table, 0, text));
    std::string file = m.memo_file();
    ASSERT_EQ(file.size(), 2560u + 702u);
    EXPECT_EQ(file.substr(2560), text + "\x1A\x1A");
    EXPECT_EQ(file.substr(0, 4), le32(7));
    EXPECT_EQ(m.reference(), "         5");
    EXPECT_EQ(m.tail(), "tail");
    EXPECT_EQ(read_memo_text(m.table, 0), text);
    EXPECT_EQ(memo_block_size(m.table), 512u);
}

TEST(MemoFile, FoxProAppendArithmetic) {
    MemoTable m(0xF5, foxpro_image(8, 64));
    std::string data(100, 'd');
    ASSERT_TRUE(write_memo_bytes(m.table, 0, data));
    std::string file = m.memo_file();
    ASSERT_EQ(file.size(), 512u + 108u);
    EXPECT_EQ(file.substr(512), be32(1) + be32(100) + data);
    EXPECT_EQ(file.substr(0, 4), be32(10));
    EXPECT_EQ(m.reference(), "         8");
    EXPECT_EQ(memo_block_size(m.table), 64u);
}

TEST(MemoFile, Dbase4BlockCounts) {
    MemoTable m(0x8B, dbase4_image(1, 512));
    ASSERT_TRUE(write_memo_bytes(m.table, 0, std::string(504, 'a')));
    EXPECT_EQ(m.memo_file().substr(0, 4), le32(2));
    EXPECT_EQ(m.memo_file().substr(512, 8), std::string("\xFF\xFF\x08\x00", 4) + le32(512));
    EXPECT_EQ(m.reference(), "         1");
    ASSERT_TRUE(write_memo_bytes(m.table, 0, std::string(505, 'b')));
    EXPECT_EQ(m.memo_file().substr(0, 4), le32(4));
    EXPECT_EQ(m.reference(), "         2");
    EXPECT_EQ(read_memo_bytes(m.table, 0), std::string(505, 'b'));
    EXPECT_EQ(memo_block_size(m.table), 512u);
}

TEST(MemoFile, VisualFoxProIntegerReference) {
    std::vector<uint32_t> blocks;
    MemoTable m(0x30, build_foxpro_memo({"first memo", "second"}, blocks, 64), 4);
    ASSERT_EQ(blocks, (std::vector<uint32_t>{8, 9}));
    m.put_reference(le32(0));
    EXPECT_FALSE(read_memo_text(m.table, 0));
    EXPECT_EQ(field_text(m.table, 0), std::string("Empty memo"));
    m.put_reference(le32(8));
    EXPECT_EQ(read_memo_text(m.table, 0), "first memo");
    EXPECT_EQ(field_text(m.table, 0), std::string("Full memo "));
    m.put_reference(le32(9));
    EXPECT_EQ(read_memo_bytes(m.table, 0), "second");

    ASSERT_TRUE(write_memo_text(m.table, 0, "third"));
    EXPECT_EQ(m.reference(), le32(10));
    EXPECT_EQ(read_memo_text(m.table, 0), "third");
}

TEST(MemoFile, SmtReferences) {
    std::vector<uint32_t> blocks;
    MemoTable m(0xE5, build_smt_memo({"smt data"}, blocks, 32));
    EXPECT_EQ(m.reference(), zeros(10));
    EXPECT_EQ(field_text(m.table, 0), std::string("Empty memo"));
    EXPECT_EQ(read_memo_bytes(m.table, 0), "");
    m.put_reference(smt_reference(8, blocks[0]));
    EXPECT_EQ(read_memo_bytes(m.table, 0), "smt data");
    EXPECT_FALSE(read_memo_text(m.table, 0));
    EXPECT_EQ(memo_block_size(m.table), 32u);

    ASSERT_TRUE(write_memo_text(m.table, 0, "longer text"));
    EXPECT_EQ(m.reference(), smt_reference(11, 17));
    EXPECT_EQ(m.memo_file().substr(0, 4), le32(18));
    EXPECT_EQ(read_memo_bytes(m.table, 0), "longer text");
}

TEST(MemoFile, RoundTripsInAllFormats) {
    std::vector<uint32_t> blocks;
    const std::string data = std::string("before\0after", 12) + std::string(3000, 'z');
    struct Format {
        uint8_t version;
        std::string image;
    };
    const Format formats[] = {{0x83, build_dbase3_memo({}, blocks)},
                              {0x8B, build_dbase4_memo({}, blocks, 64)},
                              {0x8C, build_dbase4_memo({}, blocks, 1024)},
                              {0xF5, build_foxpro_memo({}, blocks, 1)},
                              {0x30, build_foxpro_memo({}, blocks, 512)},
                              {0xE5, build_smt_memo({}, blocks, 32)}};
    for (const Format& format : formats) {
        SCOPED_TRACE(format.version);
        MemoTable m(format.version, format.image);
        ASSERT_TRUE(write_memo_bytes(m.table, 0, data));
        EXPECT_EQ(read_memo_bytes(m.table, 0), data);
        std::string first = m.reference();
        ASSERT_TRUE(write_memo_text(m.table, 0, std::string("short\0ignored", 13)));
        EXPECT_EQ(read_memo_bytes(m.table, 0), "short");
        const bool text_reads = format.version != 0xE5;  // SMT memos are read as bytes only
        if (text_reads) {
            EXPECT_EQ(read_memo_text(m.table, 0), "short");
        }
        m.put_reference(first);
        if (text_reads) {
            EXPECT_EQ(read_memo_text(m.table, 0), "before");
        }
        EXPECT_EQ(read_memo_bytes(m.table, 0), data);
        EXPECT_FALSE(m.table.memo_handle);
    }
}

TEST(MemoFile, SetFieldWritesMemos) {
    std::vector<uint32_t> blocks;
    MemoTable m(0xF5, build_foxpro_memo({}, blocks, 64));
    const char bytes[] = {'a', '\0', 'b', 'c'};
    set_field(m.table, 0, std::string_view(bytes, 4), 3);
    EXPECT_EQ(read_memo_bytes(m.table, 0), std::string("a\0b", 3));
    // A count beyond the data stores the data, and nothing after it.
    set_field(m.table, 0, std::string_view(bytes, 4), 1000);
    EXPECT_EQ(read_memo_bytes(m.table, 0), std::string("a\0bc", 4));
    set_field(m.table, 0, "text memo", 0);
    EXPECT_EQ(read_memo_text(m.table, 0), "text memo");
    std::string before = m.reference();
    set_field(m.table, 0, "", 0);
    EXPECT_EQ(m.reference(), before);
}

TEST(MemoFile, ReadOnlyTableNeverWritesItsMemoFile) {
    for (uint8_t version : {0x83, 0x8B, 0xF5, 0xE5}) {
        SCOPED_TRACE(static_cast<int>(version));
        std::vector<uint32_t> blocks;
        const std::string image = version == 0x83   ? build_dbase3_memo({"memo"}, blocks)
                                  : version == 0x8B ? build_dbase4_memo({"memo"}, blocks, 64)
                                  : version == 0xF5 ? build_foxpro_memo({"memo"}, blocks, 64)
                                                    : build_smt_memo({"memo"}, blocks, 32);
        MemoTable m(version, image);
        DbfTable read_only;
        ASSERT_EQ(open_table(read_only, m.dir / "t.dbf", true), OpenResult::opened);
        const std::string reference =
            version == 0xE5 ? smt_reference(4, blocks[0]) : memo_reference_text(blocks[0]);
        std::memcpy(read_only.record_buffer.data() + 1, reference.data(), reference.size());
        EXPECT_EQ(read_memo_bytes(read_only, 0), "memo");
        EXPECT_FALSE(write_memo_text(read_only, 0, "text"));
        EXPECT_FALSE(write_memo_bytes(read_only, 0, "bytes"));
        set_field(read_only, 0, "field", 0);
        EXPECT_EQ(m.memo_file(), image);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(read_only.record_buffer.data()) + 1, 10), reference);
    }
}

TEST(MemoFile, EmptyWritesChangeNothing) {
    MemoTable m(0x83, dbase3_image(5, 2560));
    m.put_reference("        42");
    std::string file = m.memo_file();
    EXPECT_FALSE(write_memo_text(m.table, 0, ""));
    EXPECT_FALSE(write_memo_text(m.table, 0, std::string("\0abc", 4)));
    EXPECT_FALSE(write_memo_bytes(m.table, 0, ""));
    EXPECT_EQ(m.reference(), "        42");
    EXPECT_EQ(m.memo_file(), file);
}

TEST(MemoFile, MissingAndDifferentlyCasedFiles) {
    MemoTable missing(0xF5, "");
    missing.put_reference("         8");
    EXPECT_FALSE(read_memo_text(missing.table, 0));
    EXPECT_FALSE(read_memo_bytes(missing.table, 0));
    EXPECT_FALSE(write_memo_text(missing.table, 0, "x"));
    EXPECT_EQ(missing.reference(), "         8");
    EXPECT_EQ(memo_block_size(missing.table), 0u);

    std::vector<uint32_t> blocks;
    MemoTable upper(0xF5, build_foxpro_memo({"found"}, blocks, 64), 10, ".FPT");
    EXPECT_EQ(memo_file_path(upper.table), upper.dir / "t.FPT");
    upper.put_reference("         8");
    EXPECT_EQ(read_memo_text(upper.table, 0), "found");
    ASSERT_TRUE(write_memo_text(upper.table, 0, "again"));
    EXPECT_EQ(read_memo_text(upper.table, 0), "again");
    EXPECT_FALSE(testing_support::file_exists(upper.dir / "t.fpt"));

    // T.FPT is found for t.dbf, until a table T.DBF lies beside it: then it is that
    // table's memo file. A name that differs from t.fpt only in the letter case of its
    // extension is still t.dbf's own.
    ASSERT_EQ(std::rename((upper.dir / "t.FPT").c_str(), (upper.dir / "T.FPT").c_str()), 0);
    EXPECT_EQ(memo_file_path(upper.table), upper.dir / "T.FPT");
    write_file(upper.dir / "T.DBF", "");
    EXPECT_EQ(memo_file_path(upper.table), upper.dir / "t.fpt");
    EXPECT_FALSE(read_memo_text(upper.table, 0));
    EXPECT_FALSE(write_memo_text(upper.table, 0, "lost"));
    write_file(upper.dir / "t.fPT", "");
    EXPECT_EQ(memo_file_path(upper.table), upper.dir / "t.fPT");

    MemoTable none(0x43, foxpro_image(8, 64));
    EXPECT_EQ(memo_block_size(none.table), 0u);
    none.put_reference("         8");
    EXPECT_FALSE(read_memo_bytes(none.table, 0));
    EXPECT_FALSE(write_memo_text(none.table, 0, "x"));
}

TEST(MemoFile, ShortHeadersGiveDefaultBlockSize) {
    MemoTable d4(0x8B, "\x01\x00");
    EXPECT_EQ(memo_block_size(d4.table), 256u);
    MemoTable fox(0xF5, "\x01\x00");
    EXPECT_EQ(memo_block_size(fox.table), 256u);
    MemoTable smt(0xE5, "\x01\x00");
    EXPECT_EQ(memo_block_size(smt.table), 256u);
}

TEST(MemoFile, LongDbase3MemoIsReadWhole) {
    std::vector<uint32_t> blocks;
    std::string text(100000, 'q');
    text[70000] = 'r';
    MemoTable m(0x83, build_dbase3_memo({text, "next"}, blocks));
    m.put_reference(memo_reference_text(blocks[0]));
    EXPECT_EQ(read_memo_text(m.table, 0), text);
    m.put_reference(memo_reference_text(blocks[1]));
    EXPECT_EQ(read_memo_text(m.table, 0), "next");

    // Without 0x1A the text runs to the end of the file.
    MemoTable open_end(0x83, dbase3_image(2, 512) + "no end marker");
    open_end.put_reference("         1");
    EXPECT_EQ(read_memo_bytes(open_end.table, 0), "no end marker");
}

TEST(MemoFile, BadReferencesReadNothing) {
    std::vector<uint32_t> blocks;
    for (uint8_t version : {0x83, 0x8B, 0xF5}) {
        SCOPED_TRACE(version);
        std::string image = version == 0x83   ? build_dbase3_memo({"memo"}, blocks)
                            : version == 0x8B ? build_dbase4_memo({"memo"}, blocks, 512)
                                              : build_foxpro_memo({"memo"}, blocks, 64);
        MemoTable m(version, image);
        for (const char* reference : {"      1000", "        -5", "4000000000", "9999999999", "      9e99", "       nan"}) {
            m.put_reference(reference);
            std::optional<std::string> data = read_memo_bytes(m.table, 0);
            EXPECT_TRUE(!data || data->empty()) << reference;
            data = read_memo_text(m.table, 0);
            EXPECT_TRUE(!data || data->empty()) << reference;
        }
    }
    MemoTable smt(0xE5, build_smt_memo({"memo"}, blocks, 32));
    smt.put_reference(smt_reference(4, 4000000000u));
    EXPECT_FALSE(read_memo_bytes(smt.table, 0));
    smt.put_reference(smt_reference(4, 1000));
    EXPECT_EQ(read_memo_bytes(smt.table, 0), "");
    // A length beyond the file gives what the file holds.
    smt.put_reference(smt_reference(0xFFFFFFF0u, blocks[0]));
    std::optional<std::string> data = read_memo_bytes(smt.table, 0);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->substr(0, 4), "memo");
    EXPECT_LE(data->size(), 32u);
}

TEST(MemoFile, DamagedBlockHeaders) {
    // dBase IV: a total length of 2 GiB reads only the bytes that are there.
    std::string d4 = dbase4_image(2, 512) + kDbase4Mark + le32(0x80000000u) + "ten bytes!";
    MemoTable big4(0x8B, d4);
    big4.put_reference("         1");
    EXPECT_EQ(read_memo_bytes(big4.table, 0), "ten bytes!");
    // Without the marker, or with a total length below 8: no memo.
    MemoTable nomark(0x8B, dbase4_image(2, 512) + std::string("\xFF\xFF\x09\x00", 4) + le32(18) + "ten bytes!");
    nomark.put_reference("         1");
    EXPECT_FALSE(read_memo_bytes(nomark.table, 0));
    MemoTable tiny(0x8B, dbase4_image(2, 512) + kDbase4Mark + le32(7) + "ten bytes!");
    tiny.put_reference("         1");
    EXPECT_FALSE(read_memo_bytes(tiny.table, 0));

    // FoxPro: a data length of 2 GiB reads what is there; a type of 256 is no memo.
    MemoTable bigfox(0xF5, foxpro_image(9, 64) + be32(1) + be32(0x80000000u) + "data");
    bigfox.put_reference("         8");
    EXPECT_EQ(read_memo_bytes(bigfox.table, 0), "data");
    MemoTable type256(0xF5, foxpro_image(9, 64) + be32(256) + be32(4) + "data");
    type256.put_reference("         8");
    EXPECT_FALSE(read_memo_bytes(type256.table, 0));
    MemoTable type255(0xF5, foxpro_image(9, 64) + be32(255) + be32(4) + "data");
    type255.put_reference("         8");
    EXPECT_EQ(read_memo_bytes(type255.table, 0), "data");
    // A block header cut short by the end of the file.
    MemoTable cut(0xF5, foxpro_image(9, 64) + be32(1) + zeros(2));
    cut.put_reference("         8");
    EXPECT_FALSE(read_memo_bytes(cut.table, 0));
}

TEST(MemoFile, BadHeadersMakeWritesFail) {
    struct Case {
        const char* what;
        uint8_t version;
        std::string image;
    };
    const Case cases[] = {
        {"dBase III next free 0", 0x83, dbase3_image(0, 512)},
        {"dBase III short header", 0x83, std::string("\x05\x00", 2)},
        {"dBase IV block size 0", 0x8B, dbase4_image(1, 0)},
        {"dBase IV next free 0", 0x8B, dbase4_image(0, 512)},
        {"dBase IV next free inside header", 0x8B, dbase4_image(7, 64)},
        {"dBase IV short header", 0x8B, dbase4_image(1, 512).substr(0, 21)},
        {"FoxPro block size 0", 0xF5, foxpro_image(8, 0)},
        {"FoxPro next free 0", 0xF5, foxpro_image(0, 64)},
        {"FoxPro short header", 0xF5, foxpro_image(8, 64).substr(0, 7)},
        {"SMT block size 0", 0xE5, smt_image(16, 0)},
        {"SMT next free 0", 0xE5, smt_image(0, 32)},
        {"SMT short header", 0xE5, smt_image(16, 32).substr(0, 13)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoTable m(c.version, c.image);
        std::string reference = m.reference();
        EXPECT_FALSE(write_memo_text(m.table, 0, "some text"));
        EXPECT_FALSE(write_memo_bytes(m.table, 0, std::string(5, '\0')));
        EXPECT_EQ(m.reference(), reference);
        EXPECT_EQ(m.memo_file(), c.image);
    }
    // A next free block past the end of the file: the memo goes at the end, in the
    // first whole block there, and nothing in the file is overwritten.
    const std::pair<uint8_t, std::string> past_end[] = {
        {0x83, dbase3_image(0x400000, 515)}, {0x8B, dbase4_image(0xFFFFFFFFu, 512)},
        {0xF5, foxpro_image(0xFFFFFFFFu, 1)}};
    for (const auto& [version, image] : past_end) {
        MemoTable m(version, image);
        ASSERT_TRUE(write_memo_text(m.table, 0, "some text")) << int(version);
        EXPECT_EQ(read_memo_text(m.table, 0), "some text");
        EXPECT_EQ(m.memo_file().substr(4, image.size() - 4), image.substr(4));
    }
    MemoTable zero_block(0xF5, foxpro_image(8, 0) + be32(1) + be32(4) + "data");
    zero_block.put_reference("         8");
    EXPECT_FALSE(read_memo_bytes(zero_block.table, 0));
    EXPECT_EQ(memo_block_size(zero_block.table), 0u);
}

TEST(MemoFile, ReferenceThatDoesNotFitWritesNothing) {
    MemoTable m(0xF5, foxpro_image(10, 64) + zeros(128), 1);
    std::string image = m.memo_file();
    m.put_reference("7");
    EXPECT_FALSE(write_memo_text(m.table, 0, "text"));
    EXPECT_EQ(m.reference(), "7");
    EXPECT_EQ(m.memo_file(), image);

    MemoTable fits(0xF5, foxpro_image(9, 64) + zeros(64), 1);
    ASSERT_TRUE(write_memo_text(fits.table, 0, "text"));
    EXPECT_EQ(fits.reference(), "9");
}

TEST(MemoFile, TableIsNeverItsOwnMemoFile) {
    // A table whose name is its own memo file name, exactly or in another letter case.
    const std::pair<uint8_t, const char*> cases[] = {{0x83, "t.dbt"}, {0x83, "T.DBT"}, {0xF5, "t.fpt"}};
    for (const auto& [version, name] : cases) {
        TempDir dir;
        TableLayout layout;
        layout.version = version;
        layout.year = layout.month = layout.day = 0;  // a small "next free block" at offset 0
        layout.fields = {{"NOTE", 'M', 10}};
        layout.records = {make_record(layout, {"         1"})};
        const std::string bytes = build_table(layout);
        write_file(dir / name, bytes);
        DbfTable table;
        ASSERT_EQ(open_table(table, dir / name, false), OpenResult::opened) << name;
        ASSERT_TRUE(read_view_record(table, 0));
        EXPECT_FALSE(read_memo_text(table, 0)) << name;
        EXPECT_FALSE(read_memo_bytes(table, 0)) << name;
        EXPECT_EQ(memo_block_size(table), 0u) << name;
        EXPECT_FALSE(write_memo_text(table, 0, "text")) << name;
        close_table(table);
        EXPECT_EQ(read_file(dir / name), bytes) << name;
    }
}

} // namespace
