// The command line's platform file, on every platform it is built for (the
// Windows one under Wine).

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "cli/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

class Platform : public ::testing::Test {
protected:
    void SetUp() override { cli::reset_stop_for_tests(); }
    void TearDown() override { cli::reset_stop_for_tests(); }
};

TEST_F(Platform, AStopEndsAWaitAtOnceAndStaysUntilReset) {
    const auto start = Clock::now();
    EXPECT_TRUE(cli::wait_unless_stopped(30));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(29));

    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cli::request_stop_for_tests();
    });
    const auto before = Clock::now();
    EXPECT_FALSE(cli::wait_unless_stopped(60'000));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(20));
    stopper.join();
    EXPECT_TRUE(cli::stop_signalled());
    EXPECT_EQ(cli::stop_signal(), SIGINT);
    // Every later wait ends at once too, until the stop is taken back.
    EXPECT_FALSE(cli::wait_unless_stopped(60'000));

    cli::reset_stop_for_tests();
    EXPECT_FALSE(cli::stop_signalled());
    EXPECT_TRUE(cli::wait_unless_stopped(1));
}

}  // namespace
