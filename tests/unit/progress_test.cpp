#include <gtest/gtest.h>

#include "platform/progress.h"

namespace rorarodi {
namespace {

TEST(ProgressText, NamesTheJobAndCutsToTheWidth) {
    EXPECT_EQ(progress_text("t.dbf", "/S:*", 250, 1000, 0.5, 200),
              "t.dbf /S:*: 250 of 1000 records (25%), 500/s, 0:02 left");
    EXPECT_EQ(progress_text("t.dbf", "/S:*", 1, 7201, 1.0, 200), "t.dbf /S:*: 1 of 7201 records (0%), 1/s, 2:00:00 left");
    // No rate yet: no time left; control characters of a parameter never reach the terminal.
    EXPECT_EQ(progress_text("t.dbf", "/F:A\rB", 0, 10, 0, 200), "t.dbf /F:A?B: 0 of 10 records (0%), 0/s");
    EXPECT_EQ(progress_text("t.dbf", "/S:*", 250, 1000, 0.5, 12), "t.dbf /S:*: ");
}

} // namespace
} // namespace rorarodi
