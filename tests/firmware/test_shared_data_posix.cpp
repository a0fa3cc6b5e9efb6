// The rule that a missing shared folder fails under CI. Kept apart because it
// sets the environment with POSIX calls, which Windows does not have.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/shared_data.h"

namespace {

// Under CI a missing shared folder is a failure, never a skip.
void require_missing_folder() { KFU_REQUIRE_SHARED_DATA(false, "/nowhere/testdata"); }

TEST(SharedData, MissingFolderFailsUnderCi) {
    const char* before = std::getenv("CI");
    const std::string saved = before ? before : "";
    for (const char* value : {"true", "1"}) {
        ::setenv("CI", value, 1);
        EXPECT_TRUE(running_under_ci()) << value;
        EXPECT_FATAL_FAILURE(require_missing_folder(), "/nowhere/testdata is missing");
    }
    for (const char* value : {"", "0", "false"}) {
        ::setenv("CI", value, 1);
        EXPECT_FALSE(running_under_ci()) << value;
    }
    ::unsetenv("CI");
    EXPECT_FALSE(running_under_ci());
    if (before) ::setenv("CI", saved.c_str(), 1);
}

}  // namespace
