// Figures of the real program on the unthrottled bench (run by hand, not a
// test):
//   - an upgrade of a 64 MiB image onto a mass-storage device, from the Yes
//     to the final question to the verdict box, against the 3 s of waiting
//     the job itself prescribes (2 s before the switch, 1 s after the reset);
//     the goal is at most 0.3 s over;
//   - the program's working set during the job (sampled) and its peak;
//   - the idle program while it watches: CPU over 10 s (goal under 0.2 % of
//     one core) and working set (goal under 16 MiB).
//
//   e2e_upgrade_bench [--runs N] [--image-mib M]
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "sim/image_format.h"
#include "tests/e2e/program_run_win.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

int g_runs = 3;
uint64_t g_imageMiB = 64;

constexpr double kPrescribedWaitS = 3.0;

double MiB(SIZE_T bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

PROCESS_MEMORY_COUNTERS Memory(HANDLE process) {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(process, &memory, sizeof(memory));
    return memory;
}

double CpuSeconds(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return -1;
    auto seconds = [](const FILETIME &t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

// The working set of the smallest GUI program (ui_baseline.exe of the UI
// benchmarks, beside this one), idle: what any window program costs here.
SIZE_T BaselineWorkingSet() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring commandLine = path;
    commandLine =
        L"\"" + commandLine.substr(0, commandLine.find_last_of(L'\\') + 1) + L"ui_baseline.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 0;
    Sleep(3000);
    const SIZE_T bytes = Memory(process.hProcess).WorkingSetSize;
    TerminateProcess(process.hProcess, 0); // it holds nothing
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return bytes;
}

// An image of the given size in all: header, a small loader, the payload.
bool MakeImage(const std::wstring &path, uint64_t totalBytes) {
    qvsim::ImageContents setup;
    setup.loaderBody.assign(4096, 0x5A);
    const uint64_t loaderSection = qvsim::kLoaderHeaderSize + setup.loaderBody.size();
    setup.systemLength = totalBytes - qvsim::kImageHeaderSize - loaderSection;
    std::string error;
    return qvsim::WriteImage(std::filesystem::path(path), setup, error);
}

TEST(Figures, UpgradeOfALargeImageAndTheIdleProgram) {
    ProgramRun run("bench-upgrade");
    qvsim::Bench &bench = run.Bench();
    bench.UpdateSettings([](qvsim::BenchSettings &s) {
        s.switchDelayMs = 0;
        s.resetDelayMs = 0;
        s.upgradeMs = 0;
        s.eraseMs = 0;
        s.waitIntervalMs = 10;
        s.downloadBytesPerSecond = 0;
    });
    const std::wstring image = run.Folder() + L"large.img";
    ASSERT_TRUE(MakeImage(image, g_imageMiB << 20));
    run.SetSystemSetting(L"FIRMWARE", image);
    ASSERT_TRUE(run.Start());
    UiRobot &robot = run.Robot();
    HANDLE process = run.Process();
    ASSERT_NE(bench.Plug({}), 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(10000)));

    // Idle: the watcher polls, nothing else happens.
    Sleep(2000);
    const PROCESS_MEMORY_COUNTERS idle = Memory(process);
    const double cpuBefore = CpuSeconds(process);
    const auto idleStart = Clock::now();
    Sleep(10000);
    const double idleCpu = CpuSeconds(process) - cpuBefore;
    const double idleWall = std::chrono::duration<double>(Clock::now() - idleStart).count();

    std::vector<double> totals;
    SIZE_T jobWorkingSet = 0;
    for (int i = 0; i < g_runs; ++i) {
        ASSERT_TRUE(run.WaitForDevice(milliseconds(10000)));
        robot.Click(IDC_UPGRADE);
        MessageBoxInfo question;
        ASSERT_TRUE(robot.WaitForMessageBox(question, milliseconds(10000)));
        ASSERT_EQ(question.text, run.Text(L"IDS_88"));

        std::atomic<bool> sampling{true};
        std::thread sampler([&] {
            while (sampling) {
                jobWorkingSet = std::max(jobWorkingSet, Memory(process).WorkingSetSize);
                Sleep(5);
            }
        });
        const auto yes = Clock::now();
        robot.Answer(question, IDYES);
        MessageBoxInfo verdict;
        const bool shown = robot.WaitForMessageBox(verdict, milliseconds(60000));
        const double total = std::chrono::duration<double>(Clock::now() - yes).count();
        sampling = false;
        sampler.join();
        ASSERT_TRUE(shown);
        EXPECT_EQ(verdict.text, run.Text(L"IDS_21"));
        robot.Answer(verdict, IDOK);
        totals.push_back(total);
        std::printf("upgrade %d: %.3f s from Yes to verdict (%+.3f s over the %.0f s of waits)\n",
                    i + 1, total, total - kPrescribedWaitS, kPrescribedWaitS);
    }
    const PROCESS_MEMORY_COUNTERS after = Memory(process);
    const double cpuAll = CpuSeconds(process);
    EXPECT_EQ(ReadAll(bench.StoragePath(1)).size(), SystemPayload(image).size());

    std::sort(totals.begin(), totals.end());
    const double median = totals[totals.size() / 2];
    std::printf("\n%llu MiB image, %d upgrades on the unthrottled bench\n",
                static_cast<unsigned long long>(g_imageMiB), g_runs);
    std::printf(
        "  Yes to verdict, median:   %.3f s  (%.3f s over the prescribed %.0f s; goal 0.3 s)\n",
        median, median - kPrescribedWaitS, kPrescribedWaitS);
    std::printf("  working set during jobs:  %.1f MiB (sampled every 5 ms)\n", MiB(jobWorkingSet));
    std::printf("  peak working set:         %.1f MiB (whole run, start-up inspection included)\n",
                MiB(after.PeakWorkingSetSize));
    std::printf("  idle working set:         %.1f MiB (goal under 16 MiB)\n",
                MiB(idle.WorkingSetSize));
    const SIZE_T baseline = BaselineWorkingSet();
    if (baseline != 0)
        std::printf(
            "    smallest GUI program:   %.1f MiB, so the program's own share is %.1f MiB\n",
            MiB(baseline), MiB(idle.WorkingSetSize) - MiB(baseline));
    std::printf("  CPU time of the whole run: %.3f s\n", cpuAll);
    std::printf(
        "  idle CPU while watching:  %.3f %% of one core (%.3f s over %.1f s; goal under 0.2 %%)\n",
        idleCpu >= 0 ? 100.0 * idleCpu / idleWall : -1.0, idleCpu, idleWall);
    run.ExitThroughButton();
}

} // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            g_runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--image-mib") == 0)
            g_imageMiB = static_cast<uint64_t>(std::max(1, std::atoi(argv[++i])));
    }
    return RUN_ALL_TESTS();
}
