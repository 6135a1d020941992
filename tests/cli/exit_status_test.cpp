#include <gtest/gtest.h>

#include <unistd.h>

#include "cli_test_util.h"

using namespace testing_support;

namespace {

// 0: everything done; 2: the run went on past a failure; 1: a fatal message ended it.
TEST(ExitStatus, EachFailureAndFinding) {
    TempDir dir;
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 4}};
    layout.records = {make_record(layout, {"a"}), make_record(layout, {"b"})};
    write_file(dir / "t.dbf", build_table(layout));
    write_file(dir / "bad.dbf", "no table");
    write_file(dir / "s.txt", "ID N 5\n");
    (void)::symlink(RORARODI_BINARY, (dir / "rorarodi").c_str());

    struct Case {
        std::vector<std::string> arguments;
        std::string output;
        int status;
        std::string errors;
    };
    const std::vector<Case> cases = {
        {{"t.dbf", "/COUNT"}, "2\n", 0, ""},
        {{"t.dbf", "/DELDUPES"}, "Duplicated records not found.\n", 0, ""},
        {{"z*.dbf", "/COUNT"}, "", 0, ""},
        {{"t.dbf", "/F:((", "/COUNT"}, "Invalid filter...\n2\n", 2, ""},
        {{"t.dbf", "/S:NOPE"}, "Invalid field[s]...\n", 2, ""},
        {{"t.dbf", "/S:"}, "Field[s] required for select...\n", 2, ""},
        {{"t.dbf", "/BOGUS"}, "Unknown function: [BOGUS].\n", 2, ""},
        {{"t.dbf", "/OUT:/nonexistent/x.csv", "/S:*"}, "Can't open /nonexistent/x.csv\n", 2, ""},
        {{"t.dbf", "/TRUNC:x"}, "Invalid trunc parameter...\n", 2, ""},
        {{"t.dbf", "/ENCODE:"}, "Password required...\n", 2, ""},
        {{"/CALC:1/0"}, "Error\n", 2, ""},
        {{"/CREATE:s.txt"}, "No name was specified.\n", 2, ""},
        {{"nosuch.dbf", "t.dbf", "/COUNT"}, "2\n", 2, "rorarodi: nosuch.dbf: No such file or directory\n"},
        {{"#none/t.dbf", "/COUNT"}, "", 2, "rorarodi: none/t.dbf: No such file or directory\n"},
        {{"t.dbf", "@none.lst"}, "", 2, "rorarodi: none.lst: No such file or directory\n"},
        {{"t.dbf", "bad.dbf", "/COUNT"}, "2\nInvalid header... bad.dbf", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments.back());
        RunResult r = run_command(dir / "rorarodi", c.arguments, dir.path());
        EXPECT_EQ(r.output, c.output);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.errors, c.errors);
    }
    EXPECT_EQ(read_file(dir / "t.dbf"), build_table(layout));
}

} // namespace
