#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

TableLayout ten_records() {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 8}, {"AGE", 'N', 4}};
    const char* names[] = {"Olga", "Anna", "Ivan", "Boris", "Anna", "Petr", "Mila", "Ivan", "Zoya", "Egor"};
    const char* ages[] = {"30", "-10", "5", "-2", "12", "0", "", "7", "99", "-100"};
    for (int i = 0; i < 10; ++i) layout.records.push_back(make_record(layout, {names[i], ages[i]}));
    return layout;
}

// The physical record numbers (from 1) whose mark byte is '*'.
std::string marks(const std::string& bytes, const TableLayout& layout) {
    size_t header = 32 + layout.fields.size() * 32 + 1;
    size_t length = record_length(layout);
    std::string out;
    for (size_t i = 0; header + i * length < bytes.size() - 1; ++i)
        if (bytes[header + i * length] == '*') out += std::to_string(i + 1) + " ";
    return out;
}

TEST(RecordLists, DeleteAndRecallOnPositions) {
    TempDir dir;
    TableLayout layout = ten_records();
    std::string original = build_table(layout);
    write_file(dir / "t.dbf", original);
    RunResult r = run_rorarodi(dir, {"t.dbf", "/DELETE:2,4-5", "/DELETE:20", "/DELETE:15-30"});
    EXPECT_EQ(r.output, "");
    std::string after = read_file(dir / "t.dbf");
    EXPECT_EQ(marks(after, layout), "2 4 5 ");
    EXPECT_EQ(after.size(), original.size());

    // Deleting an already deleted record writes nothing: a backup would be made only by a write.
    RunResult again = run_rorarodi(dir, {"t.dbf", "/BAK", "/DELETE:2"});
    EXPECT_FALSE(file_exists(dir / "t.bak"));
    RunResult backed = run_rorarodi(dir, {"t.dbf", "/BAK", "/DELETE:3"});
    EXPECT_EQ(read_file(dir / "t.bak"), after);

    RunResult recall = run_rorarodi(dir, {"t.dbf", "/RECALL:all"});
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
    EXPECT_EQ(recall.output, "");

    // A backup that cannot be made leaves the table as it was, and each parameter says so.
    std::remove((dir / "t.bak").c_str());
    ASSERT_EQ(::mkdir((dir / "t.bak").c_str(), 0755), 0);
    write_file(dir / "t.bak/keep", "x");
    RunResult unsaved = run_rorarodi(dir, {"t.dbf", "/BAK", "/DELETE:1-3", "/DELETE:all"});
    const std::string refused =
        "Can't make the backup t.bak: Is a directory\nCan't rename t.bak: Is a directory; t.dbf is unchanged\n";
    EXPECT_EQ(unsaved.output, refused + refused);
    EXPECT_EQ(unsaved.status, 2);
    EXPECT_EQ(read_file(dir / "t.dbf"), original);
}

TEST(RecordLists, DeletedViewsAndCount) {
    TempDir dir;
    TableLayout layout = ten_records();
    layout.records[1][0] = '*';
    layout.records[6][0] = '*';
    write_file(dir / "t.dbf", build_table(layout));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/DELETED-", "/COUNT", "/DELETED+", "/COUNT", "/DELETEDONLY", "/COUNT",
                                     "/RECALL:all", "/CLEAR", "/COUNT", "/DELETEDONLY", "/COUNT"});
    EXPECT_EQ(r.output, "8\n10\n2\n10\n0\n");
    EXPECT_EQ(marks(read_file(dir / "t.dbf"), layout), "");

    // /DELETEDONLYX is not /DELETEDONLY: it reaches /DELETED with "ONLYX" and shows all.
    layout.records[2][0] = '*';
    write_file(dir / "t.dbf", build_table(layout));
    RunResult x = run_rorarodi(dir, {"t.dbf", "/VERBOSE", "/DELETEDONLYX", "/DELETEDONLY", "/COUNT"});
    EXPECT_EQ(x.output,
              "Processing of parameter [/DELETEDONLYX]\nEnter Deleted\nLeave Deleted\n"
              "Processing of parameter [/DELETEDONLY]\n"
              "Processing of parameter [/COUNT]\nEnter Count\n3\nLeave Count\n");
}

TEST(RecordLists, FilterThenDeleteAllReachesTheView) {
    TempDir dir;
    TableLayout layout = ten_records();
    write_file(dir / "t.dbf", build_table(layout));
    RunResult r = run_rorarodi(dir, {"t.dbf", "/FILTER:NAME=Anna", "/DELETE:all", "/COUNT", "/DELETED-", "/COUNT",
                                     "/DELETED+", "/COUNT", "/CLEAR", "/COUNT"});
    // Hidden deleted records stay out of a filtered view after /DELETED+.
    EXPECT_EQ(r.output, "2\n0\n0\n10\n");
    EXPECT_EQ(marks(read_file(dir / "t.dbf"), layout), "2 5 ");
}

