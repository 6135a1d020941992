#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <strings.h>

#include "table/field_text.h"
#include "table/memo.h"
#include "table/table.h"

using namespace rorarodi;
namespace fs = std::filesystem;

namespace {

// Records visited per table: a bound that keeps the walk fast should a huge table arrive.
constexpr uint32_t kRecordsPerTable = 100000;

fs::path corpus_root() { return fs::path(CORPUS_DIR); }

// Opens a table the way the run loop does; null when it is rejected.
std::unique_ptr<DbfTable> open_read_only(const std::string& name) {
    auto table = std::make_unique<DbfTable>();
    if (rorarodi::open_table(*table, name, true) != OpenResult::opened) return nullptr;
    return table;
}

std::unique_ptr<DbfTable> open_corpus(const std::string& relative) {
    return open_read_only((corpus_root() / relative).string());
}

int field_index(const DbfTable& table, const std::string& name) {
    for (size_t i = 0; i < table.field_count(); ++i)
        if (strcasecmp(table.field_table[i].name.c_str(), name.c_str()) == 0) return static_cast<int>(i);
    ADD_FAILURE() << "no field " << name;
    return 0;
}

std::string text(DbfTable& table, const std::string& field, int date_mode = 0, int trim_mode = 0) {
    table.options.date_mode = static_cast<DateMode>(date_mode);
    table.options.trim_mode = static_cast<TrimMode>(trim_mode);
    std::string result = field_text(table, field_index(table, field));
    table.options.date_mode = DateMode::as_stored;
    table.options.trim_mode = TrimMode::none;
    return result;
}

double number(DbfTable& table, const std::string& field) { return field_number(table, field_index(table, field)); }

std::optional<std::string> memo(DbfTable& table, const std::string& field) {
    return read_memo_bytes(table, field_index(table, field));
}

TEST(Corpus, EveryFieldOfEveryTable) {
    if (!fs::is_directory(corpus_root())) GTEST_SKIP() << "no corpus of real tables at " << corpus_root();
    size_t tables = 0, opened = 0, memos = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(corpus_root())) {
        if (!entry.is_regular_file() || strcasecmp(entry.path().extension().c_str(), ".dbf") != 0) continue;
        ++tables;
        std::unique_ptr<DbfTable> table = open_read_only(entry.path().string());
        if (!table) continue;
        ++opened;
        SCOPED_TRACE(entry.path().string());
        const uint32_t count = std::min(view_record_count(*table), kRecordsPerTable);
        for (uint32_t record = 0; record < count; ++record) {
            ASSERT_TRUE(read_view_record(*table, record));
            table->options.date_mode = static_cast<DateMode>(record % 5);
            table->options.trim_mode = static_cast<TrimMode>(record % 4);
            for (size_t i = 0; i < table->field_count(); ++i) {
                const int field = static_cast<int>(i);
                const char* value = field_text(*table, field);
                ASSERT_LT(std::strlen(value), kTextBufferSize);
                field_number(*table, field);
                field_display_width(*table, field);
                if (field_is_memo(*table, field)) {
                    if (read_memo_bytes(*table, field)) ++memos;
                    (void)read_memo_text(*table, field);
                }
            }
        }
        memo_block_size(*table);
        close_table(*table);
    }
    EXPECT_GE(tables, 150u);
    EXPECT_GE(opened, 140u);
    EXPECT_GT(memos, 100u);
}

