#include <gtest/gtest.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// "Privet" in code page 1251 and in code page 866.
const std::string kPrivet1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
const std::string kPrivet866 = "\x8F\xE0\xA8\xA2\xA5\xE2";

TableLayout character_table(const std::vector<std::vector<std::string>>& rows) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"CODE", 'C', 6}};
    for (const auto& row : rows) layout.records.push_back(make_record(layout, row));
    return layout;
}

TEST(CodePagesCli, AnsiToOemConvertsCharacterFieldsInPlace) {
    TempDir dir;
    // The CODE field of the second record holds a zero byte: only the bytes before
    // it are characters.
    write_file(dir / "t.dbf", build_table(character_table({{" " + kPrivet1251, "42", "ab\xC0"},
                                                           {"\xE0\xFF", "7", std::string("\xE0\0\xE0", 3)}})));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/TRIM:all", "/ANSI2OEM"});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{" " + kPrivet866, "42", "ab\x80"},
                                                                      {"\xA0\xEF", "7", std::string("\xA0\0\xE0", 3)}})));
}

TEST(CodePagesCli, OemToAnsiConvertsAgainWhenRepeated) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(character_table({{kPrivet866, "1", "\xA0\xE0"}})));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI"});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{kPrivet1251, "1", "\xE0\xF0"}})));
    // The second pass reads the 1251 bytes as 866 again: 0xE0 is 866 "r" (1251
    // 0xF0), 0xF0 is 866 "YO" (1251 0xA8); the box drawing 0xCF has no 1251 form.
    write_file(dir / "t.dbf", build_table(character_table({{kPrivet866, "1", "\xA0\xE0"}})));
    r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI", "/OEM2ANSI"});
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{"?\xA8\xF8\xF2\xF5\xAA", "1", "\xF0\xA8"}})));
}

TEST(CodePagesCli, CodePagesChooseThePair) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(character_table({{"caf\xE9", "1", "\xC0"}})));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/CodePages=737,1252", "/CodePages=850,1252", "/ANSI2OEM"});
    EXPECT_EQ(r.output, "Invalid code page...\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{"caf\x82", "1", "\xB7"}})));

    // From the INI file, for every matched file; the first accepted value is kept.
    write_file(dir / "rorarodi.ini", "CodePages=437;1252\nCodePages=850,1252\nCodePages=866,1251\n");
    write_file(dir / "t.dbf", build_table(character_table({{"caf\xE9", "1", ""}})));
    write_file(dir / "u.dbf", build_table(character_table({{"caf\xE9", "1", ""}})));
    r = run_rorarodi(dir, {"t.dbf", "u.dbf", "/ANSI2OEM"});
    EXPECT_EQ(r.output, "Invalid code page...\nInvalid code page...\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{"caf\x82", "1", ""}})));
    EXPECT_EQ(read_file(dir / "u.dbf"), build_table(character_table({{"caf\x82", "1", ""}})));
}

TEST(CodePagesCli, IniTranslationTablesReplaceTheSystemConversion) {
    TempDir dir;
    write_file(dir / "rorarodi.ini",
               "TableAnsi=\xE9\xE8\r\nTableOEM=\x82\r\nTableOEM=\x83\r\nLowercase=\xE0\r\n");
    write_file(dir / "t.dbf", build_table(character_table({{"\xE9\xE8\xC0\xE0", "1", "x\xE9"}})));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/ANSI2OEM"});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{"\x82.\xC0\xE0", "1", "x\x82"}})));

    r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI"});
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{"\xE9.\xC0\xE0", "1", "x\xE9"}})));
}

TEST(CodePagesCli, EmptyIniTranslationTableIsNoValue) {
    TempDir dir;
    write_file(dir / "rorarodi.ini", "TableAnsi=\nTableOEM=\x82\nTableAnsi=\xE9\n");
    write_file(dir / "t.dbf", build_table(character_table({{"\xE9\xE0", "1", ""}})));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/ANSI2OEM"});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{"\x82\xE0", "1", ""}})));
}

