// The watcher and a click on Upgrade on two threads: the command must judge
// the device by what the cycle under way leaves, not by what it finds first.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/fakes/command_bench.h"
#include "ui/job_commands.h"

namespace {

TEST(JobHandOver, ClickWaitsForTheWatchCycleUnderWay) {
    CommandBench bench;
    // The last finished cycle saw two devices and the window shows none.
    bench.state.g_findResult = 2;
    bench.state.g_deviceInfo = DEVICE_INFO{};
    bench.view.answers = {mb::kIdNo};

    std::atomic<bool> cycleStarted{false};
    std::thread watcher([&] {
        ASSERT_TRUE(bench.gate.BeginWatchCycle(bench.state.g_jobActive));
        cycleStarted = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a slow search
        bench.state.g_findResult = 1;
        DEVICE_INFO found{};
        found.identity = 9;
        found.deviceType = QV_DEVICE_MSC;
        bench.state.g_deviceInfo = found;
        bench.gate.EndWatchCycle();
        // The click holds the device now: the next cycle stands still.
        EXPECT_FALSE(bench.gate.BeginWatchCycle(bench.state.g_jobActive));
    });
    while (!cycleStarted)
        std::this_thread::yield();

    int pumps = 0;
    bench.ctx.pump = [&pumps](uint32_t ms) {
        ++pumps;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    EXPECT_FALSE(OnUpgrade(bench.ctx));
    watcher.join();

    // Neither "several devices" nor "no device": the final question.
    EXPECT_EQ(bench.view.Calls(), std::vector<std::wstring>{L"box IDS_88 | Title | 52"});
    EXPECT_GT(pumps, 0);
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
}

} // namespace
