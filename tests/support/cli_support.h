// Temporary directories, file helpers and running the program for end-to-end tests.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

// A fresh directory removed with its contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// EXPECT_TRUE(same_bytes(actual, expected)) for long texts: on a difference it
// reports the sizes and the first differing offset with a few bytes around it,
// not both texts whole.
::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected);

struct RunResult {
    std::string output;  // standard output
    std::string errors;  // standard error (sanitizer reports land here)
    int status = -1;
};

// Runs `program` with `arguments` in the directory `cwd`; captures standard output
// and standard error.
RunResult run_command(const std::string& program, const std::vector<std::string>& arguments, const std::string& cwd);

} // namespace testing_support
