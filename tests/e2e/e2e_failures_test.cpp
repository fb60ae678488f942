// Every failure that the simulated library and the driver installer can cause
// ends the job with its own verdict: its text, the suffix where it belongs,
// the caption of the command and the error icon. After each verdict the
// window is out of Job running and the device is announced again.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

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

// The device library faults on the watcher's thread, inside the library: the
// program leaves a minidump and a text in its Log folder, names them in one
// box, and ends with the fault's code once the box is answered.
TEST(EndToEndFailures, ACrashInTheDeviceLibraryLeavesAReport) {
    // No image: this library inspects none, and its refusal would come first.
    ProgramSetup setup;
    setup.withImage = false;
    ProgramRun run("failures-crash", setup);
    const std::filesystem::path faulting =
        (DistFolder() / L".." / L"bin" / L"tests" / L"faulting-library" / L"QVAndroidDLL.dll")
            .lexically_normal();
    ASSERT_TRUE(
        CopyFileW(faulting.wstring().c_str(), (run.Folder() + L"QVAndroidDLL.dll").c_str(), FALSE))
        << faulting.string();
    ASSERT_TRUE(run.Start(false));

    // The splash screen is a dialog too: the box is the one that names a report.
    MessageBoxInfo box;
    ASSERT_TRUE(UiRobot::WaitUntil(
        [&] {
            return run.Robot().WaitForMessageBox(box, milliseconds(200)) &&
                   box.text.find(L"\\Log\\crash-") != std::wstring::npos;
        },
        milliseconds(30000)));
    Sleep(150);
    run.Shot("crash-box");

    const std::wstring log = run.Folder() + L"Log\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((log + L"crash-*.dmp").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no minidump in the Log folder";
    FindClose(search);
    const std::wstring dump = log + found.cFileName;
    const std::wstring text = dump.substr(0, dump.size() - 4) + L".txt";
    EXPECT_EQ(box.caption, run.ProgramName());
    EXPECT_EQ(box.icon, Icon::Error);
    EXPECT_FALSE(box.hasYesNo);
    EXPECT_NE(box.text.find(dump), std::wstring::npos);
    EXPECT_NE(box.text.find(text), std::wstring::npos);

    std::ifstream in(text.c_str(), std::ios::binary);
    const std::string report((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    EXPECT_NE(report.find("DeviceManager.exe 1.2.0.3 stopped"), std::string::npos) << report;
    EXPECT_NE(report.find("Exception: 0xC0000005 EXCEPTION_ACCESS_VIOLATION"), std::string::npos)
        << report;
    EXPECT_NE(report.find("(a worker thread)"), std::string::npos) << report;
    EXPECT_NE(report.find("Access: write to 0x0000000000000000"), std::string::npos) << report;
    const std::vector<unsigned char> minidump = ReadAll(dump);
    ASSERT_GE(minidump.size(), 4u);
    EXPECT_EQ(std::string(minidump.begin(), minidump.begin() + 4), "MDMP");

    run.Robot().Answer(box, IDOK);
    EXPECT_EQ(run.WaitForEnd(milliseconds(15000)), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

} // namespace
