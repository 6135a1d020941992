#include <gtest/gtest.h>

#include "opened_table.h"
#include "table/field_copy.h"
#include "table/field_text.h"

using namespace rorarodi;
using namespace testing_support;

namespace {

// Fields of the same type, length and decimals take the source's bytes whatever
// they hold; other shapes go through their text (C and L directly).
TEST(FieldCopy, SameShapeFieldsCopyTheirBytes) {
    TableLayout layout;
    layout.fields = {{"L", 'L', 1}, {"N", 'N', 8, 2}, {"D", 'D', 8}, {"C", 'C', 5}};
    layout.records = {make_record(layout, {})};
    TableLayout wider = layout;
    wider.fields = {{"L", 'L', 2}, {"N", 'N', 8, 1}, {"D", 'D', 10}, {"C", 'C', 6}};
    wider.records = {make_record(wider, {})};
    OpenedTable source(layout, true), same(layout, true), other(wider, true);
    const FieldTransfer same_plans[] = {FieldTransfer::bytes, FieldTransfer::bytes, FieldTransfer::bytes,
                                        FieldTransfer::character};
    const FieldTransfer other_plans[] = {FieldTransfer::logical, FieldTransfer::text_and_number,
                                         FieldTransfer::text_and_number, FieldTransfer::character};
    const std::string record = std::string(" ?") + "  1,50  " + "2024-1-1" + std::string("ab\0cd", 5);
    std::copy(record.begin(), record.end(), source.table.record_buffer.begin());
    for (int field = 0; field < 4; ++field) {
        SCOPED_TRACE(field);
        EXPECT_EQ(plan_field_transfer(source.table, field, same.table, field), same_plans[field]);
        EXPECT_EQ(plan_field_transfer(source.table, field, other.table, field), other_plans[field]);
        blank_record_buffer(same.table);
        EXPECT_TRUE(transfer_field_directly(same_plans[field], source.table, field, same.table, field));
        if (field < 3) EXPECT_EQ(field_stored_bytes(same.table, field), field_stored_bytes(source.table, field));
    }
    EXPECT_EQ(field_stored_bytes(same.table, 3), "ab   ");  // a text ends at its zero byte

    // Binary integers keep their bytes only between tables of the same byte order.
    TableLayout integers;
    integers.fields = {{"I", 'I', 4}};
    integers.records = {make_record(integers, {std::string(4, '\0')})};
    TableLayout level7 = integers;
    level7.version = 0x04;
    level7.level7 = true;
    OpenedTable standard(integers, true), standard_too(integers, true), big_endian(level7, true);
    EXPECT_EQ(plan_field_transfer(standard.table, 0, standard_too.table, 0), FieldTransfer::bytes);
    EXPECT_EQ(plan_field_transfer(standard.table, 0, big_endian.table, 0), FieldTransfer::text_and_number);
    EXPECT_EQ(plan_field_transfer(big_endian.table, 0, standard.table, 0), FieldTransfer::text_and_number);
}

// A number into a character field: its text when it fits, else its shortest form
// up to the last width that holds it, else the text cut after the integer digits.
TEST(FieldCopy, NumbersIntoNarrowCharacterFields) {
    const struct {
        unsigned width;
        const char* text;
        double number;
        const char* stored;
    } cases[] = {{5, ".5000", 0.5, ".5000"}, {3, ".5000", 0.5, "0.5"}, {2, ".5000", 0.5, ".5"}, {2, "123.5", 123.5, "**"}};
    for (const auto& c : cases) {
        TableLayout layout;
        layout.fields = {{"C", 'C', c.width}};
        layout.records = {make_record(layout, {})};
        OpenedTable target(layout, true);
        store_copied_value(target.table, 0, c.text, c.number, true);
        EXPECT_EQ(field_stored_bytes(target.table, 0), c.stored) << c.width << " " << c.text;
    }
}

} // namespace
