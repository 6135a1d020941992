#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <iconv.h>
#include <locale.h>
#include <optional>
#include <string>

#include "commands/code_pages.h"
#include "platform/code_pages.h"
#include "session/session.h"
#include "table/text_convert.h"

using namespace rorarodi;

namespace {

// Test-side oracle: the Unicode character of a byte of a page, straight from iconv.
std::optional<uint32_t> decode_byte(int page, unsigned char byte) {
    iconv_t cd = iconv_open("UCS-4LE", ("CP" + std::to_string(page)).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    char in[1] = {static_cast<char>(byte)};
    unsigned char out[4] = {};
    char* in_ptr = in;
    char* out_ptr = reinterpret_cast<char*>(out);
    size_t in_left = 1, out_left = 4;
    size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    // A page with combining marks (1255) holds a letter back until the end is flushed.
    if (result != static_cast<size_t>(-1)) result = iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1) || out_left != 0) return std::nullopt;
    return static_cast<uint32_t>(out[0]) | static_cast<uint32_t>(out[1]) << 8 | static_cast<uint32_t>(out[2]) << 16 |
           static_cast<uint32_t>(out[3]) << 24;
}

using PageCharacters = std::array<std::optional<uint32_t>, 256>;

const PageCharacters& page_characters(int page) {
    static std::map<int, PageCharacters> pages;
    auto [it, inserted] = pages.try_emplace(page);
    if (inserted)
        for (int b = 0; b < 256; ++b) it->second[static_cast<size_t>(b)] = decode_byte(page, static_cast<unsigned char>(b));
    return it->second;
}

std::optional<uint32_t> character_of(int page, unsigned char byte) { return page_characters(page)[byte]; }

bool page_has(int page, uint32_t character) {
    for (const std::optional<uint32_t>& c : page_characters(page))
        if (c == character) return true;
    return false;
}

// The pair the byte conversions below use.
CodePagePair chosen;

bool select_code_pages(int oem, int ansi) {
    chosen = CodePagePair{oem, ansi};
    return is_supported_pair(chosen);
}

unsigned char convert_byte(void (*convert)(const CodePagePair&, unsigned char*, size_t), unsigned char byte) {
    convert(chosen, &byte, 1);
    return byte;
}

std::string converted(void (*convert)(const DbfTable&, unsigned char*, size_t), DbfTable& table, std::string text) {
    convert(table, reinterpret_cast<unsigned char*>(text.data()), text.size());
    return text;
}

std::string upper_cased(void (*upper)(const DbfTable&, char*), const DbfTable& table, std::string text) {
    upper(table, text.data());
    return text;
}

std::string key_of(DbfTable& table, std::string text) {
    upper_case_key(table, text.data());
    return text;
}

class CodePages : public ::testing::Test {
protected:
    void SetUp() override { chosen = CodePagePair{}; }
    Session session;
};

TEST_F(CodePages, EveryPairRoundTripsTheCharactersBothPagesHave) {
    for (int oem : {437, 850, 852, 866}) {
        for (int ansi : {1250, 1251, 1252}) {
            SCOPED_TRACE(std::to_string(oem) + "/" + std::to_string(ansi));
            ASSERT_TRUE(select_code_pages(oem, ansi));
            for (int b = 0; b < 128; ++b) {
                EXPECT_EQ(convert_byte(ansi_to_oem_buffer, static_cast<unsigned char>(b)), b);
                EXPECT_EQ(convert_byte(oem_to_ansi_buffer, static_cast<unsigned char>(b)), b);
            }
            for (int b = 128; b < 256; ++b) {
                auto byte = static_cast<unsigned char>(b);
                if (std::optional<uint32_t> c = character_of(ansi, byte); c && page_has(oem, *c)) {
                    unsigned char o = convert_byte(ansi_to_oem_buffer, byte);
                    EXPECT_EQ(character_of(oem, o), c) << "ANSI byte " << b;
                    EXPECT_EQ(convert_byte(oem_to_ansi_buffer, o), byte) << "ANSI byte " << b;
                }
                if (std::optional<uint32_t> c = character_of(oem, byte); c && page_has(ansi, *c)) {
                    unsigned char a = convert_byte(oem_to_ansi_buffer, byte);
                    EXPECT_EQ(character_of(ansi, a), c) << "OEM byte " << b;
                    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, a), byte) << "OEM byte " << b;
                }
            }
        }
    }
}

