#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "expr/field_list.h"
#include "table/row_sort.h"
#include "opened_table.h"
#include "random_values.h"
#include "table/text_convert.h"
#include "table_builder.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// The order as the key comparison defines it: every key built through the text
// form, case-folded, ended by the position as "%10d", and compared with strncmp.
std::vector<uint32_t> reference_order(DbfTable& table) {
    std::vector<size_t> widths = sort_key_widths(table), longest = widths;
    auto keys_with = [&](const std::vector<size_t>& w) {
        std::vector<std::string> keys;
        for (uint32_t position = 0; position < view_record_count(table); ++position) {
            EXPECT_TRUE(read_view_record(table, position));
            std::string key = build_sort_key(table, w, &longest);
            upper_case_key(table, key.data());
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%10d", static_cast<int>(position));
            keys.push_back(key + suffix);
        }
        return keys;
    };
    std::vector<std::string> keys = keys_with(widths);
    if (longest != widths) keys = keys_with(longest);
    std::vector<uint32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const std::string& ka = keys[static_cast<size_t>(a)];
        int result = std::strncmp(ka.c_str(), keys[static_cast<size_t>(b)].c_str(), ka.size());
        return table.options.descending ? result > 0 : result < 0;
    });
    return order;
}

TableLayout random_table(Random& random) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 6},  {"NOTE", 'C', 40},     {"PRICE", 'N', 7, 2}, {"AGE", 'N', 3},
                     {"RATE", 'F', 8, 3}, {"BORN", 'D', 8},   {"FLAG", 'L', 1},     {"QTY", 'I', 4},
                     {"CASH", 'Y', 8},  {"SIZE", 'B', 8, 2}};
    static const std::string kNames[] = {"ab", "Ab", "aB", " ab", "abc", "", std::string("a\0b", 3), "\x80\xA0",
                                         "\xE0x", "zz", "a b", "(x"};
    static const char* const kNumbers[] = {"12.50", "-3.00", "-0.00", "0.00", "1e2", "12,5", "", "-", "  .5",
                                           "007.00", "99999.99", "-9999.99", "1.5", "abc", "-12.5"};
    static const char* const kDates[] = {"19800512", "19991231", "20000229", "20230230", "        ", "1980 101",
                                         "abcdefgh"};
    const size_t records = 60 + pick(random, 300);
    for (size_t r = 0; r < records; ++r) {
        std::string note(40, ' ');
        for (size_t i = pick(random, 40); i < 40; ++i) note[i] = "ab \0"[pick(random, 4)];
        const double sizes[] = {1.5, -2.25, 1e25, -1e30, 0.0, 123456.125};
        std::vector<std::string> values = {
            fit(one_of(random, kNames), 6, false),
            note,
            fit(chance(random, 70) ? std::to_string(static_cast<int>(pick(random, 4000)) - 2000) + ".25"
                                   : one_of(random, kNumbers), 7, true),
            fit(std::to_string(static_cast<int>(pick(random, 40)) - 10), 3, true),
            fit(one_of(random, kNumbers), 8, true),
            one_of(random, kDates),
            std::string(1, "TFtf ?"[pick(random, 6)]),
            little_endian(chance(random, 50) ? pick(random, 5) : static_cast<uint32_t>(random()), 4),
            little_endian(static_cast<uint64_t>(static_cast<int64_t>(pick(random, 2000)) - 1000), 8),
            double_bytes(chance(random, 5) ? one_of(random, sizes) : static_cast<double>(pick(random, 10))),
        };
        layout.records.push_back(make_record(layout, values, chance(random, 10)));
    }
    return layout;
}

TEST(BuildOrder, AgreesWithTheKeyComparisonOnRandomTables) {
    static const char* const kFields[] = {"NAME", "NOTE", "PRICE", "AGE", "RATE", "BORN", "FLAG", "QTY", "CASH", "SIZE"};
    Random random(7);
    for (int round = 0; round < 30; ++round) {
        OpenedTable t(random_table(random));
        DbfTable& table = t.table;
        for (int c = 0; c < 6; ++c) {
            std::string fields;
            for (size_t k = 1 + pick(random, 3); k > 0; --k) fields += std::string(one_of(random, kFields)) + ";";
            table.options.descending = chance(random, 40);
            table.options.case_insensitive = chance(random, 40);
            table.options.trim_mode = static_cast<TrimMode>(pick(random, 4));
            table.options.ansi = chance(random, 50);
            table.options.upper_case_hook = nullptr;
            if (chance(random, 20))
                table.options.upper_case_hook = [](unsigned char* text) {
                    for (; *text; ++text)
                        if (*text == 'b' || *text == 0xE0) *text = 'Z';
                };
            table.filter.view_list.reset();
            if (chance(random, 30)) {
                std::vector<uint32_t> view;
                for (uint32_t i = 0; i < table.record_count(); ++i)
                    if (chance(random, 60)) view.push_back(i);
                table.filter.view_list = view;
            }
            ASSERT_TRUE(order_table(table, fields));
            const std::vector<uint32_t> built(table.order_list->begin(), table.order_list->end());
            table.order_list.reset();
            ASSERT_EQ(built, reference_order(table)) << fields << " desc " << table.options.descending << " case "
                                                     << table.options.case_insensitive << " trim " << static_cast<int>(table.options.trim_mode);
        }
    }
}

// Past a tiny sorting budget the keys are sorted in runs on disk and the order is
// kept in a file of its own: still the key comparison's order, equal keys included.
TEST(BuildOrder, SpilledOrderAgreesWithTheKeyComparison) {
    Random random(11);
    ::setenv("RORARODI_SORT_MEMORY", "1K", 1);
    for (int round = 0; round < 3; ++round) {
        TableLayout layout = random_table(random);
        for (size_t i = 0; layout.records.size() < 600; ++i) layout.records.push_back(layout.records[i]);
        OpenedTable t(layout);
        DbfTable& table = t.table;
        ASSERT_TRUE(order_table(table, round == 1 ? "PRICE;NAME" : "NAME;BORN"));
        EXPECT_TRUE(table.order_list->on_disk());
        const std::vector<uint32_t> built(table.order_list->begin(), table.order_list->end());
        table.order_list.reset();
        EXPECT_EQ(built, reference_order(table)) << round;
    }
    ::unsetenv("RORARODI_SORT_MEMORY");
}

TEST(SortRows, MatchesMemcmpOrder) {
    Random random(3);
    for (int round = 0; round < 40; ++round) {
        const size_t row_size = 1 + pick(random, 9), count = pick(random, 3000);
        const size_t alphabet = 1 + pick(random, chance(random, 50) ? 3 : 256);
        std::vector<uint8_t> rows(count * row_size);
        for (uint8_t& b : rows) b = static_cast<uint8_t>(pick(random, alphabet));
        std::vector<std::string> expected;
        for (size_t i = 0; i < count; ++i)
            expected.emplace_back(reinterpret_cast<const char*>(rows.data() + i * row_size), row_size);
        std::sort(expected.begin(), expected.end());
        sort_rows(rows.data(), count, row_size);
        for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(rows.data() + i * row_size), row_size), expected[i])
                << "row " << i << " of " << count << ", " << row_size << " bytes";
    }
}

} // namespace
