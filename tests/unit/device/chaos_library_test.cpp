// The device library in chaos mode: thousands of watcher cycles, inspections
// and jobs, each seed replayable, under the sanitizers of the build.
#include <gtest/gtest.h>

#include <string>

#include "device/device_record.h"
#include "device/device_watcher.h"
#include "device/firmware_check.h"
#include "device/upgrade_job.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"
#include "tests/unit/device/chaos_invariants.h"

namespace {

constexpr uint64_t kSeeds = 300;
constexpr int kCyclesPerSeed = 60;
constexpr int kCyclesBetweenClicks = 4;

struct ChaosRun {
    fakes::Bench b;
    fakes::FakeProcessRunner runner;
    fakes::FakeSystemInfo system;
    DEVICE_INFO working{};
    int jobs = 0;

    explicit ChaosRun(uint64_t seed) {
        b.library.EnableChaos(seed);
        b.state.g_settings.FIRMWARE = L"C:\\fw\\update.img";
        b.state.g_settings.PARTITION = L"12:3";
        // A repair erases the IDB area for some seeds.
        if (seed % 4 == 1) b.profile.ints[L"SYSTEM/ERASE_IDB"] = 1;
        // Half the seeds install the driver through the library, half through
        // the installer program; the driver file is there for some.
        system.process64 = seed % 2 == 0;
        if (seed % 3 != 0) {
            b.files.AddFile(b.state.g_programFolder + GetDriverFolder(system).folder +
                            kDriverInfFileName);
        }
    }

    // What a click on Upgrade or Repair leads to, when the window would let
    // it start a job at all. The window's own part (the buttons off while
    // the job runs, the device forgotten at its result) is done as the
    // commands do it.
    void Click(JobMode mode, const std::string &where) {
        ProcessState &state = b.state;
        if (state.g_findResult.load() > 1 || state.g_deviceInfo.identity == 0) return;
        state.g_jobActive = 1;
        const size_t inspectionFrom = b.library.Calls().size();
        const bool accepted = InspectFirmware(b.context, state.g_settings.FIRMWARE);
        chaos::ExpectImageAcceptedOnlyWhenReadWhole(b.library.Calls(), b.library.Results(),
                                                    inspectionFrom, accepted, where);
        for (int id : {IDC_IMAGE_SW_VERSION, IDC_IMAGE_LOADER_VERSION})
            EXPECT_LE(b.view.Shown(id).size(), 16u) << where;
        if (!accepted) {
            state.g_jobActive = 0; // refused: the window stays as it was
            return;
        }
        b.view.EnableItem(IDC_UPGRADE, false);
        b.view.EnableItem(IDC_REPAIR, false);
        const size_t from = b.library.Calls().size();
        const size_t postsBefore = b.view.Of(fakes::RecordingView::Event::Post).size();
        UpgradeThread(b.context, runner, system, mode);
        const auto posts = b.view.Of(fakes::RecordingView::Event::Post);
        ASSERT_EQ(posts.size(), postsBefore + 1) << where << ": one result per job";
        chaos::ExpectSuccessOnlyWhenEveryStepSucceeded(b.library.Calls(), b.library.Results(), from,
                                                       posts.back().value, where);
        ++jobs;
        b.view.SetItemText(IDC_DEVICE_NAME, L"");
        ClearDeviceInfo(state.g_deviceInfo);
        state.g_jobActive = 0;
    }
};

TEST(ChaosLibrary, WatcherAndJobsHoldTheirPromisesWhateverTheLibraryAnswers) {
    int totalJobs = 0;
    for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
        ChaosRun run(seed);
        for (int cycle = 1; cycle <= kCyclesPerSeed; ++cycle) {
            const std::string where =
                "seed " + std::to_string(seed) + " cycle " + std::to_string(cycle);
            RunWatchCycle(run.b.context, run.working);
            chaos::ExpectWindowFollowsTheSearch(run.b, where);
            if (cycle % kCyclesBetweenClicks == 0)
                run.Click((cycle / kCyclesBetweenClicks) % 2 ? kModeRepair : kModeUpgrade, where);
            if (::testing::Test::HasFailure()) return; // one seed's story is enough
        }
        totalJobs += run.jobs;
    }
    // The answers are varied enough that many clicks become jobs.
    EXPECT_GT(totalJobs, static_cast<int>(kSeeds));
    RecordProperty("jobs", totalJobs);
}

TEST(ChaosLibrary, TheSameSeedTellsTheSameStory) {
    std::vector<std::string> first;
    for (int round = 0; round < 2; ++round) {
        ChaosRun run(7);
        for (int cycle = 1; cycle <= 30; ++cycle) {
            RunWatchCycle(run.b.context, run.working);
            if (cycle % 5 == 0) run.Click(kModeUpgrade, "replay");
        }
        if (round == 0)
            first = run.b.library.Calls();
        else
            EXPECT_EQ(run.b.library.Calls(), first);
    }
}

} // namespace
