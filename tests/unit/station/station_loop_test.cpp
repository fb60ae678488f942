// The station loop's states: waiting, the job, the device's return and
// removal, several devices, the time-out and Ctrl+C between and during jobs.
#include "station/station_loop.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "station/station_codes.h"

namespace {

class FakeActions : public IStationActions {
  public:
    std::deque<JobStart> starts; // answers in turn; Started when none is left
    int startCalls = 0;
    std::vector<StationNotice> notices;
    JobStart CheckAndStartJob() override {
        ++startCalls;
        if (starts.empty()) return JobStart::Started;
        const JobStart next = starts.front();
        starts.pop_front();
        return next;
    }
    void Notify(StationNotice notice) override { notices.push_back(notice); }
    int Count(StationNotice notice) const {
        int n = 0;
        for (StationNotice seen : notices)
            n += seen == notice ? 1 : 0;
        return n;
    }
};

// What the watcher has found, and the time, as the test moves them on.
struct World {
    FakeActions actions;
    StationObservation seen;
    StationLoop loop;
    World(bool stationLoop, uint64_t waitMs = 0, int count = 0)
        : loop(actions, stationLoop, waitMs, 0, count) {}

    void Tick(uint64_t advanceMs = 200) {
        seen.nowMs += advanceMs;
        loop.Tick(seen);
    }
    // The watcher finds one device and announces it.
    void DeviceAnnounced(const std::wstring &identity = L"SN0001") {
        seen.findResult = 1;
        seen.device = identity;
        ++seen.announcements;
        Tick();
    }
    void NoDevice() {
        seen.findResult = 0;
        seen.device.clear();
        Tick();
    }
    void SeveralDevices() {
        seen.findResult = 2;
        seen.device.clear();
        Tick();
    }
    void JobEnded(int code) { loop.JobEnded(code, seen); }
    // A device of the loop from plug-in to removal, its job taking jobMs.
    void Device(const std::wstring &identity, int code, uint64_t jobMs) {
        DeviceAnnounced(identity);
        seen.nowMs += jobMs;
        JobEnded(code);
        DeviceAnnounced(identity); // back after its restart
        NoDevice();                // taken away
    }
};

TEST(StationLoop, OneJobEndsWithTheJobsResultCode) {
    for (int code : {0, -1, -9, -17}) {
        World w(false);
        w.Tick();
        w.Tick();
        EXPECT_EQ(w.actions.startCalls, 0) << "no device, no job";
        w.DeviceAnnounced();
        EXPECT_EQ(w.loop.State(), StationState::JobRunning);
        w.JobEnded(code);
        EXPECT_TRUE(w.loop.Finished());
        EXPECT_EQ(w.loop.ExitCode(), code);
        EXPECT_EQ(w.actions.startCalls, 1);
    }
}

TEST(StationLoop, NoDeviceWithinTheWaitEndsWithItsOwnCode) {
    World w(false, 1000);
    for (int i = 0; i < 4; ++i)
        w.Tick(); // 800 ms
    EXPECT_FALSE(w.loop.Finished());
    w.Tick(); // 1000 ms
    EXPECT_TRUE(w.loop.Finished());
    EXPECT_EQ(w.loop.ExitCode(), station_exit::kNoDevice);
    EXPECT_EQ(w.actions.Count(StationNotice::NoDeviceInTime), 1);
}

TEST(StationLoop, SeveralDevicesAreRefusedOnceAndTheOneLeftIsTaken) {
    World w(true);
    w.actions.starts = {JobStart::SeveralDevices};
    w.seen.findResult = 2;
    for (int i = 0; i < 5; ++i)
        w.Tick();
    EXPECT_EQ(w.actions.startCalls, 1) << "the refusal comes once";
    EXPECT_EQ(w.loop.State(), StationState::SeveralDevices);

    w.seen.findResult = 1; // one pulled out; the other was the one held
    w.Tick();
    EXPECT_EQ(w.actions.startCalls, 1) << "its versions are read again first";
    w.Tick(kSettleAfterSeveralMs);
    EXPECT_EQ(w.actions.startCalls, 2);
    EXPECT_EQ(w.loop.State(), StationState::JobRunning);
}

TEST(StationLoop, SeveralDevicesAllPulledOutWaitsAgain) {
    World w(true);
    w.actions.starts = {JobStart::SeveralDevices};
    w.seen.findResult = 2;
    w.Tick();
    w.NoDevice();
    EXPECT_EQ(w.loop.State(), StationState::WaitingForDevice);
    w.DeviceAnnounced();
    EXPECT_EQ(w.loop.State(), StationState::JobRunning);
}

TEST(StationLoop, AfterAJobTheDeviceMustComeBackAndGoBeforeTheNext) {
    World w(true);
    w.DeviceAnnounced();
    w.JobEnded(0);
    EXPECT_EQ(w.loop.State(), StationState::WaitingForReturn);
    w.NoDevice(); // rebooting: not yet taken away
    EXPECT_EQ(w.loop.State(), StationState::WaitingForReturn);
    w.DeviceAnnounced(); // back with its new software
    EXPECT_EQ(w.loop.State(), StationState::WaitingForRemoval);
    EXPECT_EQ(w.actions.startCalls, 1) << "the same device is not written twice";
    EXPECT_EQ(w.actions.Count(StationNotice::RemoveDevice), 1);
    w.Tick();
    w.NoDevice();
    EXPECT_EQ(w.loop.State(), StationState::WaitingForDevice);
    EXPECT_EQ(w.actions.Count(StationNotice::WaitingForDevice), 1);
    w.DeviceAnnounced();
    EXPECT_EQ(w.actions.startCalls, 2);
    EXPECT_EQ(w.loop.JobsRun(), 2);
}

TEST(StationLoop, ADeviceThatDoesNotComeBackIsNotWaitedForLongerThanTheReturnWait) {
    World w(true);
    w.DeviceAnnounced();
    w.JobEnded(-8);
    w.seen.findResult = 0;
    w.Tick(kReturnAfterJobMs - 1);
    EXPECT_EQ(w.loop.State(), StationState::WaitingForReturn);
    w.Tick(1);
    EXPECT_EQ(w.loop.State(), StationState::WaitingForDevice);
}

TEST(StationLoop, ADeviceStillThereAfterTheReturnWaitMustBeRemoved) {
    World w(true);
    w.DeviceAnnounced();
    w.JobEnded(-8);
    w.seen.findResult = 1; // there, but never announced again
    w.seen.device = L"SN0001";
    w.Tick(kReturnAfterJobMs);
    EXPECT_EQ(w.loop.State(), StationState::WaitingForRemoval);
}

TEST(StationLoop, CtrlCBetweenJobsEndsAtOnce) {
    World w(true);
    w.DeviceAnnounced();
    w.JobEnded(0);
    w.DeviceAnnounced();
    w.seen.stopRequested = true;
    w.Tick();
    EXPECT_TRUE(w.loop.Finished());
    EXPECT_EQ(w.loop.ExitCode(), station_exit::kSuccess);
    EXPECT_EQ(w.actions.Count(StationNotice::Stopped), 1);
}

TEST(StationLoop, CtrlCDuringAJobWaitsForItsVerdict) {
    World w(true);
    w.DeviceAnnounced();
    w.seen.stopRequested = true;
    for (int i = 0; i < 5; ++i)
        w.Tick();
    EXPECT_EQ(w.loop.State(), StationState::JobRunning) << "never half-written";
    EXPECT_EQ(w.actions.Count(StationNotice::Finishing), 1);
    w.JobEnded(-9);
    EXPECT_TRUE(w.loop.Finished());
    EXPECT_EQ(w.loop.ExitCode(), station_exit::kSomeJobsFailed);
    EXPECT_EQ(w.actions.startCalls, 1);
}

TEST(StationLoop, CtrlCBeforeTheOneJobHasItsOwnCode) {
    World w(false);
    w.seen.stopRequested = true;
    w.Tick();
    EXPECT_TRUE(w.loop.Finished());
    EXPECT_EQ(w.loop.ExitCode(), station_exit::kStopped);
}

TEST(StationLoop, ARefusedDeviceEndsOneJobAndIsSkippedByTheStation) {
    World one(false);
    one.actions.starts = {JobStart::Refused};
    one.DeviceAnnounced();
    EXPECT_TRUE(one.loop.Finished());
    EXPECT_EQ(one.loop.ExitCode(), station_exit::kJobRefused);

    World station(true, 5000);
    station.actions.starts = {JobStart::Refused};
    station.DeviceAnnounced();
    EXPECT_EQ(station.loop.State(), StationState::WaitingForRemoval);
    station.DeviceAnnounced(); // announced again while it stays: not tried again
    EXPECT_EQ(station.actions.startCalls, 1);
    station.NoDevice();
    station.DeviceAnnounced();
    EXPECT_EQ(station.loop.State(), StationState::JobRunning);
    station.JobEnded(0);
    station.NoDevice();
    station.Tick(kReturnAfterJobMs);
    station.Tick(5000);
    EXPECT_TRUE(station.loop.Finished());
    EXPECT_EQ(station.loop.ExitCode(), station_exit::kSomeJobsFailed)
        << "a refused device was not done";
}

// A device already done (--skip-done) is neither a job nor a failure: one job
// ends as a pass, the station waits for it to be taken away and goes on.
TEST(StationLoop, ADeviceAlreadyDoneIsPassedOverAndCountsAsNoFailure) {
    World one(false);
    one.actions.starts = {JobStart::AlreadyDone};
    one.DeviceAnnounced();
    EXPECT_TRUE(one.loop.Finished());
    EXPECT_EQ(one.loop.ExitCode(), station_exit::kSuccess);

    World station(true, 5000);
    station.actions.starts = {JobStart::AlreadyDone};
    station.DeviceAnnounced();
    EXPECT_EQ(station.loop.State(), StationState::WaitingForRemoval);
    station.DeviceAnnounced(); // announced again while it stays: not tried again
    EXPECT_EQ(station.actions.startCalls, 1);
    station.NoDevice();
    station.Tick(5000);
    EXPECT_TRUE(station.loop.Finished());
    EXPECT_EQ(station.loop.ExitCode(), station_exit::kSuccess) << "not a device without a device";
    EXPECT_EQ(station.loop.DevicesAlreadyDone(), 1);
}

TEST(StationLoop, ALoopThatNeverSawADeviceEndsAsNoDevice) {
    World timedOut(true, 1000);
    timedOut.Tick(1000);
    EXPECT_TRUE(timedOut.loop.Finished());
    EXPECT_EQ(timedOut.loop.ExitCode(), station_exit::kNoDevice);

    World stopped(true);
    stopped.Tick();
    stopped.seen.stopRequested = true;
    stopped.Tick();
    EXPECT_TRUE(stopped.loop.Finished());
    EXPECT_EQ(stopped.loop.ExitCode(), station_exit::kNoDevice);
}

// A device is the same device when the library reports the same identity
// (its serial number; a device without one by its path and location). Each
// row is a course of the watcher's findings after one job on SN0001, and the
// devices that got a job in it.
struct IdentityCase {
    const char *name;
    std::vector<std::pair<uint64_t, std::wstring>> course; // after ms: shown ("" none, "*" several)
    std::vector<std::wstring> jobs;                        // every device that got a job, in order
    int32_t code = 0;                                      // every job's result code
};

TEST(StationLoop, TheSameDeviceIsNeverWrittenTwiceAndAnyOtherAtOnce) {
    const std::wstring noSerial = L"path:\\\\?\\usb#vid_2207@7";
    const std::vector<IdentityCase> cases = {
        {"the same serial back after 14 s",
         {{200, L""}, {14000, L"SN0001"}, {200, L"SN0001"}, {200, L""}, {200, L"SN0001"}},
         {L"SN0001", L"SN0001"}},
        {"another serial within the minute",
         {{200, L""}, {5000, L"SN0002"}},
         {L"SN0001", L"SN0002"}},
        {"another plugged in before the first is taken away",
         {{200, L""}, {14000, L"SN0001"}, {200, L"*"}, {200, L"SN0002"}},
         {L"SN0001", L"SN0002"}},
        {"two devices, then one of them: the one done stays done",
         {{200, L"*"}, {200, L"SN0001"}, {400, L"SN0001"}, {200, L""}, {200, L"SN0001"}},
         {L"SN0001", L"SN0001"}},
        {"two others in turn while it reboots, then back: still done",
         {{200, L""}, {5000, L"SN0002"}, {200, L"SN0003"}, {200, L""}, {200, L"SN0001"}},
         {L"SN0001", L"SN0002", L"SN0003"}},
        {"two devices, then the other one",
         {{200, L"*"}, {200, L"SN0002"}, {400, L"SN0002"}},
         {L"SN0001", L"SN0002"}},
        {"back only after the minute: still to be taken away",
         {{200, L""}, {kReturnAfterJobMs + 5000, L""}, {200, L"SN0001"}, {200, L"SN0001"}},
         {L"SN0001"}},
        {"a device without a serial, back after 14 s",
         {{200, L""}, {14000, noSerial}, {200, noSerial}},
         {noSerial}},
        // A failed job's verdict tells the user to connect the device again
        // and start again.
        {"failed, back within the minute: still to be taken away",
         {{200, L""}, {14000, L"SN0001"}, {200, L"SN0001"}},
         {L"SN0001"},
         -9},
        {"failed, taken away unseen, plugged in again after another device",
         {{200, L""}, {5000, L"SN0002"}, {200, L""}, {kReturnAfterJobMs, L""}, {200, L"SN0001"}},
         {L"SN0001", L"SN0002", L"SN0001"},
         -9},
        {"failed, taken away unseen, plugged in again within the other one's minute",
         {{200, L""}, {5000, L"SN0002"}, {200, L""}, {200, L"SN0001"}},
         {L"SN0001", L"SN0002", L"SN0001"},
         -9},
        {"failed, plugged in again only after the minute",
         {{200, L""}, {kReturnAfterJobMs + 5000, L""}, {200, L"SN0001"}},
         {L"SN0001", L"SN0001"},
         -9},
    };
    for (const IdentityCase &c : cases) {
        World w(true);
        std::vector<std::wstring> jobs;
        auto jobDevice = [&] { jobs.push_back(w.seen.device); };
        const std::wstring first = c.jobs.front();
        w.DeviceAnnounced(first);
        jobDevice();
        w.JobEnded(c.code);
        int32_t lastFind = 1;
        for (const auto &step : c.course) {
            const int startsBefore = w.actions.startCalls;
            w.seen.findResult = step.second.empty() ? 0 : step.second == L"*" ? 2 : 1;
            const bool changed = step.second != w.seen.device && w.seen.findResult == 1;
            w.seen.device = w.seen.findResult == 1 ? step.second : L"";
            // The watcher announces a device when it is new to it, and again
            // after several devices.
            if (changed || (w.seen.findResult == 1 && lastFind >= 2)) ++w.seen.announcements;
            lastFind = w.seen.findResult;
            // The checks refuse several devices and pass one.
            w.actions.starts.clear();
            if (w.seen.findResult >= 2) w.actions.starts = {JobStart::SeveralDevices};
            w.Tick(step.first);
            if (w.actions.startCalls > startsBefore && w.loop.State() == StationState::JobRunning) {
                jobDevice();
                w.JobEnded(c.code);
            }
        }
        EXPECT_EQ(jobs, c.jobs) << c.name;
    }
}

TEST(StationLoop, ADeviceGoneBeforeTheChecksIsWaitedForQuietly) {
    World w(false);
    w.actions.starts = {JobStart::NoDevice};
    w.DeviceAnnounced();
    EXPECT_EQ(w.loop.State(), StationState::WaitingForDevice);
    w.Tick();
    EXPECT_EQ(w.actions.startCalls, 1) << "only a new announcement is tried";
    w.DeviceAnnounced();
    EXPECT_EQ(w.actions.startCalls, 2);
}

TEST(StationLoop, AClickGivenUpForABusyWatcherIsTriedAgain) {
    World w(false);
    w.actions.starts = {JobStart::Busy};
    w.DeviceAnnounced();
    EXPECT_EQ(w.loop.State(), StationState::WaitingForDevice);
    EXPECT_FALSE(w.loop.Finished());
    w.Tick();
    EXPECT_EQ(w.actions.startCalls, 2);
    EXPECT_EQ(w.loop.State(), StationState::JobRunning);
}

TEST(StationLoop, TheStationEndsWithItsOwnCodeWhenAJobFailed) {
    World w(true, 5000);
    w.DeviceAnnounced();
    w.JobEnded(0);
    w.NoDevice();
    w.Tick(kReturnAfterJobMs);
    w.DeviceAnnounced(L"SN0002");
    w.JobEnded(-3);
    w.NoDevice();
    w.Tick(kReturnAfterJobMs);
    EXPECT_EQ(w.loop.State(), StationState::WaitingForDevice);
    w.Tick(5000); // the wait for a next device is over
    EXPECT_TRUE(w.loop.Finished());
    EXPECT_EQ(w.loop.ExitCode(), station_exit::kSomeJobsFailed);
    EXPECT_EQ(w.loop.JobsFailed(), 1);
}

} // namespace

