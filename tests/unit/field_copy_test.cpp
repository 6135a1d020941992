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
}

} // namespace
