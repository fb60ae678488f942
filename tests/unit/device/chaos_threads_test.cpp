// The chaos library with the real threads: the watcher thread runs on its
// own while the "UI thread" clicks, hands the device over through the gate
// and starts job threads, for the same seeds as the single-threaded run.
// Under ThreadSanitizer this shows every value that passes between them is
// handed over properly, whatever the library answers and however long it
// takes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "device/device_record.h"
#include "device/device_watcher.h"
#include "device/firmware_check.h"
#include "device/upgrade_job.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"
#include "tests/unit/device/chaos_invariants.h"

namespace {

constexpr uint64_t kSeeds = 12;
constexpr int kClicksPerSeed = 12;

void SleepRealMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Sleeps for real, but shortly, so that the threads interleave.
class ShortClock : public fakes::FakeClock {
  public:
    void SleepMs(uint32_t ms) override {
        FakeClock::SleepMs(ms);
        SleepRealMs(ms == 0 ? 0 : 1);
    }
};

TEST(ChaosThreads, WatcherAndJobThreadsHandOverWhateverTheLibraryAnswers) {
    for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
        fakes::Bench b;
        ShortClock clock;
        Platform platform{b.profile, b.files, b.codec, clock};
        DeviceContext context{b.state, b.model, b.library, b.view, b.texts, platform, b.gate};
        fakes::ChaosAnswers &chaos = b.library.EnableChaos(seed);
        chaos.delay = [](uint32_t ms) { SleepRealMs(ms / 2); };
        fakes::FakeProcessRunner runner;
        fakes::FakeSystemInfo system;
        system.process64 = seed % 2 == 0;
        b.files.AddFile(b.state.g_programFolder + GetDriverFolder(system).folder +
                        kDriverInfFileName);
        b.state.g_settings.FIRMWARE = L"C:\\fw\\update.img";
        if (seed % 2 == 1) b.profile.ints[L"SYSTEM/ERASE_IDB"] = 1;
        const WorkerGate::Pump pump = [](uint32_t ms) { SleepRealMs(ms > 1 ? 1 : ms); };

        std::thread watcher([&] { DeviceWatchThread(context); });
        int jobs = 0;
        for (int click = 1; click <= kClicksPerSeed; ++click) {
            const std::string where =
                "seed " + std::to_string(seed) + " click " + std::to_string(click);
            SleepRealMs(3); // a few watcher cycles
            ProcessState &state = b.state;
            state.g_jobActive = 1;
            ASSERT_TRUE(b.gate.WaitForWatchIdle(pump, kWatchIdleWaitMs)) << where;
            // The watcher stands still: what it left can be checked.
            chaos::ExpectWindowFollowsTheSearch(b, where);
            if (state.g_findResult.load() <= 1 && state.g_deviceInfo.identity != 0 &&
                InspectFirmware(context, state.g_settings.FIRMWARE)) {
                b.view.EnableItem(IDC_UPGRADE, false);
                b.view.EnableItem(IDC_REPAIR, false);
                const size_t from = b.library.Calls().size();
                const size_t postsBefore = b.view.Of(fakes::RecordingView::Event::Post).size();
                const JobMode mode = click % 3 == 0 ? kModeRepair : kModeUpgrade;
                std::thread job([&] { UpgradeThread(context, runner, system, mode); });
                job.join();
                const auto posts = b.view.Of(fakes::RecordingView::Event::Post);
                ASSERT_EQ(posts.size(), postsBefore + 1) << where << ": one result per job";
                chaos::ExpectSuccessOnlyWhenEveryStepSucceeded(
                    b.library.Calls(), b.library.Results(), from, posts.back().value, where);
                ++jobs;
                b.view.SetItemText(IDC_DEVICE_NAME, L"");
                ClearDeviceInfo(state.g_deviceInfo);
            }
            state.g_jobActive = 0;
        }
        EXPECT_TRUE(b.gate.Close(pump, 5000));
        watcher.join();
        chaos::ExpectWindowFollowsTheSearch(b, "seed " + std::to_string(seed) + " at exit");
        EXPECT_GT(jobs, 0) << "seed " << seed;
        if (::testing::Test::HasFailure()) return;
    }
}

} // namespace
