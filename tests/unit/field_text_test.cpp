#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "table/field_store.h"
#include "table/field_text.h"
#include "table_builder.h"

using namespace rorarodi;

namespace {

struct Field {
    std::string name;
    char type;
    unsigned length;
    unsigned decimals = 0;
};

// An in-memory table with the given fields, buffers allocated and the record blank.
void setup(DbfTable& table, const std::vector<Field>& fields, uint8_t version = 0x03, bool level7 = false) {
    table.header_image[0] = version;
    table.level7 = level7;
    unsigned offset = 1;
    for (const Field& f : fields) {
        FieldDescriptor d;
        d.name = f.name;
        d.type = f.type;
        d.length = static_cast<uint8_t>(f.length & 0xFF);
        d.decimals = static_cast<uint8_t>(f.type == 'C' ? f.length >> 8 : f.decimals);
        d.offset = static_cast<uint16_t>(offset);
        offset += f.length;
        table.field_table.push_back(d);
    }
    table.set_record_length(offset);
    table.record_buffer.assign(kRecordBufferSize, 0);
    table.text_buffer.assign(kTextBufferSize, 0);
    blank_record_buffer(table);
}

void put(DbfTable& table, int field, const std::string& bytes) {
    std::memcpy(table.record_buffer.data() + table.field_table[field].offset, bytes.data(), bytes.size());
}

std::string stored(const DbfTable& table, int field) {
    const char* p = reinterpret_cast<const char*>(table.record_buffer.data() + table.field_table[field].offset);
    return std::string(p, field_width(table, field));
}

std::string text_of(DbfTable& table, int field, int mode = 0) {
    return field_text(table, field, static_cast<DateMode>(mode));
}

std::string le(uint64_t v, int bytes) {
    std::string s(bytes, '\0');
    for (int i = 0; i < bytes; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(FieldText, NumericTextForms) {
    DbfTable t;
    setup(t, {{"N", 'N', 5, 2}, {"SMALL", 'N', 3, 2}, {"F", 'F', 6, 0}});
    put(t, 0, " 3.14");
    EXPECT_EQ(text_of(t, 0), " 3.14");
    EXPECT_DOUBLE_EQ(field_number(t, 0), 3.14);
    put(t, 0, "3,5  ");
    EXPECT_EQ(text_of(t, 0), " 3.50");
    EXPECT_DOUBLE_EQ(field_number(t, 0), 3.5);
    put(t, 0, "     ");
    EXPECT_EQ(text_of(t, 0), " 0.00");
    put(t, 1, "0.5");
    EXPECT_EQ(text_of(t, 1), ".50");
    put(t, 2, "  -42x");
    EXPECT_EQ(text_of(t, 2), "   -42");
    EXPECT_DOUBLE_EQ(field_number(t, 2), -42);
}

// Stored number texts that are already in their formatted shape are shown as they
// are; every text must come out as formatting its value would give it.
TEST(FieldText, NumberTextsMatchTheirFormattedValue) {
    const std::pair<unsigned, unsigned> shapes[] = {{5, 2}, {3, 2}, {2, 1}, {4, 0}, {1, 0}, {20, 4}, {18, 0}, {20, 19}};
    const char* samples[] = {" 3.14", "03.14", "-0.00", ".50", "0.5", " .50", "-.5", "  -12", "0012", "  0",
                             "-0", "7", "12345678901234.5678", "999999999999999999", "1e3", " 1 2", "-",
                             "   ", "12,50", " 99.9", "123456789012345678", ".1234567890123456789"};
    for (auto [length, decimals] : shapes) {
        DbfTable t;
        setup(t, {{"N", 'N', length, decimals}});
        for (const char* sample : samples) {
            std::string bytes = std::string(sample).substr(0, length);
            bytes.insert(0, length - bytes.size(), ' ');
            put(t, 0, bytes);
            std::string work = bytes;
            if (work.find(',') != std::string::npos) work[work.find(',')] = '.';
            char expected[400];
            std::snprintf(expected, sizeof expected, "%*.*f", static_cast<int>(length), static_cast<int>(decimals),
                          std::strtod(work.c_str(), nullptr));
            std::string want = expected;
            if (decimals != 0 && length - decimals == 1 && want.rfind("0.", 0) == 0) want.erase(0, 1);
            EXPECT_EQ(text_of(t, 0), want) << "[" << bytes << "] " << length << "," << decimals;
        }
    }
}

TEST(FieldText, NumberAsTextFitsOrLeavesFieldUnchanged) {
    struct Case {
        unsigned length, decimals;
        double number;
        const char* expected;  // the field after storing into a field of '#'
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {5, 2, 123.456, "#####"}, {5, 2, 12.5, "12.50"}, {5, 2, 1.005, " 1.00"}, {5, 2, -1.5, "-1.50"},
        {5, 2, -12.5, "#####"},   {2, 1, 0.5, ".5"},     {2, 1, 1.5, "##"},      {2, 1, -0.5, "##"},
        {4, 0, 12345, "####"},    {4, 0, 42, "  42"},    {4, 0, -999, "-999"},   {4, 0, 2.5, "   2"},
        {3, 3, 0.5, "###"},       {5, 2, nan, "#####"},  {5, 0, INFINITY, "#####"},
    };
    for (const Case& c : cases) {
        DbfTable t;
        setup(t, {{"N", 'N', c.length, c.decimals}});
        put(t, 0, std::string(c.length, '#'));
        set_field(t, 0, "ignored", c.number);
        EXPECT_EQ(stored(t, 0), c.expected) << c.length << "." << c.decimals << " " << c.number;
    }
    // A copied number keeps as many decimals as fit, as long as its integer digits fit.
    const Case fitted[] = {{13, 6, 6871735.4375, "6871735.43750"}, {5, 2, 123.456, "123.5"},
                           {2, 1, 1.5, " 2"}, {5, 2, 12.5, "12.50"}, {5, 2, 123456, "#####"}};
    for (const Case& c : fitted) {
        DbfTable t;
        setup(t, {{"N", 'N', c.length, c.decimals}});
        put(t, 0, std::string(c.length, '#'));
        EXPECT_EQ(store_fitted_number(t, 0, c.number), c.expected[0] != '#');
        EXPECT_EQ(stored(t, 0), c.expected) << c.length << "." << c.decimals << " " << c.number;
    }
}

TEST(FieldText, DatesInEveryMode) {
    DbfTable t;
    setup(t, {{"D", 'D', 8}});
    put(t, 0, "20160229");
    EXPECT_EQ(text_of(t, 0, 0), "20160229");
    EXPECT_EQ(text_of(t, 0, 1), "29.02.2016");
    EXPECT_EQ(text_of(t, 0, 2), "02.29.2016");
    EXPECT_EQ(text_of(t, 0, 3), "2016.02.29");
    EXPECT_EQ(text_of(t, 0, 4), "20160229");
    put(t, 0, "20150229");
    for (int mode = 1; mode <= 4; ++mode) EXPECT_EQ(text_of(t, 0, mode), std::string(10, ' '));
    EXPECT_EQ(text_of(t, 0, 0), std::string(8, ' '));
    put(t, 0, "        ");
    EXPECT_EQ(text_of(t, 0, 1), std::string(10, ' '));

    set_date_separator(t, '-');
    put(t, 0, "20160229");
    EXPECT_EQ(text_of(t, 0, 1), "29-02-2016");
    EXPECT_EQ(text_of(t, 0, 3), "2016-02-29");
    EXPECT_EQ(text_of(t, 0, 4), "20160229");
    EXPECT_EQ(t.options.datetime_formats[1], "%02d-%02d-%04d %02d:%02d:%02d");
    set_date_separator(t, 0);
    EXPECT_EQ(text_of(t, 0, 2), "02.29.2016");
}

TEST(FieldText, LeapYearsAndValidity) {
    EXPECT_TRUE(is_leap_year(0));
    EXPECT_TRUE(is_leap_year(2000));
    EXPECT_TRUE(is_leap_year(2016));
    EXPECT_FALSE(is_leap_year(1900));
    EXPECT_FALSE(is_leap_year(2015));
    EXPECT_TRUE(date_parts_valid({59, 59, 23, 29, 2, 2016}));
    EXPECT_FALSE(date_parts_valid({0, 0, 0, 29, 2, 1900}));
    EXPECT_FALSE(date_parts_valid({60, 0, 0, 1, 1, 2016}));
    EXPECT_FALSE(date_parts_valid({0, 0, 24, 1, 1, 2016}));
    EXPECT_FALSE(date_parts_valid({0, 0, 0, 1, 13, 2016}));
    EXPECT_FALSE(date_parts_valid({0, 0, 0, 0, 1, 2016}));
    EXPECT_FALSE(date_parts_valid({0, 0, 0, 31, 4, 2016}));
    EXPECT_FALSE(date_parts_valid({0, 0, 0, 1, 1, 10000}));
}

TEST(FieldText, JulianDayNumbers) {
    EXPECT_EQ(julian_day_number(2000, 1, 1), 2451545);
    EXPECT_EQ(julian_day_number(2016, 2, 29), 2457448);
    EXPECT_EQ(julian_day_number(9999, 12, 31), 5373484);
    EXPECT_EQ(julian_day_number(0, 1, 1), 1721060);
    EXPECT_EQ(julian_day_number(2016, 13, 1), 0);
    // Every day of a few centuries converts back to itself.
    for (int32_t day = julian_day_number(1599, 1, 1); day <= julian_day_number(2401, 12, 31); ++day) {
        int y, m, d;
        julian_day_to_date(day, y, m, d);
        ASSERT_TRUE(date_parts_valid({0, 0, 0, d, m, y})) << day;
        ASSERT_EQ(julian_day_number(y, m, d), day);
    }
    int y, m, d;
    julian_day_to_date(std::numeric_limits<int32_t>::min(), y, m, d);
    EXPECT_FALSE(date_parts_valid({0, 0, 0, d, m, y}));
}

TEST(FieldText, StoringDatesByMode) {
    struct Case {
        int mode;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {1, "29.02.2016", "20160229"}, {2, "02.29.2016", "20160229"}, {3, "2016.02.29", "20160229"},
        {0, "20160229", "20160229"},   {4, "20160229", "20160229"},   {1, "31.02.2016", "20160231"},
        {1, "1.2.2016", "        "},   {1, "29.02.2016xyz", "20160229"},
    };
    for (const Case& c : cases) {
        DbfTable t;
        setup(t, {{"D", 'D', 8}});
        t.options.date_mode = static_cast<DateMode>(c.mode);
        set_field(t, 0, c.text, 0);
        EXPECT_EQ(stored(t, 0), c.expected) << c.mode << " " << c.text;
    }
    DbfTable t;
    setup(t, {{"D", 'D', 8}});
    put(t, 0, "20160229");
    t.options.date_mode = DateMode::day_month_year;
    set_field(t, 0, "  .  .    ", 0);
    EXPECT_EQ(stored(t, 0), "        ");
    put(t, 0, "20160229");
    set_field(t, 0, "", 0);
    EXPECT_EQ(stored(t, 0), "        ");
    // A wider date field holds the date digits and spaces, never time digits.
    DbfTable wide;
    setup(wide, {{"D", 'D', 10}});
    set_field(wide, 0, "20180101", 0);
    EXPECT_EQ(stored(wide, 0), "20180101  ");
}

TEST(FieldText, BinaryAndTextDateTimes) {
    DbfTable t;
    setup(t, {{"T", 'T', 8}, {"TT", 'T', 14}});
    t.options.date_mode = DateMode::day_month_year;
    set_field(t, 0, "29.02.2016 12:34:56", 0);
    EXPECT_EQ(stored(t, 0), le(2457448, 4) + le(45296000, 4));
    EXPECT_EQ(text_of(t, 0, 1), "29.02.2016 12:34:56");
    EXPECT_EQ(text_of(t, 0, 2), "02.29.2016 12:34:56");
    EXPECT_EQ(text_of(t, 0, 3), "2016.02.29 12:34:56");
    EXPECT_EQ(text_of(t, 0, 4), "20160229123456");
    set_date_separator(t, '/');
    EXPECT_EQ(text_of(t, 0, 1), "29/02/2016 12:34:56");
    set_date_separator(t, '.');

    // A month beyond December leaves a binary field as it was.
    std::string before = stored(t, 0);
    store_date_parts(t, 0, 2016, 13, 1, 0, 0, 0);
    store_date_parts(t, 0, 2016, -1, 1, 0, 0, 0);
    EXPECT_EQ(stored(t, 0), before);
    t.options.date_mode = DateMode::day_month_year;
    set_field(t, 0, "01.13.2016", 0);
    EXPECT_EQ(stored(t, 0), before);

    // As stored, a binary date-time shows its compact text.
    EXPECT_EQ(text_of(t, 0, 0), "20160229123456");
    put(t, 0, std::string(8, '\0'));
    EXPECT_EQ(text_of(t, 0, 1), std::string(19, ' '));
    EXPECT_EQ(text_of(t, 0, 0), std::string(14, ' '));
    put(t, 0, le(5373485, 4) + le(0, 4));
    EXPECT_EQ(text_of(t, 0, 1), std::string(19, ' '));
    // Negative milliseconds give no time of day: the value shows as spaces, never
    // as a time one character wider than the column.
    put(t, 0, le(2457448, 4) + le(static_cast<uint32_t>(-36000000), 4));
    EXPECT_EQ(text_of(t, 0, 1), std::string(19, ' '));
    EXPECT_EQ(text_of(t, 0, 0), std::string(14, ' '));
    put(t, 0, le(2457448, 4) + le(static_cast<uint32_t>(-1000), 4));
    EXPECT_EQ(text_of(t, 0, 1), std::string(19, ' '));

    t.options.date_mode = DateMode::year_month_day;
    set_field(t, 1, "2016.02.29 23:59:58", 0);
    EXPECT_EQ(stored(t, 1), "20160229235958");
    EXPECT_EQ(text_of(t, 1, 0), "20160229235958");
    EXPECT_EQ(text_of(t, 1, 1), "29.02.2016 23:59:58");
    put(t, 1, "20160229245958");
    EXPECT_EQ(text_of(t, 1, 1), std::string(19, ' '));
    // A year that does not give 14 digits is not stored.
    put(t, 1, "20160229235958");
    store_date_parts(t, 1, 12345, 1, 1, 0, 0, 0);
    EXPECT_EQ(stored(t, 1), "20160229235958");
}

TEST(FieldText, TimestampValues) {
    DbfTable t;
    setup(t, {{"TS", '@', 8}});
    put(t, 0, le(2457448, 4) + le(45296000, 4));
    EXPECT_EQ(text_of(t, 0, 1), "29.02.2016 12:34:56");
    EXPECT_EQ(text_of(t, 0, 0), "20160229123456");
    put(t, 0, le(0, 4) + le(45296000, 4));
    EXPECT_EQ(text_of(t, 0, 1), "00.01.0000 12:34:56");
    EXPECT_EQ(text_of(t, 0, 0), std::string(14, ' '));
    EXPECT_EQ(text_of(t, 0, 4), "00000100123456");
    put(t, 0, le(0xFFFFFFFFu, 4) + le(0xFFFFFFFFu, 4));
    EXPECT_EQ(text_of(t, 0, 3), "0000.01.00 1193:02:47");

    // Storing only ever blanks the field.
    std::string value = le(2457448, 4) + le(1000, 4);
    put(t, 0, value);
    t.options.date_mode = DateMode::day_month_year;
    set_field(t, 0, "29.02.2016 00:00:01", 0);
    EXPECT_EQ(stored(t, 0), value);
    set_field(t, 0, "00.00.0000", 0);
    EXPECT_EQ(stored(t, 0), std::string(8, '\0'));
}

TEST(FieldText, CurrencyRoundsToTenThousandths) {
    DbfTable t;
    setup(t, {{"Y", 'Y', 8}});
    put(t, 0, le(123456, 8));
    EXPECT_EQ(text_of(t, 0), std::string(17, ' ') + "12.3456");
    EXPECT_DOUBLE_EQ(field_number(t, 0), 12.3456);
    set_field(t, 0, "", -1.5);
    EXPECT_EQ(stored(t, 0), le(static_cast<uint64_t>(-15000), 8));
    EXPECT_EQ(text_of(t, 0), std::string(17, ' ') + "-1.5000");
    set_field(t, 0, "", 12.3456);
    EXPECT_EQ(stored(t, 0), le(123456, 8));
    set_field(t, 0, "", -0.00006);
    EXPECT_EQ(stored(t, 0), le(static_cast<uint64_t>(-1), 8));
    set_field(t, 0, "", 0.00004);
    EXPECT_EQ(stored(t, 0), le(0, 8));
    set_field(t, 0, "", -0.00006);
    set_field(t, 0, "", 1e300);
    EXPECT_EQ(stored(t, 0), le(static_cast<uint64_t>(-1), 8));
}

TEST(FieldText, Level7DoublesBothSigns) {
    DbfTable t;
    setup(t, {{"O", 'O', 8}}, 0x04, true);
    set_field(t, 0, "", 1.0);
    EXPECT_EQ(hex(stored(t, 0)), "BFF0000000000000");
    set_field(t, 0, "", -1.0);
    EXPECT_EQ(hex(stored(t, 0)), "400FFFFFFFFFFFFF");
    EXPECT_DOUBLE_EQ(field_number(t, 0), -1.0);
    EXPECT_EQ(text_of(t, 0), "         -1.00000000");
    for (double v : {0.0, 1.5, -2.25, 199.99, -199.99, 1e300, -1e-300}) {
        set_field(t, 0, "", v);
        EXPECT_EQ(field_number(t, 0), v);
    }
    // NaN and infinity read as 0.
    set_field(t, 0, "", std::numeric_limits<double>::infinity());
    EXPECT_EQ(field_number(t, 0), 0.0);
    set_field(t, 0, "", -std::numeric_limits<double>::infinity());
    EXPECT_EQ(field_number(t, 0), 0.0);
    put(t, 0, std::string("\xFF\xF8\0\0\0\0\0\0", 8));
    EXPECT_EQ(field_number(t, 0), 0.0);
    EXPECT_EQ(text_of(t, 0), "          0.00000000");
}

TEST(FieldText, IntegersAndDoubles) {
    DbfTable t;
    setup(t, {{"I", 'I', 4}, {"A", '+', 4}, {"B", 'B', 8, 3}});
    set_field(t, 0, "", 42.9);
    EXPECT_EQ(stored(t, 0), le(42, 4));
    EXPECT_EQ(text_of(t, 0), "        42");
    set_field(t, 0, "", -42.9);
    EXPECT_EQ(text_of(t, 0), "       -42");
    set_field(t, 0, "", 3e9);
    EXPECT_EQ(stored(t, 0), le(0, 4));
    set_field(t, 0, "", -2147483648.0);
    EXPECT_EQ(field_number(t, 0), -2147483648.0);
    set_field(t, 0, "", -2147483649.0);
    EXPECT_EQ(field_number(t, 0), 0);
    set_field(t, 0, "", std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(field_number(t, 0), 0);
    set_field(t, 1, "", 7);
    EXPECT_EQ(field_number(t, 1), 7);
    set_field(t, 2, "", -2.5);
    EXPECT_EQ(text_of(t, 2), "              -2.500");
    EXPECT_EQ(field_number(t, 2), -2.5);
}

TEST(FieldText, Level7IntegersInvertTheSignBit) {
    DbfTable t;
    setup(t, {{"I", 'I', 4}, {"A", '+', 4}}, 0x04, true);
    set_field(t, 0, "", 1);
    EXPECT_EQ(hex(stored(t, 0)), "80000001");
    set_field(t, 0, "", -5);
    EXPECT_EQ(hex(stored(t, 0)), "7FFFFFFB");
    EXPECT_EQ(field_number(t, 0), -5);
    EXPECT_EQ(text_of(t, 0), "        -5");
    EXPECT_EQ(hex(stored(t, 0)), "7FFFFFFB");  // reading leaves the record as it is
    put(t, 1, "\x80\x4C\x4B\x40");
    EXPECT_EQ(field_number(t, 1), 5000000);
}

TEST(FieldText, LogicalValues) {
    const std::pair<const char*, char> cases[] = {{"yes", 'Y'}, {"x", ' '}, {"t", 'T'}, {"F", 'F'}, {"n", 'N'},
                                                  {"0", '0'},   {"1", '1'}, {"", ' '},  {"2", ' '}};
    for (const auto& [text, expected] : cases) {
        DbfTable t;
        setup(t, {{"L", 'L', 1}});
        put(t, 0, "?");
        set_field(t, 0, text, 0);
        EXPECT_EQ(stored(t, 0), std::string(1, expected)) << text;
        EXPECT_EQ(text_of(t, 0), std::string(1, expected));
    }
}

TEST(FieldText, CharacterCopyAndTrimModes) {
    DbfTable t;
    setup(t, {{"C", 'C', 8}, {"W", 'C', 300}});
    put(t, 0, "  ab c  ");
    const char* expected[] = {"  ab c  ", "  ab c", "ab c  ", "ab c"};
    for (int mode = 0; mode < 4; ++mode) {
        t.options.trim_mode = static_cast<TrimMode>(mode);
        EXPECT_EQ(text_of(t, 0), expected[mode]);
    }
    t.options.trim_mode = TrimMode::both;
    put(t, 0, "        ");
    EXPECT_EQ(text_of(t, 0), "");
    t.options.trim_mode = TrimMode::none;
    put(t, 0, std::string("ab\0cdefg", 8));
    EXPECT_EQ(text_of(t, 0), "ab");

    // Storing copies at most the width and keeps the bytes beyond a shorter text.
    put(t, 0, "12345678");
    set_field(t, 0, "xy", 0);
    EXPECT_EQ(stored(t, 0), "xy345678");
    set_field(t, 0, "abcdefghijk", 0);
    EXPECT_EQ(stored(t, 0), "abcdefgh");
    blank_field(t, 0);
    EXPECT_EQ(stored(t, 0), "        ");

    set_field(t, 1, std::string(400, 'w').c_str(), 0);
    EXPECT_EQ(text_of(t, 1), std::string(300, 'w'));
    EXPECT_EQ(stored(t, 0), "        ");
}

TEST(FieldText, MemoReferences) {
    DbfTable t;
    setup(t, {{"M", 'M', 10}, {"G", 'G', 4}, {"B", 'B', 10}, {"W", 'W', 10}});
    put(t, 0, "        12");
    EXPECT_EQ(text_of(t, 0), "Full memo ");
    EXPECT_EQ(memo_block_number(t, 0), 12u);
    put(t, 0, "          ");
    EXPECT_EQ(text_of(t, 0), "Empty memo");
    EXPECT_EQ(memo_block_number(t, 0), 0u);
    put(t, 0, "        -5");
    EXPECT_EQ(memo_block_number(t, 0), 0u);
    put(t, 0, "9999999999");
    EXPECT_EQ(memo_block_number(t, 0), 0u);
    put(t, 1, le(8, 4));
    EXPECT_EQ(text_of(t, 1), "Full memo ");
    EXPECT_EQ(memo_block_number(t, 1), 8u);
    put(t, 1, le(0xFFFFFFFFu, 4));
    EXPECT_EQ(memo_block_number(t, 1), 0u);
    put(t, 2, "         3");
    EXPECT_EQ(text_of(t, 2), "Full memo ");
    EXPECT_EQ(field_number(t, 2), 0);
    EXPECT_EQ(text_of(t, 3), "Empty memo");

    DbfTable smt;
    setup(smt, {{"M", 'M', 10}}, 0xE5);
    EXPECT_EQ(stored(smt, 0), std::string(10, '\0'));
    EXPECT_EQ(text_of(smt, 0), "Empty memo");
    put(smt, 0, std::string("\0\0\5\0\0\0\x10\0\0\0", 10));
    EXPECT_EQ(text_of(smt, 0), "Full memo ");
    EXPECT_EQ(memo_block_number(smt, 0), 16u);
}

TEST(FieldText, WidthsNamesAndKinds) {
    DbfTable t;
    setup(t, {{"C", 'C', 300}, {"Y", 'Y', 8}, {"B8", 'B', 8}, {"B10", 'B', 10}, {"O", 'O', 8}, {"I", 'I', 4},
              {"M", 'M', 4}, {"D", 'D', 8}, {"T", 'T', 8}, {"TS", '@', 8}, {"N", 'N', 7, 2}, {"P", 'P', 3}});
    const uint32_t mode0[] = {300, 24, 20, 10, 20, 10, 10, 8, 14, 14, 7, 3};
    const uint32_t mode1[] = {300, 24, 20, 10, 20, 10, 10, 10, 19, 19, 7, 3};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(field_display_width(t, i), mode0[i]) << i;
        t.options.date_mode = DateMode::day_month_year;
        EXPECT_EQ(field_display_width(t, i), mode1[i]) << i;
        t.options.date_mode = DateMode::as_stored;
    }
    const bool numeric[] = {false, true, true, false, true, true, false, false, false, false, true, false};
    const bool memo[] = {false, false, false, true, false, false, true, false, false, false, false, false};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(field_is_numeric(t, i), numeric[i]) << i;
        EXPECT_EQ(field_is_memo(t, i), memo[i]) << i;
    }
    EXPECT_STREQ(field_type_name(t, 2), "Double");
    EXPECT_STREQ(field_type_name(t, 3), "Binary");
    EXPECT_STREQ(field_type_name(t, 11), "Picture");
    EXPECT_EQ(text_of(t, 11), "");
    EXPECT_EQ(field_number(t, 11), 0);
}

TEST(FieldText, BlankBytes) {
    DbfTable t;
    setup(t, {{"M", 'M', 10}, {"M4", 'M', 4}, {"T", 'T', 8}, {"T14", 'T', 14}, {"B8", 'B', 8}, {"B10", 'B', 10},
              {"Y", 'Y', 8}, {"Q", 'Q', 5}});
    const uint8_t expected[] = {' ', 0, 0, ' ', 0, ' ', 0, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(field_blank_byte(t, i), expected[i]) << i;
    DbfTable smt;
    setup(smt, {{"M", 'M', 10}}, 0xE5);
    EXPECT_EQ(field_blank_byte(smt, 0), 0);
}

TEST(FieldText, NarrowBinaryFieldsAreNotOverrun) {
    DbfTable t;
    setup(t, {{"I", 'I', 2}, {"Y", 'Y', 4}, {"B", 'B', 4}, {"O", 'O', 3}, {"T", 'T', 8}, {"AFTER", 'C', 4}});
    put(t, 5, "keep");
    for (int i = 0; i < 4; ++i) set_field(t, i, "", 12345.0);
    EXPECT_EQ(stored(t, 5), "keep");
    EXPECT_EQ(field_number(t, 0), 0);
    EXPECT_EQ(field_number(t, 1), 0);
    EXPECT_EQ(text_of(t, 2), "Empty memo");
}

} // namespace

// The text read off the record where the stored bytes are it: it agrees with
// field_text under every trim and date mode, and is taken for the usual values.
TEST(FieldText, StoredTextViewsAgreeWithFieldText) {
    DbfTable t;
    setup(t, {{"C", 'C', 6}, {"N", 'N', 7, 2}, {"S", 'F', 3, 2}, {"D", 'D', 8}, {"L", 'L', 1}, {"I", 'I', 4}});
    struct Case {
        int field;
        std::string bytes;
        bool viewed;  // with the default modes
    };
    const Case cases[] = {
        {0, " ab   ", true},        {0, std::string("a\0b c ", 6), true}, {0, "      ", true},
        {1, "   1.50", true},       {1, "  -0.00", true},                 {1, "   1.5 ", false},
        {1, "  01.50", false},      {1, "1,50   ", false},                {1, "       ", false},
        {2, ".50", true},           {2, "0.5", false},                    {3, "19640528", true},
        {3, "19640230", false},     {3, "        ", false},               {3, "1964052 ", false},
        {4, "T", true},             {4, std::string(1, '\0'), true},      {5, "\x01\0\0\0", false},
    };
    for (int trim = 0; trim < 4; ++trim) {
        for (int mode = 0; mode < 5; ++mode) {
            t.options.trim_mode = static_cast<TrimMode>(trim);
            for (const Case& c : cases) {
                put(t, c.field, c.bytes);
                const StoredTextPlan plan = stored_text_plan(t, c.field, static_cast<DateMode>(mode));
                std::string_view view;
                const bool viewed = stored_text_view(plan, t.record_buffer.data(), view);
                if (viewed) EXPECT_EQ(std::string(view), text_of(t, c.field, mode)) << c.field << " " << c.bytes;
                if (trim == 0 && mode == 0) EXPECT_EQ(viewed, c.viewed) << c.field << " " << c.bytes;
            }
        }
    }
    // Dates in the formatted modes, and nullable fields, always take field_text.
    EXPECT_EQ(stored_text_plan(t, 3, DateMode::day_month_year).form, StoredForm::none);
    t.field_table[0].null_bit = 0;
    EXPECT_EQ(stored_text_plan(t, 0, DateMode::as_stored).form, StoredForm::none);
}
