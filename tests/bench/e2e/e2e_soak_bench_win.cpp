// A long run of the real program (run by hand, not a test): a hundred jobs
// of every kind on the unthrottled bench in one run, and what the process
// holds at the start and after every ten: kernel handles, GDI and USER
// objects, windows, threads, working set and private bytes. The goal is no
// growth after the first ten jobs' warm-up.
//
//   e2e_soak_bench [--jobs N] [--no-hang]
// --no-hang leaves out the driver installer that hangs (half a minute each
// time it comes round).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/e2e/soak_run_win.h"

namespace {

using namespace e2e;

int g_jobs = 100;
bool g_withHang = true;

TEST(Figures, AHundredJobsInOneRun) {
    ProgramRun run("bench-soak");
    run.Bench().UpdateSettings([](qvsim::BenchSettings &s) {
        s.switchDelayMs = 0;
        s.resetDelayMs = 0;
        s.upgradeMs = 0;
        s.eraseMs = 0;
        s.waitIntervalMs = 10;
        s.downloadBytesPerSecond = 0;
    });
    ASSERT_TRUE(run.Start());
    const DWORD processId = GetProcessId(run.Process());
    SoakRun soak(run, g_withHang);

    std::vector<ResourceSample> samples = {SampleResources(run.Process(), processId, 0)};
    std::printf("%s\n", Describe(samples.back()).c_str());
    int failed = 0;
    const auto started = std::chrono::steady_clock::now();
    auto blockStart = started;
    for (int n = 0; n < g_jobs; ++n) {
        if (!soak.RunJob(n)) ++failed;
        if ((n + 1) % SoakRun::kBlock == 0 || n + 1 == g_jobs) {
            Sleep(500); // let the watcher settle after the last verdict
            samples.push_back(SampleResources(run.Process(), processId, n + 1));
            const auto now = std::chrono::steady_clock::now();
            std::printf("%s  %.1f s\n",
                        Describe(samples.back(), &samples[samples.size() - 2]).c_str(),
                        std::chrono::duration<double>(now - blockStart).count());
            std::fflush(stdout);
            blockStart = now;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // Growth from the end of the warm-up (the first block) to the end.
    if (samples.size() > 2) {
        const ResourceSample &warm = samples[1];
        const ResourceSample &last = samples.back();
        const double jobs = last.jobs - warm.jobs;
        std::printf("\n%d jobs in %.0f s (%.1f s a job), %d not as expected\n", g_jobs, seconds,
                    seconds / g_jobs, failed);
        std::printf("after the warm-up of %d jobs, per job: %+.3f handles, %+.3f GDI, %+.3f USER, "
                    "%+.3f windows, %+.3f threads, %+.1f KiB working set, %+.1f KiB private\n",
                    warm.jobs, (static_cast<double>(last.handles) - warm.handles) / jobs,
                    (static_cast<double>(last.gdiObjects) - warm.gdiObjects) / jobs,
                    (static_cast<double>(last.userObjects) - warm.userObjects) / jobs,
                    (static_cast<double>(last.windows) - warm.windows) / jobs,
                    (static_cast<double>(last.threads) - warm.threads) / jobs,
                    (static_cast<double>(last.workingSet) - warm.workingSet) / 1024.0 / jobs,
                    (static_cast<double>(last.privateBytes) - warm.privateBytes) / 1024.0 / jobs);
        ResourceSample highest = warm;
        for (size_t i = 1; i < samples.size(); ++i) {
            highest.handles = std::max(highest.handles, samples[i].handles);
            highest.privateBytes = std::max(highest.privateBytes, samples[i].privateBytes);
        }
        std::printf("highest after the warm-up: %lu handles, %.2f MiB private\n", highest.handles,
                    highest.privateBytes / 1048576.0);
    }
    EXPECT_EQ(failed, 0);
    run.ExitThroughButton();
}

} // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc)
            g_jobs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--no-hang") == 0)
            g_withHang = false;
    }
    return RUN_ALL_TESTS();
}