TEST_F(CodePages, MissingCharactersBecomeCloseLettersOrQuestionMarks) {
    // Default pair 866/1251: the trade mark sign and the dash are not in 866.
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0x99), '?');
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0x96), '?');
    // Box drawing of 866 is not in 1251.
    EXPECT_EQ(convert_byte(oem_to_ansi_buffer, 0xC0), '?');
    locale_t neutral = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (neutral == static_cast<locale_t>(nullptr)) GTEST_SKIP() << "no C.UTF-8 locale";
    freelocale(neutral);
    ASSERT_TRUE(select_code_pages(866, 1252));
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0xE9), 'e');  // e acute
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0xC0), 'A');  // A grave
    ASSERT_TRUE(select_code_pages(437, 1250));
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0xF5), 'o');  // o double acute
    // Signs that are not letters have no unaccented form.
    ASSERT_TRUE(select_code_pages(866, 1252));
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0x95), '?');  // bullet
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0xD7), '?');  // multiplication sign
    EXPECT_EQ(convert_byte(ansi_to_oem_buffer, 0xA2), '?');  // cent sign
    ASSERT_TRUE(select_code_pages(850, 1251));
    EXPECT_EQ(convert_byte(oem_to_ansi_buffer, 0x9E), '?');  // multiplication sign
}