// Visual FoxPro null and length bits, whose values the tables' own texts tell; the
// flags byte of dBase III descriptors, which some writers fill, means nothing.
TEST(Corpus, NullAndLengthBits) {
    if (!fs::is_directory(corpus_root())) GTEST_SKIP() << "no corpus of real tables at " << corpus_root();
    auto varchars = open_corpus("go-dbase/table/TEST.DBF");
    ASSERT_TRUE(varchars);
    const char* expected[][3] = {{"Test value with variable length", "", "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa"},
                                 {nullptr, "", "\xaa\xbb\xcc"},
                                 {"", "Test", ""}};
    for (uint32_t record = 0; record < 3; ++record) {
        ASSERT_TRUE(read_view_record(*varchars, record));
        if (expected[record][0]) {
            EXPECT_EQ(text(*varchars, "VAR_NIL"), expected[record][0]) << record;
        }
        EXPECT_EQ(text(*varchars, "VAR"), expected[record][1]) << record;
        EXPECT_EQ(field_value_bytes(*varchars, field_index(*varchars, "VARBIN_NIL")), expected[record][2]) << record;
        EXPECT_FALSE(field_is_null(*varchars, field_index(*varchars, "VAR_NIL"))) << record;
    }
    auto nulls = open_corpus("javadbf/bug93_null_field/testfile.dbf");
    ASSERT_TRUE(nulls);
    ASSERT_TRUE(read_view_record(*nulls, 0));
    EXPECT_TRUE(field_is_null(*nulls, field_index(*nulls, "D_FLAG")));
    EXPECT_FALSE(field_is_null(*nulls, field_index(*nulls, "D_STATUS")));
    // 09:30:09.999, which the table's own text field gives as 09:30:10.
    EXPECT_EQ(text(*nulls, "TM_START"), "09:30:10");
    EXPECT_EQ(text(*nulls, "D_START", 3), "2020.03.27 09:30:10");
    ASSERT_TRUE(read_view_record(*nulls, 5));
    EXPECT_FALSE(field_is_null(*nulls, field_index(*nulls, "D_FLAG")));
    auto single = open_corpus("ruby-dbf/dbase_32.dbf");
    ASSERT_TRUE(single);
    ASSERT_TRUE(read_view_record(*single, 0));
    EXPECT_EQ(text(*single, "NAME"), "Bad Meets Evil");
    auto dbase3 = open_corpus("node-dbffile/WSPMST.DBF");
    ASSERT_TRUE(dbase3);
    for (int field = 0; field < static_cast<int>(dbase3->field_count()); ++field)
        EXPECT_EQ(field_flags(*dbase3, field), 0) << field;
}

