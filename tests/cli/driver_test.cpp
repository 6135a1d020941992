#include <gtest/gtest.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TableSpec people_table() {
    TableSpec spec;
    spec.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}};
    spec.records = {make_record(spec, {"John", "42"}), make_record(spec, {"Joan", "25"}),
                    make_record(spec, {"Mary", "31"}, true)};
    return spec;
}

TEST(Driver, CountOfTwoPatterns) {
    TempDir dir;
    write_file(dir / "a.dbf", build_table(people_table()));
    write_file(dir / "b.dbf", build_table(people_table()));
    RunResult r = run_rorarodi(dir, {"a.dbf", "b.dbf", "/COUNT"});
    EXPECT_EQ(r.output, "3\n3\n");
    EXPECT_EQ(r.status, 0);
}

} // namespace
