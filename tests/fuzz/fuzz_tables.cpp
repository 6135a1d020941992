#include "fuzz_tables.h"

#include <cstdint>
#include <vector>

#include "table_builder.h"

using namespace testing_support;

namespace fuzzing {

namespace {

const std::vector<std::string> kPeopleMemos = {"First note", "Second\r\nnote \xA0\xE0", "x"};

TableLayout people_layout() {
    std::vector<uint32_t> blocks;
    build_dbase3_memo(kPeopleMemos, blocks);
    TableLayout layout;
    layout.version = 0x83;
    layout.fields = {{"NAME", 'C', 10}, {"CITY", 'C', 8},  {"AGE", 'N', 3},    {"PRICE", 'N', 8, 2},
                     {"BORN", 'D', 8},  {"OK", 'L', 1},    {"NOTES", 'M', 10}, {"CODE", 'C', 4},
                     {"QTY", 'I', 4},   {"COST", 'Y', 8},  {"RATE", 'F', 6, 2}};
    auto currency = [](int64_t ten_thousandths) { return le32(static_cast<uint32_t>(ten_thousandths)) +
                                                         le32(static_cast<uint32_t>(ten_thousandths >> 32)); };
    layout.records = {
        make_record(layout, {"John", "Paris", "42", "12.50", "19800512", "T", memo_reference_text(blocks[0]), "a&b",
                             le32(7), currency(125000), "1.25"}),
        make_record(layout, {"Joan", "Rome", "25", "-3", "19991231", "F", memo_reference_text(blocks[1]), "(x)",
                             le32(static_cast<uint32_t>(-3)), currency(-5), "-0.5"}),
        make_record(layout, {"Mary", "Paris", "31", "", "19750101", "?", "", "'q'", le32(0), currency(0), ""}, true),
        make_record(layout, {"Peter", "Oslo", "", "1e3", "", "Y", memo_reference_text(blocks[2]), "", le32(42),
                             currency(4200000), "42"}),
        make_record(layout, {"john", "Rome", "30", "0.01", "20010704", "n", "", "\xA0\xE0", le32(100000),
                             currency(1), "0.01"}),
        make_record(layout, {"", "", "-7", "99999.99", "2000", "", "", "1|2", le32(0x80000000u),
                             currency(INT64_MIN), "*****"}),
    };
    return layout;
}

} // namespace

std::string people_table() { return build_table(people_layout()); }

std::string people_memo() {
    std::vector<uint32_t> blocks;
    return build_dbase3_memo(kPeopleMemos, blocks);
}

} // namespace fuzzing