TEST(Corpus, KnownValues) {
    if (!fs::is_directory(corpus_root())) GTEST_SKIP() << "no corpus of real tables at " << corpus_root();

    auto people = open_corpus("dbfread/examples/files/people.dbf");
    ASSERT_TRUE(people);
    ASSERT_TRUE(read_view_record(*people, 0));
    EXPECT_EQ(text(*people, "NAME", 0, 1), "Alice");
    EXPECT_EQ(text(*people, "BIRTHDATE"), "19870301");
    EXPECT_EQ(text(*people, "BIRTHDATE", 1), "01.03.1987");

    auto integers = open_corpus("php-xbase/dBase/dBaseVII_int.dbf");
    ASSERT_TRUE(integers);
    EXPECT_TRUE(integers->level7);
    const double expected_integers[] = {1, -1, 5000000};
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(read_view_record(*integers, i));
        EXPECT_EQ(number(*integers, "INT"), expected_integers[i]);
    }

    auto doubles = open_corpus("php-xbase/dBase/dBaseVII_double.dbf");
    ASSERT_TRUE(doubles);
    const double expected_doubles[] = {-199.99, -74.62, 43.65, 150.48, 0};
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(read_view_record(*doubles, i));
        EXPECT_DOUBLE_EQ(number(*doubles, "double"), expected_doubles[i]);
    }
    EXPECT_EQ(text(*doubles, "double"), "          0.00000000");

    auto currency = open_corpus("php-xbase/foxpro/currency.dbf");
    ASSERT_TRUE(currency);
    ASSERT_TRUE(read_view_record(*currency, 0));
    EXPECT_EQ(text(*currency, "amount"), "              10412.1241");

    auto numbers = open_corpus("javadbf/numbers2.dbf");
    ASSERT_TRUE(numbers);
    ASSERT_TRUE(read_view_record(*numbers, 1));
    for (const char* field : {"DOUBLE1", "NUMERIC", "CURRENCY", "FLOAT", "INTEGER"})
        EXPECT_EQ(number(*numbers, field), -1) << field;
    EXPECT_EQ(text(*numbers, "DATETIME", 3).substr(0, 10), "2024.01.18");
    ASSERT_TRUE(read_view_record(*numbers, 0));
    EXPECT_EQ(text(*numbers, "DATETIME", 3), "2024.01.18 19:54:47");
    EXPECT_EQ(text(*numbers, "LOGIC"), "T");
    EXPECT_EQ(number(*numbers, "DOUBLE2"), 1.0);
    EXPECT_EQ(text(*numbers, "NUMERIC"), "     1.000");

    // dBase III memos, 512-byte blocks.
    auto dbase83 = open_corpus("ruby-dbf/dbase_83.dbf");
    ASSERT_TRUE(dbase83);
    EXPECT_EQ(memo_block_size(*dbase83), 512u);
    ASSERT_TRUE(read_view_record(*dbase83, 0));
    EXPECT_EQ(text(*dbase83, "NAME", 0, 3), "Assorted Petits Fours");
    EXPECT_EQ(text(*dbase83, "DESC"), "Full memo ");
    std::optional<std::string> desc = memo(*dbase83, "DESC");
    ASSERT_TRUE(desc);
    EXPECT_EQ(desc->rfind("Our Original assortment...a little taste of heaven", 0), 0u);

    // dBase IV memo with its block header.
    auto dbase8b = open_corpus("ruby-dbf/dbase_8b.dbf");
    ASSERT_TRUE(dbase8b);
    EXPECT_EQ(memo_block_size(*dbase8b), 512u);
    ASSERT_TRUE(read_view_record(*dbase8b, 0));
    EXPECT_EQ(memo(*dbase8b, "MEMO"), "First memo\r\n");
    EXPECT_EQ(text(*dbase8b, "NUMERICAL"), "                1.00");
    EXPECT_EQ(text(*dbase8b, "DATE", 2), "01.01.1970");

    // FoxPro memo file whose name is upper case beside a lower-case table.
    auto memotest = open_corpus("dbfread/tests/cases/memotest.dbf");
    ASSERT_TRUE(memotest);
    EXPECT_EQ(memo_block_size(*memotest), 512u);
    ASSERT_TRUE(read_view_record(*memotest, 0));
    EXPECT_EQ(memo(*memotest, "MEMO"), "Alice memo");
    EXPECT_EQ(read_memo_text(*memotest, field_index(*memotest, "MEMO")), "Alice memo");

    auto bs1 = open_corpus("node-dbffile/vfp9_memo_bs1.dbf");
    ASSERT_TRUE(bs1);
    EXPECT_EQ(memo_block_size(*bs1), 1u);
    auto dbase30 = open_corpus("ruby-dbf/dbase_30.dbf");
    ASSERT_TRUE(dbase30);
    EXPECT_EQ(memo_block_size(*dbase30), 64u);

    // A terminator of 0x0A after two descriptors: the records after it are records.
    auto rooms = open_corpus("perl-xbase/rooms.dbf");
    ASSERT_TRUE(rooms);
    EXPECT_EQ(rooms->field_count(), 2u);
    EXPECT_EQ(view_record_count(*rooms), 42u);
    ASSERT_TRUE(read_view_record(*rooms, 40));
    EXPECT_EQ(text(*rooms, "ROOMNAME", 0, 1), "BAY 7");
    EXPECT_EQ(text(*rooms, "FACILITY", 0, 1), "Main");

    // Memo fields without their memo file read nothing.
    auto missing = open_corpus("ruby-dbf/dbase_83_missing_memo.dbf");
    ASSERT_TRUE(missing);
    ASSERT_TRUE(read_view_record(*missing, 0));
    EXPECT_EQ(text(*missing, "DESC"), "Full memo ");
    EXPECT_FALSE(memo(*missing, "DESC"));
    EXPECT_EQ(memo_block_size(*missing), 0u);
}

} // namespace
