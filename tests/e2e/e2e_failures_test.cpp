// Every failure that the simulated library and the driver installer can cause
// ends the job with its own verdict: its text, the suffix where it belongs,
// the caption of the command and the error icon. After each verdict the
// window is out of Job running and the device is announced again.
#include <gtest/gtest.h>

#include <functional>

#include "res/resource.h"
#include "tests/e2e/program_run_win.h"

namespace {

using namespace e2e;
using qvsim::Fault;

struct FailureCase {
    int code;
    int button;
    const char *name;
    // Puts the bench (and the program folder) into the failing state.
    std::function<void(ProgramRun &)> arrange;
    // Undoes what arrange did to the program folder.
    std::function<void(ProgramRun &)> restore;
};

void SetFault(ProgramRun &run, Fault fault, int value = 0) {
    ASSERT_TRUE(run.Bench().SetFault(fault, value));
}

// Runs the cases one after another in one program run, each on a freshly
// plugged device of the kind given.
void RunCases(ProgramRun &run, int kind, const std::vector<FailureCase> &cases) {
    UiRobot &robot = run.Robot();
    qvsim::DeviceSetup setup;
    setup.id = 7;
    setup.kind = kind;
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        run.Bench().ClearFaults();
        ASSERT_NE(run.Bench().Plug(setup), 0); // replaces whatever the last job left
        ASSERT_TRUE(run.WaitForDevice(milliseconds(5000), kind == 4)) << c.name;
        c.arrange(run);
        ASSERT_TRUE(run.StartJob(c.button, std::string(c.name) + "-question"));
        run.ExpectFailure(c.button, c.code, std::string(c.name) + "-verdict",
                          milliseconds(c.code == -17 ? 60000 : 20000));
        if (c.restore) c.restore(run);
        // The job's traces are gone and the window takes commands again.
        EXPECT_TRUE(
            UiRobot::WaitUntil([&] { return robot.Enabled(IDC_BROWSE); }, milliseconds(2000)));
        EXPECT_EQ(robot.Text(IDC_ELAPSED_TIME), L"");
    }
    run.Bench().ClearFaults();
}

bool Rename(ProgramRun &run, const wchar_t *from, const wchar_t *to) {
    return MoveFileW((run.Folder() + from).c_str(), (run.Folder() + to).c_str()) != 0;
}

// A device already in its loader mode needs no switch: the failures of the
// writing steps come without the job's two seconds before the switch.
TEST(EndToEndFailures, WritingStepsReportTheirOwnVerdicts) {
    ProgramRun run("failures-writing");
    ASSERT_TRUE(run.Start());
    const std::vector<FailureCase> cases = {
        {-3,
         IDC_UPGRADE,
         "upgrade-refused",
         [](ProgramRun &r) { SetFault(r, Fault::UpgradeResult, -4); },
         {}},
        {-4,
         IDC_REPAIR,
         "upgrade-not-started",
         [](ProgramRun &r) { SetFault(r, Fault::UpgradeResult, -1); },
         {}},
        {-5,
         IDC_UPGRADE,
         "upgrade-stopped",
         [](ProgramRun &r) { SetFault(r, Fault::UpgradeResult, -2); },
         {}},
        {-6,
         IDC_REPAIR,
         "upgrade-write-failed",
         [](ProgramRun &r) { SetFault(r, Fault::UpgradeResult, -3); },
         {}},
        {-7,
         IDC_UPGRADE,
         "upgrade-other",
         [](ProgramRun &r) { SetFault(r, Fault::UpgradeResult, 5); },
         {}},
        {-8,
         IDC_REPAIR,
         "no-loader-device",
         [](ProgramRun &r) { SetFault(r, Fault::NoLoaderDevice); },
         {}},
        {-9,
         IDC_UPGRADE,
         "download-fails",
         [](ProgramRun &r) { SetFault(r, Fault::DownloadFails); },
         {}},
        {-14, IDC_REPAIR, "erase-fails",
         [](ProgramRun &r) {
             SetFault(r, Fault::EraseFails);
             r.SetSystemSetting(L"ERASE_IDB", L"1");
         },
         [](ProgramRun &r) { r.SetSystemSetting(L"ERASE_IDB", L"0"); }},
    };
    RunCases(run, 2, cases);
    // No failed step wrote the device's storage.
    EXPECT_TRUE(ReadAll(run.Bench().StoragePath(7)).empty());
    run.ExitThroughButton();
}

