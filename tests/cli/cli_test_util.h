// Running the built program from a test's own temporary directory. The program is
// reached through a link in that directory, so the INI file it reads lies there too.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "cli_support.h"
#include "table_builder.h"

namespace testing_support {

// A sanitizer report or anything on standard error but `errors` fails the test.
inline RunResult run_rorarodi(const TempDir& dir, const std::vector<std::string>& arguments,
                              const std::string& errors = "") {
    std::string link = dir / "rorarodi";
    if (!file_exists(link)) (void)::symlink(RORARODI_BINARY, link.c_str());
    RunResult result = run_command(link, arguments, dir.path());
    EXPECT_EQ(result.errors, errors) << "standard error of the program";
    return result;
}

} // namespace testing_support
