// The window starts a thread for every job. A long run must not keep what
// the ended ones held, and a new start must never wait for a running one.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/e2e/soak_run_win.h"
#include "ui/worker_threads_win.h"

namespace {

DWORD Handles() {
    return e2e::SampleResources(GetCurrentProcess(), GetCurrentProcessId(), 0).handles;
}

void RunOne(WorkerThreads &workers) {
    std::atomic<bool> ran{false};
    ASSERT_TRUE(workers.Start([&] { ran = true; }));
    while (!ran)
        Sleep(1);
}

TEST(WorkerThreads, EndedThreadsKeepNoHandles) {
    WorkerThreads workers;
    for (int i = 0; i < 5; ++i)
        RunOne(workers);
    Handles(); // the first count may open what later ones reuse
    const DWORD before = Handles();
    ASSERT_NE(before, 0u) << "no handle count on this system";
    for (int i = 0; i < 50; ++i)
        RunOne(workers);
    Sleep(50);
    // The last thread is let go at the next start; a little room for that.
    EXPECT_LE(Handles(), before + 3) << "50 threads started and ended";
    EXPECT_TRUE(workers.WaitAll(2000));
}

TEST(WorkerThreads, AStartDoesNotWaitForARunningThread) {
    WorkerThreads workers;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(workers.Start([release] { WaitForSingleObject(release, 10000); }));
    const auto started = std::chrono::steady_clock::now();
    RunOne(workers);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    SetEvent(release);
    EXPECT_TRUE(workers.WaitAll(5000));
    CloseHandle(release);
}

} // namespace
