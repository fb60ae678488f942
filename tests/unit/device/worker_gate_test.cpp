#include "device/worker_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

void SleepPump(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(WorkerGate, WatchCycleRefusedWhileJobActiveOrClosed) {
    WorkerGate gate;
    std::atomic<int32_t> jobActive{1};
    EXPECT_FALSE(gate.BeginWatchCycle(jobActive));
    jobActive = 0;
    ASSERT_TRUE(gate.BeginWatchCycle(jobActive));
    gate.EndWatchCycle();
    EXPECT_TRUE(gate.Close(SleepPump, 100));
    EXPECT_FALSE(gate.BeginWatchCycle(jobActive));
    EXPECT_FALSE(GateSection(gate));
}

// A command that sets the job flag must not read the watcher's results until
// the cycle under way has ended; the data written by that cycle is then
// visible to it (ThreadSanitizer checks the ordering).
TEST(WorkerGate, CommandWaitsForTheCycleUnderWay) {
    WorkerGate gate;
    std::atomic<int32_t> jobActive{0};
    std::atomic<bool> cycleStarted{false};
    int findResult = 0; // deliberately not atomic: the gate must order it
    std::thread watcher([&] {
        ASSERT_TRUE(gate.BeginWatchCycle(jobActive));
        cycleStarted = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a slow search
        findResult = 1;
        gate.EndWatchCycle();
        EXPECT_FALSE(gate.BeginWatchCycle(jobActive)); // the job holds the device now
    });
    while (!cycleStarted)
        std::this_thread::yield();
    jobActive = 1;
    int pumps = 0;
    gate.WaitForWatchIdle([&](uint32_t ms) {
        ++pumps;
        SleepPump(ms);
    });
    EXPECT_EQ(findResult, 1);
    EXPECT_GT(pumps, 0);
    watcher.join();
}

TEST(WorkerGate, CloseWaitsForSectionsAndGivesUpAfterTimeout) {
    WorkerGate gate;
    std::atomic<bool> release{false};
    std::atomic<bool> inside{false};
    std::thread job([&] {
        GateSection section(gate);
        ASSERT_TRUE(section);
        inside = true;
        while (!release)
            std::this_thread::yield();
    });
    while (!inside)
        std::this_thread::yield();
    EXPECT_FALSE(gate.Close(SleepPump, 30)); // a step blocked in the library
    EXPECT_FALSE(GateSection(gate));         // nothing new starts
    release = true;
    job.join();
    EXPECT_TRUE(gate.Close(SleepPump, 30));
}

} // namespace
