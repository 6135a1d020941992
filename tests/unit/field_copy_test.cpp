#include <gtest/gtest.h>

#include <random>

#include "opened_table.h"
#include "table/field_copy.h"
#include "table/field_text.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// The value as an append stores it: text and number through set_field.
void store_through_text(DbfTable& source, int field, DbfTable& target) {
    std::string text = field_text(source, field);
    double number = field_number(source, field);
    if (field_is_numeric(source, field)) {
        text.erase(text.find_last_not_of(' ') + 1);
        text.erase(0, text.find_first_not_of(' '));
    } else {
        number = std::strtod(text.c_str(), nullptr);
    }
    set_field(target, field, text.c_str(), number);
}

TEST(FieldCopy, DirectCopiesGiveWhatTextAndNumberGive) {
    TableLayout layout;
    layout.fields = {{"C", 'C', 5}, {"L", 'L', 1}, {"N", 'N', 8, 2}, {"M", 'N', 5}, {"D", 'D', 8}, {"W", 'N', 18, 3}};
    layout.records = {make_record(layout, {})};
    OpenedTable source(layout, true), target(layout, true);
    const std::vector<std::vector<std::string>> values = {
        {std::string("ab\0cd", 5), "abcde", "     ", std::string(5, '\0')},
        {"t", "T", "y", "x", std::string(1, '\0'), "?", "1", " "},
        {"   12.50", "  -12.50", "    0.00", "   -0.00", "00012.50", "  12.5  ", "        ", "12345.67", "  1,50  ",
         "     .50", "  12.500", "-9999.99", "1e5     ", " - 12.50", "  +12.50", "  012.50"},
        {"  123", "   -0", "    0", "00123", " 12 3", "     ", "99999", "-9999", "  1.0"},
        {"20240229", "20230229", "00000101", "99991231", "2024013 ", "        ", "20241301", "20240100", "2024-1-1"},
    };
    std::mt19937_64 random(7);
    std::vector<std::string> wide;
    for (int i = 0; i < 300; ++i) {
        // Fifteen significant digits and fewer, both signs.
        std::string digits = std::to_string(random() % 1000000000000000ULL);
        digits.resize(std::min<size_t>(digits.size(), 15 - random() % 4));
        if (digits.size() < 4) digits = "1234";
        std::string text = (random() % 2 ? "-" : "") + digits.substr(0, digits.size() - 3) + "." + digits.substr(digits.size() - 3);
        if (text[0] == '0' || (text[0] == '-' && text[1] == '0')) continue;
        wide.push_back(std::string(18 - std::min<size_t>(18, text.size()), ' ') + text);
    }
    int direct = 0;
    for (int mode = 0; mode <= 4; ++mode) {
        source.table.options.date_mode = target.table.options.date_mode = static_cast<DateMode>(mode);
        for (int field = 0; field < 6; ++field) {
            const FieldTransfer plan = plan_field_transfer(source.table, field, target.table, field);
            EXPECT_NE(plan, FieldTransfer::text_and_number);
            const auto& list = field < 5 ? values[static_cast<size_t>(field)] : wide;
            const FieldDescriptor& f = source.table.field_table[static_cast<size_t>(field)];
            for (const std::string& value : list) {
                SCOPED_TRACE(std::to_string(mode) + " " + f.name + " [" + value + "]");
                std::copy(value.begin(), value.end(), source.table.record_buffer.begin() + f.offset);
                blank_record_buffer(target.table);
                store_through_text(source.table, field, target.table);
                const std::vector<uint8_t> expected = target.table.record_buffer;
                blank_record_buffer(target.table);
                if (!transfer_field_directly(plan, source.table, field, target.table, field)) continue;
                ++direct;
                EXPECT_EQ(target.table.record_buffer, expected);
            }
        }
    }
    EXPECT_GT(direct, 1000);
}

} // namespace