namespace {

TEST(StationLoop, TheVerdictLineBeginsWithItsOutcomeThenTheDeviceAndItsVersions) {
    struct Row {
        VerdictLineParts parts;
        const wchar_t *line;
    };
    const Row rows[] = {
        {{0, L"A0001", L"1.0.0", L"1.2.3", L"Done."}, L"PASS  A0001  1.0.0 -> 1.2.3  Done."},
        {{-9, L"A0002", L"1.0.0", L"1.2.3", L"Not written."},
         L"FAIL -9  A0002  1.0.0 -> 1.2.3  Not written."},
        // A device found in loader mode has no version read before the job.
        {{-3, L"A0003", L"", L"1.2.3", L"No."}, L"FAIL -3  A0003  ? -> 1.2.3  No."},
        // No serial: the device's name stands in.
        {{0, L"QV70 Tablet", L"1.0.0", L"N/A", L"Done."},
         L"PASS  QV70 Tablet  1.0.0 -> N/A  Done."},
    };
    for (const Row &row : rows)
        EXPECT_EQ(VerdictLine(row.parts, L"PASS", L"FAIL %s"), row.line);
}

TEST(StationLoop, TheFiguresOfARunFromItsCycles) {
    constexpr uint64_t kSecond = 1000;
    struct Cycle {
        const wchar_t *device;
        int32_t code;
        uint64_t startS, endS;
    };
    struct Row {
        std::vector<Cycle> cycles;
        int passed, failed;
        double yield;
        uint64_t medianS, slowestS;
        double perHour;
        uint64_t toGoS; // of a count of 10
    };
    const Row rows[] = {
        // Nothing yet: no pace, no yield.
        {{}, 0, 0, -1, 0, 0, 0, 0},
        // Three devices, one a minute, back to back.
        {{{L"A", 0, 0, 60}, {L"B", 0, 60, 120}, {L"C", 0, 120, 180}}, 3, 0, 100, 60, 60, 60, 420},
        // A failure, and the same device again: it passes, but not first time.
        {{{L"A", 0, 0, 30}, {L"B", -9, 30, 90}, {L"B", 0, 90, 110}}, 2, 1, 50, 30, 60, 98.2, 293},
        // The pace counts the time between devices too.
        {{{L"A", 0, 0, 30}, {L"B", 0, 90, 120}}, 2, 0, 100, 30, 30, 60, 480},
    };
    for (const Row &row : rows) {
        StationTally tally;
        for (const Cycle &cycle : row.cycles) {
            tally.CycleStarted(cycle.device, cycle.startS * kSecond);
            tally.JobEnded(cycle.code);
            tally.CycleEnded(cycle.endS * kSecond);
        }
        EXPECT_EQ(tally.Passed(), row.passed);
        EXPECT_EQ(tally.Failed(), row.failed);
        EXPECT_NEAR(tally.FirstPassYieldPercent(), row.yield, 0.1);
        EXPECT_EQ(tally.MedianCycleMs(), row.medianS * kSecond);
        EXPECT_EQ(tally.SlowestCycleMs(), row.slowestS * kSecond);
        EXPECT_NEAR(tally.PerHour(), row.perHour, 0.1);
        EXPECT_NEAR(static_cast<double>(tally.ToGoMs(10)), row.toGoS * kSecond, kSecond);
    }
}

TEST(StationLoop, ThePaceIsThatOfTheLastTenCycles) {
    StationTally tally;
    constexpr uint64_t kSlowMs = 600000;
    constexpr uint64_t kQuickMs = 60000;
    uint64_t now = 0;
    // Two slow devices long ago, then ten at a minute each.
    for (uint64_t length : {kSlowMs, kSlowMs}) {
        tally.CycleStarted(L"slow", now);
        tally.JobEnded(0);
        tally.CycleEnded(now += length);
    }
    for (int n = 0; n < 10; ++n) {
        tally.CycleStarted(L"quick", now);
        tally.JobEnded(0);
        tally.CycleEnded(now += kQuickMs);
    }
    EXPECT_NEAR(tally.PerHour(), 60, 0.1);
    EXPECT_EQ(tally.SlowestCycleMs(), kSlowMs);
}

TEST(StationLoop, FailuresAreCountedByTheirResultCode) {
    EXPECT_EQ(FormatFailures(0, {}), L"0");
    EXPECT_EQ(FormatFailures(3, {{-9, 2}, {-3, 1}}), L"3 (-9: 2, -3: 1)");
    EXPECT_EQ(FormatDuration(3909000), L"1:05:09");
    EXPECT_EQ(FormatTenths(98.25), L"98.3");
}

TEST(StationLoop, ACountEndsTheLoopOnceThatManyDevicesPassedAndTheLastWasTakenAway) {
    struct Row {
        std::vector<int> codes;
        int exitCode;
    };
    const Row rows[] = {{{0, 0, 0}, station_exit::kSuccess},
                        {{0, -9, 0, 0}, station_exit::kSomeJobsFailed}};
    for (const Row &row : rows) {
        World w(true, 0, 3);
        int n = 0;
        for (int code : row.codes) {
            EXPECT_FALSE(w.loop.Finished());
            w.Device(L"D" + std::to_wstring(++n), code, 5000);
        }
        EXPECT_TRUE(w.loop.Finished());
        EXPECT_EQ(w.loop.ExitCode(), row.exitCode);
        EXPECT_EQ(w.loop.JobsRun(), static_cast<int>(row.codes.size()));
        EXPECT_EQ(w.actions.Count(StationNotice::Progress), static_cast<int>(row.codes.size()));
        EXPECT_EQ(w.actions.Count(StationNotice::Summary), 1);
        EXPECT_EQ(w.loop.Tally().Passed(), 3);
    }
}

TEST(StationLoop, EveryEndOfTheLoopHasItsSummary) {
    World stopped(true);
    stopped.Device(L"D1", 0, 5000);
    stopped.seen.stopRequested = true;
    stopped.Tick();
    World waited(true, 10000);
    waited.Device(L"D1", -9, 5000);
    for (int i = 0; i < 60 && !waited.loop.Finished(); ++i)
        waited.Tick();
    for (World *w : {&stopped, &waited}) {
        EXPECT_TRUE(w->loop.Finished());
        EXPECT_EQ(w->actions.Count(StationNotice::Summary), 1);
    }
    World one(false);
    one.DeviceAnnounced();
    one.JobEnded(0);
    EXPECT_EQ(one.actions.Count(StationNotice::Summary), 0) << "one job has its verdict alone";
}

TEST(StationLoop, SeveralDevicesForTheWholeWaitEndWithTheirOwnCode) {
    for (bool stationLoop : {false, true}) {
        World w(stationLoop, 2000);
        w.actions.starts = {JobStart::SeveralDevices}; // the window's refusal
        for (int i = 0; i < 20 && !w.loop.Finished(); ++i)
            w.SeveralDevices();
        EXPECT_TRUE(w.loop.Finished());
        EXPECT_EQ(w.loop.ExitCode(), station_exit::kSeveralStayed);
        EXPECT_EQ(w.actions.Count(StationNotice::SeveralStayed), 1);
        EXPECT_EQ(w.actions.Count(StationNotice::NoDeviceInTime), 0);
    }
}

} // namespace
