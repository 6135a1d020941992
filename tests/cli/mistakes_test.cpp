#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// Twelve prices 0.00, 100.00, ... 1100.00; records 2, 5 and 9 deleted.
TableLayout prices(bool memo = false) {
    TableLayout layout;
    layout.version = memo ? 0xF5 : 0x03;
    layout.fields = {{"NAME", 'C', 6}, {"PRICE", 'N', 8, 2}};
    if (memo) layout.fields.push_back({"NOTE", 'M', 10});
    for (int i = 0; i < 12; ++i) {
        std::vector<std::string> values = {"n" + std::to_string(12 - i), std::to_string(i * 100) + ".00"};
        if (memo) values.push_back(i == 0 ? "         1" : "");
        layout.records.push_back(make_record(layout, values, i == 1 || i == 4 || i == 8));
    }
    return layout;
}

struct MistakeCase {
    const char* what;
    std::vector<std::string> arguments;
    std::string output;
    std::string errors;
    int status;
    bool unchanged = true;   // t.dbf (and every other file) keeps its bytes
    const char* companion = nullptr;  // a file written beside t.dbf first
    bool index_flag = false;          // header byte 28 set
    bool memo = false;                // a FoxPro table without its memo file
};

std::string ten_errors() {
    std::string lines;
    for (int i = 0; i < 10; ++i) {
        const std::string price = std::to_string(i * 100) + ".00";
        lines += "Error in: ROUND(" + std::string(8 - price.size(), ' ') + price + "*1.1,2)\n";
    }
    return lines;
}

TEST(Mistakes, NeverCostData) {
    const std::vector<MistakeCase> cases = {
        {"misspelt field in a changing run", {"/F:PRICEE}400", "/DELETE:all", "/CLEAR", "/PACK", "/COUNT"}, "",
         "rorarodi: the condition PRICEE}400 names no field of t.dbf\nt.dbf: nothing was changed\n", 2},
        {"misspelt field in a run that changes nothing", {"/F:PRICEE}400", "/COUNT"}, "12\n",
         "rorarodi: the condition PRICEE}400 names no field of t.dbf\n", 2},
        {"unknown keyword", {"/FILTR:PRICE}400", "/DELETE:all", "/COUNT"}, "Unknown function: [FILTR:PRICE}400].\n",
         "t.dbf: nothing was changed\n", 2},
        {"a list file's mistake", {"@steps.lst", "/PACK"}, "Invalid field[s]...\n", "t.dbf: nothing was changed\n", 2},
        {"a name /MODIFY creates is known", {"/MODIFY:s.txt", "/F:TAG=0", "/COUNT"},
         "12\n", "", 0, false},
        {"value that cannot be computed", {"/FIELD:PRICE=ROUND(PRICE*1.1,2)", "/UPDATE"},
         ten_errors() + "2 more values could not be computed\nt.dbf is unchanged\n", "", 2},
        {"computed field that cannot be computed", {"/MODIFY:bad.txt"},
         ten_errors() +
             "2 more values could not be computed\nt.dbf is unchanged\n", "", 2},
        {"pack under a filter", {"/F:PRICE}400", "/PACK", "/ZAP"}, "",
         "rorarodi: /PACK: t.dbf has a filter or an order; /CLEAR first\n"
         "rorarodi: /ZAP: t.dbf has a filter or an order; /CLEAR first\n", 2},
        {"read-only table", {"/SORT:NAME", "/DELETE:1"}, "",
         "rorarodi: /SORT: t.dbf is open read-only\nrorarodi: /DELETE: t.dbf is open read-only\n", 2},
        {"dry run", {"/DRYRUN", "/PACK", "/FIELD:PRICE=PRICE*2", "/UPDATE", "/SORT:NAME", "/TRUNC:20", "/COUNT"}, "12\n",
         "t.dbf: /PACK would remove 3 of 12 records\nt.dbf: /UPDATE would change 11 records\n"
         "t.dbf: /SORT would reorder 12 records\nt.dbf: /TRUNC would add 8 records\n", 0},
        {"missing memo file read", {"/MEMO:text", "/RANGE:1", "/S:NOTE"}, "\n",
         "rorarodi: t.fpt: No such file or directory; memo fields of t.dbf read as empty\n", 2, true, nullptr, false, true},
        {"missing memo file written", {"/FIELD:NOTE='x'", "/UPDATE", "/PACK"}, "",
         "rorarodi: /UPDATE: t.fpt: No such file or directory; t.dbf is unchanged\n"
         "rorarodi: /PACK: t.fpt: No such file or directory; t.dbf is unchanged\n", 2, true, nullptr, false, true},
        {"structural index", {"/DELETE:1", "/CPZERO:3"}, "",
         "rorarodi: t.cdx no longer matches t.dbf: rebuild the index in its application, or clear the flag with /CDX\n",
         0, false, "t.cdx", true},
        {"index flag without an index", {"/DELETE:1"}, "", "", 0, false, nullptr, true},
        {"shapefile", {"/DELETE:1", "/APPEND:blank"}, "",
         "rorarodi: t.dbf belongs to the shapefile t.shp; its records no longer match the shapes\n", 0, false, "t.shp"},
        {"dry run with a shapefile", {"/DRYRUN", "/PACK"}, "",
         "t.dbf: /PACK would remove 3 of 12 records\n"
         "rorarodi: t.dbf belongs to the shapefile t.shp; its records no longer match the shapes\n", 0, true, "t.shp"},
    };
    for (const MistakeCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string table = build_table(prices(c.memo));
        if (c.index_flag) table[28] = 1;
        write_file(dir / "t.dbf", table);
        if (c.companion) write_file(dir / c.companion, "shapes or keys");
        write_file(dir / "steps.lst", "/ORDER:PRICE;NOSUCH\n");
        write_file(dir / "s.txt", "TAG N 3\n");
        write_file(dir / "bad.txt", "TOTAL N 9 2 EXP:ROUND(PRICE*1.1,2)\n");
        std::vector<std::string> arguments = {c.what == std::string("read-only table") ? "#t.dbf" : "t.dbf"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const RunResult r = run_rorarodi(dir, arguments, c.errors);
        EXPECT_EQ(r.output, c.output);
        EXPECT_EQ(r.status, c.status);
        if (c.unchanged) {
            EXPECT_TRUE(same_bytes(read_file(dir / "t.dbf"), table));
            for (const char* left : {"t.bak", "t.fpt", "t.tmp", "$temp$.dbf", "t.dbf.journal"})
                EXPECT_FALSE(file_exists(dir / left)) << left;
        } else {
            EXPECT_NE(read_file(dir / "t.dbf"), table);
        }
    }
}

} // namespace
