// The watcher and a click on Upgrade on two threads: the command must judge
// the device by what the cycle under way leaves, not by what it finds first.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "commands/job_commands.h"
#include "tests/fakes/command_bench.h"

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
    EXPECT_EQ(bench.view.Calls(), std::vector<std::wstring>{L"box IDS_88 | Title | 308"});
    EXPECT_GT(pumps, 0);
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
}

// A search that blocks inside the library outlasts the click's wait: the click
// is given up with nothing shown or started, a second click that arrives
// while the window waits starts nothing either, and once the search has
// returned the next click goes on as usual.
TEST(JobHandOver, ClickGivesUpWhenTheCycleUnderWayOutlastsItsWait) {
    CommandBench bench;
    std::mutex mutex;
    std::condition_variable searchReturns;
    bool returned = false;
    std::atomic<bool> cycleStarted{false};
    std::thread watcher([&] {
        ASSERT_TRUE(bench.gate.BeginWatchCycle(bench.state.g_jobActive));
        cycleStarted = true;
        // Blocked far longer than the click waits, but not for ever: a
        // click that waits for it all the same fails instead of hanging.
        std::unique_lock<std::mutex> lock(mutex);
        searchReturns.wait_for(lock, std::chrono::seconds(5), [&] { return returned; });
        bench.gate.EndWatchCycle();
    });
    while (!cycleStarted)
        std::this_thread::yield();

    // The window keeps running while the click waits; the user clicks again.
    int pumps = 0;
    bool secondClickStarted = true;
    int32_t flagDuringWait = 0;
    bench.ctx.windowPump = [&](uint32_t ms) {
        if (++pumps == 2) {
            secondClickStarted = OnRepair(bench.ctx);
            flagDuringWait = bench.state.g_jobActive.load();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    bench.ctx.watchIdleWaitMs = 150;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(OnUpgrade(bench.ctx));
    const auto waited = std::chrono::steady_clock::now() - start;

    EXPECT_GE(waited, std::chrono::milliseconds(150));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_GT(pumps, 2);
    EXPECT_FALSE(secondClickStarted);
    EXPECT_EQ(flagDuringWait, 1) << "the second click handed the device back under the first";
    EXPECT_EQ(bench.view.Calls(), std::vector<std::wstring>{}) << "no box, no control changed";
    EXPECT_TRUE(bench.jobsStarted.empty());
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
    EXPECT_EQ(bench.state.g_upgradeRunning.load(), 0);

    {
        std::lock_guard<std::mutex> lock(mutex);
        returned = true;
    }
    searchReturns.notify_all();
    watcher.join();

    // The next click works.
    bench.ctx.windowPump = nullptr;
    bench.view.answers = {mb::kIdYes};
    EXPECT_TRUE(OnUpgrade(bench.ctx));
    EXPECT_EQ(bench.jobsStarted, std::vector<int>{0});
    EXPECT_EQ(bench.state.g_jobActive.load(), 1);
}

} // namespace