TEST_F(CodePages, CodePagesParameterKeepsTheFirstAcceptedValue) {
    struct Case {
        const char* argument;
        const char* output;
        int oem, ansi;
    };
    const Case cases[] = {
        {"737,1252", "Invalid code page...\n", 866, 1251},
        {"437,1253", "Invalid code page...\n", 866, 1251},
        {"437", "Invalid code page...\n", 866, 1251},
        {"437,x", "Invalid code page...\n", 866, 1251},
        {"", "Invalid code page...\n", 866, 1251},
        {"437,1252", "", 437, 1252},
        {"850,1250", "", 437, 1252},
        {"999,1250", "Invalid code page...\n", 437, 1252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        ::testing::internal::CaptureStdout();
        handle_code_pages(session, c.argument);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
        EXPECT_EQ(session.code_pages, (CodePagePair{c.oem, c.ansi}));
    }
    // An accepted pair takes effect at once: e acute of 1252 is 0x82 in 437.
    DbfTable table;
    share_run_settings(session, table);
    EXPECT_EQ(converted(to_oem, table, "\xE9"), "\x82");
}

TEST_F(CodePages, TranslationTablesReplaceTheSystemConversions) {
    handle_table_ansi(session, "\xE9");
    handle_table_oem(session, "\x82");
    DbfTable table;
    install_conversion_hooks(session, table);
    EXPECT_EQ(converted(to_oem, table, "\xE9x\xC0\xE9"), "\x82x\xC0\x82");
    EXPECT_EQ(converted(from_oem, table, "\x82x\xC0\x82"), "\xE9x\xC0\xE9");
    EXPECT_EQ(table.options.upper_case_hook, nullptr);
}

TEST_F(CodePages, ShorterOemTableGivesDots) {
    handle_table_ansi(session, "\xE9\xE8");
    handle_table_oem(session, "\x82");
    DbfTable table;
    install_conversion_hooks(session, table);
    EXPECT_EQ(converted(to_oem, table, "\xE8\xE9z"), ".\x82z");
    // Zero bytes are not characters of the tables.
    EXPECT_EQ(converted(to_oem, table, std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST_F(CodePages, TranslationKeysKeepTheFirstValueCutTo255) {
    handle_table_oem(session, "first");
    handle_table_oem(session, "second");
    EXPECT_EQ(session.translation_tables.table_oem, "first");
    handle_normal_table(session, std::string(300, 'n'));
    EXPECT_EQ(session.translation_tables.normal, std::string(255, 'n'));
    // An empty value leaves the table without a value: a later one is taken.
    handle_uppercase_table(session, "");
    EXPECT_FALSE(session.translation_tables.uppercase.has_value());
    handle_uppercase_table(session, "late");
    EXPECT_EQ(session.translation_tables.uppercase, "late");
}

TEST_F(CodePages, EmptyTranslationTablesInstallNoHooks) {
    handle_table_ansi(session, "");
    handle_table_oem(session, "\x82");
    handle_normal_table(session, "\xE9");
    handle_uppercase_table(session, "");
    DbfTable table;
    install_conversion_hooks(session, table);
    EXPECT_EQ(table.options.to_oem_hook, nullptr);
    EXPECT_EQ(table.options.from_oem_hook, nullptr);
    EXPECT_EQ(table.options.upper_case_hook, nullptr);
    // The system conversion stays: 1251 "a" is 866 0xA0.
    EXPECT_EQ(converted(to_oem, table, "\xE0"), "\xA0");
}

TEST_F(CodePages, LowercaseAloneChangesNothing) {
    handle_lowercase_table(session, "\xE0\xE1");
    DbfTable table;
    install_conversion_hooks(session, table);
    EXPECT_EQ(table.options.to_oem_hook, nullptr);
    EXPECT_EQ(table.options.from_oem_hook, nullptr);
    EXPECT_EQ(table.options.upper_case_hook, nullptr);
    table.options.case_insensitive = true;
    EXPECT_EQ(key_of(table, "ab\xA0"), "AB\x80");
}

TEST_F(CodePages, UpperCasingHookUsesNormalAndUppercase) {
    handle_normal_table(session, "\xE9\xE8\xE7");
    handle_uppercase_table(session, "\xC9\xC8");
    DbfTable table;
    install_conversion_hooks(session, table);
    ASSERT_NE(table.options.upper_case_hook, nullptr);
    EXPECT_EQ(key_of(table, "ab\xE9\xE8\xE7"), "ab\xE9\xE8\xE7");  // case option off
    table.options.case_insensitive = true;
    table.options.ansi = true;
    EXPECT_EQ(key_of(table, "az\xE9\xE8\xE7\xE0"), "AZ\xC9\xC8\xE7\xE0");
}

TEST_F(CodePages, UpperCasingByTheOemRuleAndTheAnsiPage) {
    DbfTable table;
    table.options.case_insensitive = true;
    // 866: a-z, 0xA0-0xAF and 0xE0-0xEF; the yo letter 0xF1 stays.
    EXPECT_EQ(key_of(table, "az\xA0\xAF\xE0\xEF\xF1\x80"), "AZ\x80\x8F\x90\x9F\xF1\x80");
    table.options.ansi = true;
    // 1251: a, ya, yo, ukrainian ie.
    EXPECT_EQ(key_of(table, "a\xE0\xFF\xB8\xBA"), "A\xC0\xDF\xA8\xAA");
    EXPECT_EQ(upper_cased(upper_case_ansi, table, "q\xE0"), "Q\xC0");

    table.options.code_pages = CodePagePair{850, 1252};
    // 1252: e acute, y diaeresis, s caron, oe; sharp s has no upper case here.
    EXPECT_EQ(key_of(table, "\xE9\xFF\x9A\x9C\xDF"), "\xC9\x9F\x8A\x8C\xDF");
    // 850 by its own letters: e acute 0x82 to 0x90, a grave 0x85 to 0xB7.
    table.options.ansi = false;
    EXPECT_EQ(key_of(table, "e\x82\x85\xA0"), "E\x90\xB7\xB5");
}

std::string utf8_of(uint32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

TEST_F(CodePages, Utf8FormsOfEveryTextPageFollowIconv) {
    for (int page : {437, 737, 850, 852, 857, 860, 861, 863, 865, 866, 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256,
                     1257}) {
        const Utf8Page& tables = utf8_page(page);
        EXPECT_EQ(&tables, &utf8_page(page)) << "built once";
        for (int b = 1; b < 256; ++b) {
            const std::string byte(1, static_cast<char>(b));
            const std::optional<uint32_t> character = b < 128 ? uint32_t(b) : page_characters(page)[b];
            const std::string utf8 = tables.to_utf8(byte);
            EXPECT_EQ(utf8, utf8_of(character.value_or(0xFFFD))) << page << " " << b;
            // Back to a byte of the same character (the lowest, when two share it).
            if (character) {
                EXPECT_EQ(page_characters(page)[static_cast<unsigned char>(tables.from_utf8(utf8)[0])].value_or(
                                         static_cast<unsigned char>(tables.from_utf8(utf8)[0])),
                                     *character)
                << page << " " << b;
            }
        }
    }
}

TEST_F(CodePages, DoubleBytePagesKeepCharactersWhole) {
    const Utf8Page& gbk = utf8_page(936);
    ASSERT_TRUE(gbk.double_byte());
    // 中 is D6 D0 and 文 CE C4; 0x80 alone is the euro sign. A cut pair, and a lead
    // byte before a byte that makes no pair, read as U+FFFD; the next byte is read anew.
    EXPECT_EQ(gbk.to_utf8("\xD6\xD0\xCE\xC4 \x80"), "中文 €");
    EXPECT_EQ(gbk.to_utf8("a\xD6\xD0\xCE"), "a中\uFFFD");
    EXPECT_EQ(gbk.to_utf8("\xD6 \xFF"), "\uFFFD \uFFFD");
    // A lead byte is one byte long unless a valid second byte follows it.
    EXPECT_EQ(gbk.character_length("\xD6\xD0", 0), 2u);
    EXPECT_EQ(gbk.character_length("\xD6 ", 0), 1u);
    EXPECT_EQ(gbk.character_length("\xD6\x7F", 0), 1u);
    EXPECT_EQ(gbk.character_length("a\xD6", 1), 1u);
    EXPECT_EQ(gbk.from_utf8("中文 €Ω😀"), "\xD6\xD0\xCE\xC4 \x80\xA6\xB8?");
    EXPECT_EQ(utf8_page(932).to_utf8("\x83\x5C\xB1"), "ソｱ");  // a second byte '\'; a half-width kana
    EXPECT_EQ(utf8_page(949).from_utf8("한"), "\xC7\xD1");
    EXPECT_EQ(utf8_page(950).to_utf8("\xA4\xA4"), "中");

    // Upper-casing and the OEM/ANSI conversions leave the second bytes alone:
    // D5 61 is one character in GBK; /CodePages=936,936 chooses the page without a mark.
    DbfTable table;
    table.options.case_insensitive = true;
    table.header_image[29] = 0x7A;
    EXPECT_EQ(key_of(table, "a\xD5\x61z"), "A\xD5\x61Z");
    EXPECT_EQ(converted(from_oem, table, "\xD5\x61\xE9"), "\xD5\x61\xE9");
    table.header_image[29] = 0;
    EXPECT_FALSE(select_code_pages(936, 1252));
    EXPECT_TRUE(select_code_pages(936, 936));
    table.options.code_pages = chosen;
    EXPECT_EQ(upper_cased(upper_case_ansi, table, "\xD5\x61q"), "\xD5\x61Q");
}

TEST_F(CodePages, Utf8TextsTheyCannotHoldBecomeQuestionMarks) {
    const Utf8Page& cp866 = utf8_page(866);
    EXPECT_EQ(cp866.from_utf8("\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 7"), "\x8C\xAE\xE1\xAA\xA2\xA0 7");
    EXPECT_EQ(cp866.from_utf8("Z\xC3\xBCrich \xF0\x9F\x98\x80!"), "Z?rich ?!");
    // Broken sequences: a lone lead byte, a cut one, an overlong form, a surrogate,
    // a character past U+10FFFF, a lone continuation byte.
    EXPECT_EQ(cp866.from_utf8("\xD0"), "?");
    EXPECT_EQ(cp866.from_utf8("\xD0" "a\xE2\x94"), "?a??");
    EXPECT_EQ(cp866.from_utf8("\xC0\x80\xE0\x80\x80"), "?????");
    EXPECT_EQ(cp866.from_utf8("\xED\xA0\x80\xF4\x90\x80\x80\x80"), "????????");
    EXPECT_EQ(cp866.to_utf8(std::string("a\0\x8C", 3)), std::string("a\0\xD0\x9C", 4));
}

TEST_F(CodePages, TheMarkNamesTheTextPageBeforeThePair) {
    // Marks written by the table kinds of the corpus and the usual DOS and Windows ones.
    const std::pair<uint8_t, int> marks[] = {{0x01, 437}, {0x02, 850}, {0x03, 1252}, {0x1B, 437}, {0x26, 866},
                                             {0x57, 1252}, {0x59, 1252}, {0x64, 852}, {0x65, 866}, {0x7C, 874},
                                             {0xC8, 1250}, {0xC9, 1251}, {0x00, 0},   {0x4D, 936},  {0x69, 0},
                                             {0x7A, 936},  {0x13, 932},  {0x78, 950},  {0x7F, 0},    {0xF0, 0},
                                             {0x4E, 949},  {0x79, 949},  {0x4F, 950},  {0x7B, 932}};
    for (const auto& [mark, page] : marks) EXPECT_EQ(page_of_code_page_mark(mark), page) << int(mark);

    DbfTable table;
    table.options.code_pages = CodePagePair{437, 1252};
    EXPECT_EQ(text_code_page(table), 437);
    table.options.ansi = true;
    EXPECT_EQ(text_code_page(table), 1252);
    table.header_image[29] = 0x69;  // a page this program does not know
    EXPECT_EQ(text_code_page(table), 1252);
    table.header_image[29] = 0x65;
    EXPECT_EQ(text_code_page(table), 866);
    EXPECT_EQ(text_utf8_page(table).page(), 866);
    // A single-byte mark under a double-byte pair: the mark's page, no pairs.
    table.options.code_pages = CodePagePair{936, 936};
    table.header_image[29] = 0x01;
    EXPECT_EQ(text_code_page(table), 437);
    EXPECT_EQ(double_byte_page(table), nullptr);
}

} // namespace