TEST(CodePagesCli, TablesGivenAfterTheOpenServeTheNextFile) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(character_table({{"\xE9", "1", ""}})));
    write_file(dir / "b.dbf", build_table(character_table({{"\xE9", "1", ""}})));
    RunResult r = run_rorarodi(dir, {"a.dbf", "b.dbf", "/TableAnsi=\xE9", "/TableOEM=\x82", "/ANSI2OEM"});
    EXPECT_EQ(r.output, "");
    // a.dbf: the system conversion (1251 0xE9 is 866 0xA9); b.dbf: the tables.
    EXPECT_EQ(read_file(dir / "a.dbf"), build_table(character_table({{"\xA9", "1", ""}})));
    EXPECT_EQ(read_file(dir / "b.dbf"), build_table(character_table({{"\x82", "1", ""}})));
}

struct MemoCase {
    const char* name;
    uint8_t version;
    const char* memo_extension;
    unsigned memo_width;  // 4: binary block number
    std::string (*build_memo)(const std::vector<std::string>&, std::vector<uint32_t>&);
};

std::string dbase4_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks) {
    return build_dbase4_memo(memos, blocks);
}
std::string foxpro_memo(const std::vector<std::string>& memos, std::vector<uint32_t>& blocks) {
    return build_foxpro_memo(memos, blocks);
}

const MemoCase kMemoCases[] = {
    {"dBase III", 0x83, ".dbt", 10, build_dbase3_memo},
    {"dBase IV", 0x8B, ".dbt", 10, dbase4_memo},
    {"FoxPro", 0xF5, ".fpt", 10, foxpro_memo},
    {"Visual FoxPro", 0x30, ".fpt", 4, foxpro_memo},
};

TableLayout memo_table(const MemoCase& c, const std::string& name, const std::vector<uint32_t>& blocks) {
    TableLayout layout;
    layout.version = c.version;
    if (c.version == 0x30) layout.extra_header = 263;
    layout.fields = {{"NAME", 'C', 8}, {"NOTES", 'M', c.memo_width}};
    for (uint32_t block : blocks) {
        std::string reference = c.memo_width == 4 ? le32(block) : memo_reference_text(block, c.memo_width);
        layout.records.push_back(make_record(layout, {name, reference}));
    }
    return layout;
}

// "Mir" and "Dom\r\nKot" in 1251 and 866.
const std::vector<std::string> kMemos1251 = {"\xCC\xE8\xF0", "\xC4\xEE\xEC\r\n\xCA\xEE\xF2"};
const std::vector<std::string> kMemos866 = {"\x8C\xA8\xE0", "\x84\xAE\xAC\r\n\x8A\xAE\xE2"};

TEST(CodePagesCli, MemoTextsAreRewrittenInPlace) {
    for (const MemoCase& c : kMemoCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::vector<uint32_t> blocks;
        write_file(dir / ("t" + std::string(c.memo_extension)), c.build_memo(kMemos1251, blocks));
        write_file(dir / "t.dbf", build_table(memo_table(c, "\xC0", blocks)));
        RunResult r = run_rorarodi(dir, {"t.dbf", "/ANSI2OEM"});
        EXPECT_EQ(r.output, "");
        std::vector<uint32_t> converted_blocks;
        std::string expected = c.build_memo(kMemos866, converted_blocks);
        ASSERT_EQ(converted_blocks, blocks);
        std::string memo = read_file(dir / ("t" + std::string(c.memo_extension)));
        EXPECT_EQ(memo.size(), expected.size());
        EXPECT_TRUE(memo == expected) << "memo texts not converted in place";
        EXPECT_EQ(read_file(dir / "t.dbf"), build_table(memo_table(c, "\x80", blocks)));
    }
}