TEST(RecordLists, OrderByFields) {
    TempDir dir;
    TableLayout layout = ten_records();
    write_file(dir / "t.dbf", build_table(layout));
    // /ORDER then /DELETE:1 marks the first record of the order.
    auto first_in_order = [&](std::vector<std::string> args, const std::string& errors = "") {
        write_file(dir / "t.dbf", build_table(layout));
        args.insert(args.begin(), "t.dbf");
        args.push_back("/DELETE:1");
        RunResult r = run_rorarodi(dir, args, errors);
        return r.output + marks(read_file(dir / "t.dbf"), layout);
    };
    EXPECT_EQ(first_in_order({"/ORDER:NAME"}), "2 ");           // Anna (first of two)
    EXPECT_EQ(first_in_order({"/DESC", "/ORDER:NAME"}), "9 ");  // Zoya
    EXPECT_EQ(first_in_order({"/ORDER:AGE"}), "10 ");           // -100
    EXPECT_EQ(first_in_order({"/DESC", "/ORDER:AGE"}), "9 ");   // 99
    // A name the table lacks stops the run before anything changes.
    EXPECT_EQ(first_in_order({"/ORDER:name;XYZ;AGE", "/DESC"}, "t.dbf: nothing was changed\n"), "Invalid field[s]...\n");
    EXPECT_EQ(first_in_order({"/ORDER:XYZ;NAME"}, "t.dbf: nothing was changed\n"), "Invalid field[s]...\n");
    EXPECT_EQ(first_in_order({"/ORDER:NAME", "/CLEAR"}), "1 ");
    // Equal keys keep view order ascending and come reversed under /DESC.
    EXPECT_EQ(first_in_order({"/FILTER:NAME=Anna", "/ORDER:NAME"}), "2 ");
    EXPECT_EQ(first_in_order({"/FILTER:NAME=Anna", "/DESC", "/ORDER:NAME"}), "5 ");
    // A filter after the order drops it.
    EXPECT_EQ(first_in_order({"/ORDER:AGE", "/FILTER:AGE}-1000"}), "1 ");
}

TEST(RecordLists, OrderFullSequenceByNumbers) {
    TempDir dir;
    TableLayout layout = ten_records();
    write_file(dir / "t.dbf", build_table(layout));
    // Deleting positions one by one in order reveals the whole order through the marks.
    std::string order;
    for (int k = 1; k <= 10; ++k) {
        write_file(dir / "t.dbf", build_table(layout));
        run_rorarodi(dir, {"t.dbf", "/ORDER:AGE", "/DELETE:" + std::to_string(k)});
        order += marks(read_file(dir / "t.dbf"), layout);
    }
    // -100, -10, -2, 0, blank (0 as well, later in view order), 5, 7, 12, 30, 99
    EXPECT_EQ(order, "10 2 4 6 7 3 8 5 1 9 ");
}

TEST(RecordLists, CaseFoldingInOrder) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"FRUIT", 'C', 8}};
    layout.records = {make_record(layout, {"Banana"}), make_record(layout, {"apple"})};
    for (auto [args, expected] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"/ORDER:FRUIT"}, "1 "}, {{"/CASE", "/ORDER:FRUIT"}, "2 "}, {{"/ORDER:FRUIT", "/CASE"}, "1 "}}) {
        write_file(dir / "f.dbf", build_table(layout));
        args.insert(args.begin(), "f.dbf");
        args.push_back("/DELETE:1");
        run_rorarodi(dir, args);
        EXPECT_EQ(marks(read_file(dir / "f.dbf"), layout), expected);
    }
}

TEST(RecordLists, DatesOrderChronologicallyUnderEveryDateMode) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"BORN", 'D', 8}};
    layout.records = {make_record(layout, {"20010315"}), make_record(layout, {"19991231"}), make_record(layout, {"20000101"})};
    for (const char* mode : {"/DATE:asis", "/DATE:dmy", "/DATE:mdy"}) {
        write_file(dir / "d.dbf", build_table(layout));
        run_rorarodi(dir, {"d.dbf", mode, "/ORDER:BORN", "/DELETE:1"});
        EXPECT_EQ(marks(read_file(dir / "d.dbf"), layout), "2 ") << mode;
    }
}

TEST(RecordLists, TrimmedTextsOrderAsTheirValues) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"CODE", 'C', 6}};
    layout.records = {make_record(layout, {"  bcd"}), make_record(layout, {"   a"}), make_record(layout, {" bc"})};
    for (const char* trim : {"/TRIM:left", "/TRIM:all"}) {
        std::string order;
        for (int k = 1; k <= 3; ++k) {
            write_file(dir / "t.dbf", build_table(layout));
            run_rorarodi(dir, {"t.dbf", trim, "/ORDER:CODE", "/DELETE:" + std::to_string(k)});
            std::string bytes = read_file(dir / "t.dbf");
            for (int i = 0; i < 3; ++i)
                if (bytes[32 + 32 + 1 + i * 7] == '*') order += std::to_string(i + 1);
        }
        EXPECT_EQ(order, "231") << trim;  // a, bc, bcd
    }
}

} // namespace
