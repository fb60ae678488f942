#include "device/driver_install.h"

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"

namespace {

using fakes::Bench;
using fakes::FakeProcessRunner;
using fakes::FakeSystemInfo;
using Calls = std::vector<std::string>;

const std::wstring kInf64 = L"C:\\QV\\Driver\\amd64\\win7\\qv70usb.inf";

TEST(DriverFolder, ByWindowsVersionAndBitness) {
    struct Case {
        bool known;
        uint32_t major, minor;
        bool process64, wow64;
        const wchar_t *folder;
        bool windows64;
    } cases[] = {
        {true, 6, 1, true, false, L"Driver\\amd64\\win7\\", true}, // this 64-bit program
        {true, 6, 1, false, true, L"Driver\\amd64\\win7\\", true}, // a 32-bit build under WOW64
        {true, 6, 1, false, false, L"Driver\\x86\\win7\\", false},
        {true, 5, 1, false, false, L"Driver\\x86\\xp\\", false},
        {true, 5, 1, true, false, L"Driver\\amd64\\xp\\", true},
        {true, 5, 2, false, false, L"Driver\\x86\\2000\\", false},
        {true, 5, 0, false, true, L"Driver\\amd64\\2000\\", true},
        {true, 4, 1, false, false, L"Driver\\x86\\2000\\", false},
        {true, 6, 0, true, false, L"Driver\\amd64\\vista\\", true},
        {true, 6, 2, true, false, L"Driver\\amd64\\win7\\", true},
        {true, 10, 0, true, false, L"Driver\\amd64\\win7\\", true},
        {true, 7, 0, false, false, L"Driver\\x86\\win7\\", false},
        {false, 0, 0, true, false, L"", true},
        {false, 0, 0, false, false, L"", false},
    };
    for (const Case &c : cases) {
        FakeSystemInfo system;
        system.versionKnown = c.known;
        system.major = c.major;
        system.minor = c.minor;
        system.process64 = c.process64;
        system.wow64 = c.wow64;
        const DriverFolder driver = GetDriverFolder(system);
        EXPECT_EQ(driver.folder, c.folder) << c.major << "." << c.minor;
        EXPECT_EQ(driver.windows64, c.windows64) << c.major << "." << c.minor;
    }
}

TEST(DriverFolder, InstallerCommandLine) {
    EXPECT_EQ(
        DriverSetupCommandLine(L"C:\\Program Files\\QV\\", L"C:\\Program Files\\QV\\a.inf"),
        L"\"C:\\Program Files\\QV\\DriverSetup.Exe\" -i qv70 \"C:\\Program Files\\QV\\a.inf\"");
}

struct VeskUsb {
    Bench b;
    FakeProcessRunner runner;
    FakeSystemInfo system;
    VeskUsb() { b.state.g_supportUsb11 = 1; }
    // The device needs its driver: not back after the switch, but plugged in.
    void NeedsDriver() {
        b.library.waitResults = {0};
        b.files.AddFile(kInf64);
        b.files.AddFile(L"C:\\QV\\Driver\\x86\\win7\\qv70usb.inf");
    }
    int Run() { return EnterVeskUsbMode(b.context, runner, system); }
};

TEST(EnterVeskUsbMode, DeviceBackAfterTheSwitchNeedsNoDriver) {
    VeskUsb v;
    EXPECT_EQ(v.Run(), 0);
    EXPECT_EQ(v.b.view.Calls(),
              std::vector<std::wstring>{L"text IDC_DETAIL_LINE <IDS_6:QV70 Loader>"});
    EXPECT_EQ(v.b.clock.Sleeps(), std::vector<uint32_t>{2000});
    EXPECT_EQ(v.b.library.Calls(),
              (Calls{"QV_SwitchVeskUsb", "QV_WaitDevice kind=3 count=20 usb11=1"}));
    EXPECT_TRUE(v.b.files.calls.empty());
    EXPECT_EQ(v.runner.starts, 0);
}

TEST(EnterVeskUsbMode, FailuresBeforeTheInstallation) {
    {
        VeskUsb v; // switch refused
        v.b.library.switchResult = 0;
        EXPECT_EQ(v.Run(), -1);
        EXPECT_EQ(v.b.library.Calls(), Calls{"QV_SwitchVeskUsb"});
    }
    {
        VeskUsb v; // not back and not plugged in
        v.b.library.waitResults = {0};
        v.b.library.veskUsbPlugResult = 0;
        EXPECT_EQ(v.Run(), -2);
        EXPECT_TRUE(v.b.files.calls.empty());
    }
    {
        VeskUsb v; // plugged in, but no driver shipped
        v.b.library.waitResults = {0};
        EXPECT_EQ(v.Run(), -11);
        EXPECT_EQ(v.b.files.calls, std::vector<std::wstring>{L"PathExists " + kInf64});
        EXPECT_EQ(v.runner.starts, 0);
    }
}

TEST(EnterVeskUsbMode, InstallerProgramOn64BitWindows) {
    VeskUsb v;
    v.NeedsDriver();
    EXPECT_EQ(v.Run(), 0);
    EXPECT_EQ(v.runner.record.commandLine,
              L"\"C:\\QV\\DriverSetup.Exe\" -i qv70 \"" + kInf64 + L"\"");
    EXPECT_EQ(v.runner.record.waits, std::vector<uint32_t>{30000});
    EXPECT_EQ(v.runner.record.exitReads, 1);
    EXPECT_TRUE(v.runner.record.closed);
    EXPECT_EQ(v.runner.record.terminatedWith, -1);
    EXPECT_EQ(v.b.library.Calls(),
              (Calls{"QV_SwitchVeskUsb", "QV_WaitDevice kind=3 count=20 usb11=1", "QVIsVeskUsbPlug",
                     "QV_WaitDevice kind=3 count=20 usb11=1"}));
    EXPECT_FALSE(v.b.library.Called("QVInstallDriver"));
}

TEST(EnterVeskUsbMode, InstallerProgramOutcomes) {
    using Reads = std::deque<std::pair<bool, uint32_t>>;
    struct Case {
        const char *name;
        bool startFails;
        Reads reads;
        int waitAfter;
        int code;
        int exitReads;
        size_t sleeps; // beyond the 2000 ms before the switch
        int terminatedWith;
    } cases[] = {
        {"exit 1 counts as success", false, {{true, 1}}, 1, 0, 1, 0, -1},
        {"exit 2", false, {{true, 2}}, 1, -13, 1, 0, -1},
        {"exit -1", false, {{true, 0xFFFFFFFF}}, 1, -13, 1, 0, -1},
        {"installed, device still not back", false, {{true, 0}}, 0, -2, 1, 0, -1},
        {"cannot be started", true, {{true, 0}}, 1, -15, 0, 0, -1},
        {"exit code unreadable", false, {{false, 0}}, 1, -16, 1, 0, -1},
        {"unreadable after running on", false, {{true, 259}, {false, 0}}, 1, -16, 2, 1, -1},
        {"ends during the extra reads",
         false,
         {{true, 259}, {true, 259}, {true, 259}, {true, 0}},
         1,
         0,
         4,
         3,
         -1},
        {"never ends", false, {{true, 259}}, 1, -17, 10, 10, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        VeskUsb v;
        v.NeedsDriver();
        v.b.library.waitResults = {0, c.waitAfter};
        v.runner.startFails = c.startFails;
        v.runner.exitCodes = c.reads;
        EXPECT_EQ(v.Run(), c.code);
        EXPECT_EQ(v.runner.record.exitReads, c.exitReads);
        std::vector<uint32_t> sleeps{2000};
        sleeps.insert(sleeps.end(), c.sleeps, 200);
        EXPECT_EQ(v.b.clock.Sleeps(), sleeps);
        EXPECT_EQ(v.runner.record.terminatedWith, c.terminatedWith);
        if (!c.startFails) {
            EXPECT_TRUE(v.runner.record.closed);
        }
        // The device is waited for again only after a successful installation.
        const bool waitedAgain = v.b.library.Calls().size() == 4;
        EXPECT_EQ(waitedAgain, c.code == 0 || c.code == -2);
    }
}

TEST(EnterVeskUsbMode, LibraryInstallerOn32BitWindows) {
    struct Case {
        int installed;
        int waitAfter;
        int code;
    } cases[] = {{0, 1, 0}, {1, 1, 0}, {2, 1, -13}, {-1, 1, -13}, {1, 0, -2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.installed);
        VeskUsb v;
        v.system.process64 = false;
        v.system.major = 5;
        v.system.minor = 2;
        v.NeedsDriver();
        v.b.files.AddFile(L"C:\\QV\\Driver\\x86\\2000\\qv70usb.inf");
        v.b.library.waitResults = {0, c.waitAfter};
        v.b.library.installDriverResult = c.installed;
        EXPECT_EQ(v.Run(), c.code);
        EXPECT_EQ(v.b.library.installInf, "C:\\QV\\Driver\\x86\\2000\\qv70usb.inf");
        EXPECT_EQ(v.runner.starts, 0);
    }
}

TEST(EnterVeskUsbMode, DriverPathOutsideTheCodePageIsRefusedOn32BitWindows) {
    VeskUsb v;
    v.system.process64 = false;
    v.b.state.g_programFolder = L"C:\\\x041F\x0440\x043E\\";
    v.b.files.AddFile(L"C:\\\x041F\x0440\x043E\\Driver\\x86\\win7\\qv70usb.inf");
    v.b.library.waitResults = {0};
    EXPECT_EQ(v.Run(), -12);
    EXPECT_FALSE(v.b.library.Called("QVInstallDriver"));
}

TEST(EnterVeskUsbMode, UnknownWindowsVersionLooksInTheProgramFolder) {
    VeskUsb v;
    v.system.versionKnown = false;
    v.b.library.waitResults = {0};
    v.b.files.AddFile(L"C:\\QV\\qv70usb.inf");
    EXPECT_EQ(v.Run(), 0);
    EXPECT_EQ(v.runner.record.commandLine,
              L"\"C:\\QV\\DriverSetup.Exe\" -i qv70 \"C:\\QV\\qv70usb.inf\"");
}

TEST(EnterVeskUsbMode, StopsWithoutTouchingAnythingOnceTheGateIsClosed) {
    VeskUsb v;
    v.NeedsDriver();
    v.b.clock.onSleep = [&](uint32_t) { v.b.gate.Close([](uint32_t) {}, 0); };
    EXPECT_EQ(v.Run(), kJobStoppedAtExit);
    EXPECT_TRUE(v.b.library.Calls().empty());
    EXPECT_EQ(v.b.view.Calls().size(), 1u); // the detail line written before the sleep
}

} // namespace