// OEM capitals A, B, V and lower-case a (code page 866) and their ANSI forms (1251).
const std::string kOemText = "\x80\x81\x82";
const std::string kAnsiText = "\xC0\xC1\xC2";
const char kOemA = '\xA0';
const char kAnsiA = '\xE0';

std::string zeros(size_t count) { return std::string(count, '\0'); }
std::string be16(uint16_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string dbase4_block(uint32_t stated_total, const std::string& data, size_t block_size) {
    std::string block = std::string("\xFF\xFF\x08\x00", 4) + le32(stated_total) + data;
    block.resize(block_size, '\0');
    return block;
}
std::string foxpro_block(uint32_t type, const std::string& data, size_t block_size) {
    std::string block = be32(type) + be32(static_cast<uint32_t>(data.size())) + data;
    block.resize(block_size, '\0');
    return block;
}

TEST(CodePagesCli, EachMemoByteIsConvertedAtMostOnceAndNoHeaderAtAll) {
    // dBase III memos without their 0x1A: the first runs on into the second, which
    // is converted as its own memo only.
    {
        TempDir dir;
        const std::string header = le32(3) + zeros(508);
        write_file(dir / "t.dbt", header + std::string(512, kOemA) + kOemText);
        write_file(dir / "t.dbf", build_table(memo_table(kMemoCases[0], "", {1, 2})));
        RunResult r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI"});
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(read_file(dir / "t.dbt"), header + std::string(512, kAnsiA) + kAnsiText);
    }
    // dBase IV blocks whose stated length runs into the next block: the conversion
    // stops at that block, whether a record references it (block 9) or not (11).
    {
        TempDir dir;
        const std::string header = (le32(12) + zeros(14) + le16(0x0102) + le16(64)).append(490, '\0');
        const std::string stale = dbase4_block(11, kOemText, 64);
        write_file(dir / "t.dbt", header + dbase4_block(164, std::string(56, kOemA), 64) +
                                      dbase4_block(11, kOemText, 64) + dbase4_block(208, std::string(56, kOemA), 64) +
                                      stale);
        write_file(dir / "t.dbf", build_table(memo_table(kMemoCases[1], "", {8, 9, 10})));
        RunResult r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI"});
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(read_file(dir / "t.dbt"), header + dbase4_block(164, std::string(56, kAnsiA), 64) +
                                                dbase4_block(11, kAnsiText, 64) +
                                                dbase4_block(208, std::string(56, kAnsiA), 64) + stale);
    }
    // Two records referencing one FoxPro block: it is converted once.
    {
        TempDir dir;
        std::vector<uint32_t> blocks;
        write_file(dir / "t.fpt", build_foxpro_memo({kOemText}, blocks));
        write_file(dir / "t.dbf", build_table(memo_table(kMemoCases[2], "", {blocks[0], blocks[0]})));
        RunResult r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI"});
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(read_file(dir / "t.fpt"), build_foxpro_memo({kAnsiText}, blocks));
    }
}

TEST(CodePagesCli, BinaryDataIsNeverConverted) {
    // FoxPro: a General field's block (even one typed as text) and a picture block
    // (type 0) behind a memo field stay as they are; the text memo is converted.
    {
        TempDir dir;
        const std::string header = (be32(11) + zeros(2) + be16(64)).append(504, '\0');
        auto memo = [&](const std::string& text) {
            return header + foxpro_block(1, text, 64) + foxpro_block(1, kOemText, 64) + foxpro_block(0, kOemText, 64);
        };
        TableLayout layout;
        layout.version = 0xF5;
        layout.fields = {{"NOTES", 'M', 10}, {"PICTURE", 'G', 10}};
        layout.records = {make_record(layout, {memo_reference_text(8), memo_reference_text(9)}),
                          make_record(layout, {memo_reference_text(10), ""})};
        write_file(dir / "t.fpt", memo(kOemText));
        write_file(dir / "t.dbf", build_table(layout));
        RunResult r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI"});
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(read_file(dir / "t.fpt"), memo(kAnsiText));
    }
    // Visual FoxPro: character and memo fields flagged binary, and blob fields, stay.
    {
        TempDir dir;
        auto table = [](const std::string& name, const std::string& code) {
            TableLayout layout;
            layout.version = 0x30;
            layout.extra_header = 263;
            layout.fields = {{"NAME", 'C', 3},     {"CODE", 'C', 3, 0, 0x04}, {"NOTES", 'M', 4},
                             {"RAW", 'M', 4, 0, 0x04}, {"BLOB", 'W', 4}};
            layout.records = {make_record(layout, {name, code, le32(8), le32(9), le32(10)})};
            return build_table(layout);
        };
        std::vector<uint32_t> blocks;
        write_file(dir / "t.fpt", build_foxpro_memo({kOemText, kOemText, kOemText}, blocks));
        ASSERT_EQ(blocks, (std::vector<uint32_t>{8, 9, 10}));
        write_file(dir / "t.dbf", table(kOemText, kOemText));
        RunResult r = run_rorarodi(dir, {"t.dbf", "/OEM2ANSI"});
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(read_file(dir / "t.dbf"), table(kAnsiText, kOemText));
        EXPECT_EQ(read_file(dir / "t.fpt"), build_foxpro_memo({kAnsiText, kOemText, kOemText}, blocks));
    }
}

TEST(CodePagesCli, MemoFileOfAnotherTableIsLeftAlone) {
    // a.dbf has no memo file; A.FPT beside it is the memo file of A.DBF.
    TempDir dir;
    std::vector<uint32_t> blocks;
    const std::string memo = build_foxpro_memo({kOemText}, blocks);
    const std::string other = build_table(memo_table(kMemoCases[2], "", blocks));
    write_file(dir / "A.FPT", memo);
    write_file(dir / "A.DBF", other);
    write_file(dir / "a.dbf", build_table(memo_table(kMemoCases[2], kOemText, blocks)));
    RunResult r = run_rorarodi(dir, {"a.dbf", "/OEM2ANSI"});
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(read_file(dir / "a.dbf"), build_table(memo_table(kMemoCases[2], kAnsiText, blocks)));
    EXPECT_EQ(read_file(dir / "A.FPT"), memo);
    EXPECT_EQ(read_file(dir / "A.DBF"), other);
}

TEST(CodePagesCli, ReadOnlyPatternLeavesTableAndMemoUnchanged) {
    TempDir dir;
    std::vector<uint32_t> blocks;
    std::string memo = build_dbase3_memo(kMemos1251, blocks);
    std::string table = build_table(memo_table(kMemoCases[0], kPrivet1251, blocks));
    write_file(dir / "t.dbt", memo);
    write_file(dir / "t.dbf", table);
    RunResult r = run_rorarodi(dir, {"#t.dbf", "/ANSI2OEM"}, "rorarodi: /ANSI2OEM: t.dbf is open read-only\n");
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir / "t.dbf"), table);
    EXPECT_TRUE(read_file(dir / "t.dbt") == memo) << "memo file changed";
}

TEST(CodePagesCli, ConversionsClearTheViewFirst) {
    TempDir dir;
    write_file(dir / "t.dbf", build_table(character_table({{"\xA0", "1", ""}})));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/OEM2ANSI", "/ANSI2OEM"});
    EXPECT_EQ(r.output,
              "Processing of parameter [/OEM2ANSI]\nEnter OemToAnsi\nEnter Clear\nLeave Clear\nLeave OemToAnsi\n"
              "Processing of parameter [/ANSI2OEM]\nEnter Ansi2Oem\nEnter Clear\nLeave Clear\nLeave Ansi2Oem\n");
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(character_table({{"\xA0", "1", ""}})));
}

} // namespace
