#pragma once
// Real compiler output and reference images live in the shared folder beside
// the repository. Without it the tests that read them skip on a developer's
// machine; under CI (the environment variable CI set) they fail, so a missing
// folder can never pass as green.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

inline bool running_under_ci() {
    const char* ci = std::getenv("CI");
    if (ci == nullptr) return false;
    const std::string_view value(ci);
    return !value.empty() && value != "0" && value != "false";
}

// For a test body or a void helper of one: skips, or fails under CI, when
// `present` is false. `what` names the missing file or folder.
#define KFU_REQUIRE_SHARED_DATA(present, what)                                     \
    do {                                                                           \
        if (!(present)) {                                                          \
            if (running_under_ci()) FAIL() << (what) << " is missing (CI is set)"; \
            GTEST_SKIP() << (what) << " is not there";                             \
        }                                                                          \
    } while (0)
