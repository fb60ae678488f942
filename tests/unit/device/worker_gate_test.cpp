#include "device/worker_gate.h"

#include "device/job_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
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
    EXPECT_TRUE(gate.WaitForWatchIdle(
        [&](uint32_t ms) {
            ++pumps;
            SleepPump(ms);
        },
        kWatchIdleWaitMs));
    EXPECT_EQ(findResult, 1);
    EXPECT_GT(pumps, 0);
    watcher.join();
}

TEST(WorkerGate, CommandWaitEndsAtOnceWithNoCycleUnderWay) {
    WorkerGate gate;
    int pumps = 0;
    EXPECT_TRUE(gate.WaitForWatchIdle([&](uint32_t) { ++pumps; }, 0));
    EXPECT_EQ(pumps, 0);
}

// A search blocked in the library must not hold the command: the wait gives
// up after its time, measured on the clock however the pump spends it.
TEST(WorkerGate, CommandWaitGivesUpWhenTheCycleOutlastsItsTime) {
    WorkerGate gate;
    std::atomic<int32_t> jobActive{0};
    ASSERT_TRUE(gate.BeginWatchCycle(jobActive)); // and it never ends
    jobActive = 1;
    for (auto pump : {std::function<void(uint32_t)>(SleepPump),
                      std::function<void(uint32_t)>([](uint32_t) {}), // returns at once
                      std::function<void(uint32_t)>([](uint32_t) { SleepPump(40); })}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(gate.WaitForWatchIdle(pump, 120));
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(120));
        EXPECT_LT(waited, std::chrono::milliseconds(2000));
    }
    gate.EndWatchCycle();
    EXPECT_TRUE(gate.WaitForWatchIdle(SleepPump, 120));
}

// The pump may run the exit procedure (the user leaves while the click
// waits): the command then gives up at once.
TEST(WorkerGate, CommandWaitEndsWhenTheGateClosesMeanwhile) {
    WorkerGate gate;
    std::atomic<int32_t> jobActive{0};
    ASSERT_TRUE(gate.BeginWatchCycle(jobActive));
    jobActive = 1;
    int pumps = 0;
    EXPECT_FALSE(gate.WaitForWatchIdle(
        [&](uint32_t) {
            if (++pumps == 3) gate.Close([](uint32_t) {}, 0);
        },
        60000));
    EXPECT_EQ(pumps, 3);
    gate.EndWatchCycle();
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

// A job's thread and its owner race for the job at the owner's limit: exactly
// one of them has it, whatever the timing, and a step told from the thread
// while the owner looks is seen whole or not at all.
TEST(JobWatch, ThreadAndOwnerNeverBothHaveTheJob) {
    constexpr int kRounds = 2000;
    for (int round = 0; round < kRounds; ++round) {
        JobWatch watch;
        std::atomic<bool> ran{false};
        std::thread thread;
        ASSERT_TRUE(StartWatchedJob(
            watch, 0,
            [&](std::function<void()> body) {
                thread = std::thread(std::move(body));
                return true;
            },
            [&] {
                ran = true;
                watch.StepBegins(job_step::kUpgrade, 0);
                watch.StepEnds();
            }));
        JobWatch::Overdue overdue;
        const JobWatch::Finding found = watch.Check(kJobThreadStartLimitMs, overdue);
        thread.join();
        EXPECT_NE(found == JobWatch::Finding::ThreadNeverBegan, ran.load()) << "round " << round;
    }
}
