// A leak fails here, not after a day at a technician's bench: the real
// program runs ten jobs of the kinds that touch the most (a question
// answered No, the driver installer started, the library's questions, a
// failed download, a device pulled out during the download), five to warm
// up and the same five again, and the second five may not leave the process
// holding more than the first did.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/e2e/soak_run_win.h"

namespace {

using namespace e2e;

// Jobs of the soak sequence (see SoakRun): the same five kinds from two
// blocks.
const int kWarmUpJobs[] = {0, 2, 3, 7, 8};
const int kMeasuredJobs[] = {10, 12, 13, 17, 18};

// What the second five may add: the thread of the last job is let go only
// at the next start, so a handle or a thread either way is no leak; a
// leaking job adds at least one handle each time, five in all.
constexpr long kHandleRoom = 2;
constexpr long kGuiObjectRoom = 2;
constexpr long kThreadRoom = 1;
constexpr double kPrivateRoomKiB = 512;

long Growth(DWORD after, DWORD before) {
    return static_cast<long>(after) - static_cast<long>(before);
}

TEST(EndToEndSoak, TenJobsLeaveNothingBehind) {
    ProgramRun run("soak");
    run.Bench().UpdateSettings([](qvsim::BenchSettings &s) {
        s.waitIntervalMs = 10;
        s.downloadBytesPerSecond = 0;
    });
    ASSERT_TRUE(run.Start());
    const DWORD processId = GetProcessId(run.Process());
    SoakRun soak(run);

    const ResourceSample start = SampleResources(run.Process(), processId, 0);
    for (int n : kWarmUpJobs)
        ASSERT_TRUE(soak.RunJob(n)) << soak.CaseName(n);
    Sleep(500);
    const ResourceSample warm = SampleResources(run.Process(), processId, 5);
    for (int n : kMeasuredJobs)
        ASSERT_TRUE(soak.RunJob(n)) << soak.CaseName(n);
    Sleep(500);
    const ResourceSample last = SampleResources(run.Process(), processId, 10);
    std::printf("%s\n%s\n%s\n", Describe(start).c_str(), Describe(warm, &start).c_str(),
                Describe(last, &warm).c_str());

    ASSERT_NE(warm.handles, 0u) << "no handle count on this system";
    EXPECT_LE(Growth(last.handles, warm.handles), kHandleRoom);
    EXPECT_LE(Growth(last.gdiObjects, warm.gdiObjects), kGuiObjectRoom);
    EXPECT_LE(Growth(last.userObjects, warm.userObjects), kGuiObjectRoom);
    EXPECT_LE(Growth(last.windows, warm.windows), 0);
    EXPECT_LE(Growth(last.threads, warm.threads), kThreadRoom);
    EXPECT_LE((static_cast<double>(last.privateBytes) - warm.privateBytes) / 1024.0,
              kPrivateRoomKiB);
    run.ExitThroughButton();
}

} // namespace