// A mass-storage device is switched first, and without its driver the
// driver installer runs: the failures on that road.
TEST(EndToEndFailures, SwitchAndDriverInstallationReportTheirOwnVerdicts) {
    ProgramRun run("failures-switch-driver");
    ASSERT_TRUE(run.Start());
    auto withoutDriver = [](ProgramRun &r) { ASSERT_TRUE(r.Bench().SetDriverInstalled(false)); };
    const std::vector<FailureCase> cases = {
        {-1,
         IDC_UPGRADE,
         "switch-refused",
         [](ProgramRun &r) { SetFault(r, Fault::SwitchRefused); },
         {}},
        {-2,
         IDC_REPAIR,
         "no-vesk-device",
         [](ProgramRun &r) { SetFault(r, Fault::NoVeskDevice); },
         {}},
        {-11, IDC_UPGRADE, "driver-files-missing",
         [&](ProgramRun &r) {
             withoutDriver(r);
             ASSERT_TRUE(Rename(r, L"Driver", L"Driver.away"));
         },
         [](ProgramRun &r) { ASSERT_TRUE(Rename(r, L"Driver.away", L"Driver")); }},
        {-13,
         IDC_REPAIR,
         "driver-setup-failed",
         [&](ProgramRun &r) {
             withoutDriver(r);
             SetFault(r, Fault::DriverSetupExit, 2);
         },
         {}},
        {-15, IDC_UPGRADE, "driver-setup-missing",
         [&](ProgramRun &r) {
             withoutDriver(r);
             ASSERT_TRUE(Rename(r, L"DriverSetup.Exe", L"DriverSetup.away"));
         },
         [](ProgramRun &r) { ASSERT_TRUE(Rename(r, L"DriverSetup.away", L"DriverSetup.Exe")); }},
        {-2,
         IDC_UPGRADE,
         "driver-ineffective",
         [&](ProgramRun &r) {
             withoutDriver(r);
             SetFault(r, Fault::DriverIneffective);
         },
         {}},
    };
    RunCases(run, 4, cases);

    // Without the driver and with nothing in the way, the installer puts it
    // in place and the upgrade goes through.
    ASSERT_TRUE(run.Bench().SetDriverInstalled(false));
    qvsim::DeviceSetup setup;
    setup.id = 7;
    ASSERT_NE(run.Bench().Plug(setup), 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "driver-installed-question"));
    run.ExpectSuccess(IDC_UPGRADE, "driver-installed-verdict");
    EXPECT_TRUE(run.Bench().Settings().driverInstalled);
    EXPECT_EQ(ReadAll(run.Bench().StoragePath(7)), SystemPayload(run.SampleImage()));
    run.ExitThroughButton();
}

// The installer that never ends is given its half minute, then ended.
TEST(EndToEndFailures, AHangingDriverInstallerIsEndedWithItsVerdict) {
    ProgramRun run("failures-driver-hang");
    ASSERT_TRUE(run.Start());
    const auto started = std::chrono::steady_clock::now();
    RunCases(run, 4,
             {{-17,
               IDC_REPAIR,
               "driver-setup-hangs",
               [](ProgramRun &r) {
                   ASSERT_TRUE(r.Bench().SetDriverInstalled(false));
                   SetFault(r, Fault::DriverSetupHang);
               },
               {}}});
    std::printf("hanging installer to verdict closed: %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    run.ExitThroughButton();
}

} // namespace
