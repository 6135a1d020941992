// The progress line: drawn on standard error only when it is a terminal (run
// under a pseudo-terminal made by script(1)), erased at the end; nothing at all
// without a terminal. The test build draws at once (RORARODI_PROGRESS_AFTER=0).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_support.h"
#include "cli_test_util.h"
#include "table_builder.h"

namespace {

using namespace testing_support;

// A table of `count` records with one character field.
void write_table(const TempDir& dir, int count) {
    TableLayout layout;
    layout.fields = {{"NAME", 'C', 10, 0}};
    for (int i = 0; i < count; ++i) layout.records.push_back(make_record(layout, {"n" + std::to_string(i)}));
    write_file(dir / "t.dbf", build_table(layout));
}

// Runs the program in the directory under a pseudo-terminal; what the terminal got.
RunResult run_on_terminal(const TempDir& dir, const std::string& arguments) {
    (void)run_rorarodi(dir, {"/VERSION"});  // makes the link to the program
    return run_command("/usr/bin/script", {"-q", "-e", "-c", "RORARODI_PROGRESS_AFTER=0 ./rorarodi " + arguments, "/dev/null"},
                       dir.path());
}

TEST(Progress, LineOnATerminalErasedAtTheEnd) {
    if (!file_exists("/usr/bin/script")) GTEST_SKIP() << "script(1) is not installed";
    TempDir dir;
    write_table(dir, 3000);
    RunResult shown = run_on_terminal(dir, "t.dbf /OUT:x.csv /S:*");
    ASSERT_EQ(shown.status, 0) << shown.output << shown.errors;
    const std::string line = "\rt.dbf /S:*: 256 of 3000 records (8%), ";
    const size_t at = shown.output.find(line);
    ASSERT_NE(at, std::string::npos) << shown.output;
    const size_t end = shown.output.find('\r', at + 1);
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(shown.output.substr(at, end - at).find(" left"), std::string::npos);
    // The line ends blanked out, the cursor back at its start.
    const std::string erased = "\r" + std::string(end - at - 1, ' ') + "\r";
    EXPECT_NE(shown.output.find(erased, end), std::string::npos) << shown.output;
    const std::string written = read_file(dir / "x.csv");

    // /MODIFY on a terminal shows its percentage on standard output and no line.
    write_file(dir / "s.txt", "NAME C 12\n");
    RunResult modified = run_on_terminal(dir, "t.dbf /MODIFY:s.txt");
    EXPECT_NE(modified.output.find("\r1%\r2%"), std::string::npos);
    EXPECT_NE(modified.output.find("\r100%\r    "), std::string::npos);
    EXPECT_EQ(modified.output.find("records"), std::string::npos);

    // Without a terminal: the same file, nothing on standard error or for /MODIFY.
    write_table(dir, 3000);
    std::remove((dir / "x.csv").c_str());
    RunResult piped = run_command("/usr/bin/env", {"RORARODI_PROGRESS_AFTER=0", "./rorarodi", "t.dbf", "/OUT:x.csv", "/S:*",
                                                   "/MODIFY:s.txt", "/COUNT"},
                                  dir.path());
    EXPECT_EQ(piped.errors, "");
    EXPECT_EQ(piped.output, "3000\n");
    EXPECT_TRUE(read_file(dir / "x.csv") == written);
}

} // namespace
