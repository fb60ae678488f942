#include "device/upgrade_job.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "device/device_watcher.h"
#include "res/resource.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"

namespace {

using fakes::Bench;
using fakes::FakeProcessRunner;
using fakes::FakeSystemInfo;
using fakes::MakeDevice;
using Calls = std::vector<std::string>;
using Script = std::vector<std::wstring>;
using Event = fakes::RecordingView::Event;

struct Job {
    Bench b;
    FakeProcessRunner runner;
    FakeSystemInfo system;

    explicit Job(int kind = QV_DEVICE_LOADER) {
        b.state.g_deviceInfo = MakeDevice(42, kind);
        b.state.g_loaderFilePath = L"C:\\Temp\\QVBOOT.BIN";
        b.state.g_settings.FIRMWARE = L"C:\\Images\\update.img";
        b.state.g_imageSize = 0x12345;
        b.state.g_jobActive = 1;
    }
    // Runs the thread body; returns the one posted result.
    int Run(int mode) {
        UpgradeThread(b.context, runner, system, static_cast<JobMode>(mode));
        const std::vector<Event> posts = b.view.Of(Event::Post);
        EXPECT_EQ(posts.size(), 1u);
        if (posts.empty()) return 1;
        EXPECT_EQ(posts[0].id, mode);
        EXPECT_EQ(b.view.Events().back().kind, Event::Post); // posting is the last act
        return posts[0].value;
    }
};

TEST(PartitionNumber, DecimalBeforeTheFirstColonModulo65536) {
    struct Case {
        const wchar_t *text;
        uint32_t number;
    } cases[] = {
        {L"12:34", 12},
        {L"7", 7},
        {L"", 0},
        {L"  +9:1", 9},
        {L"\t3", 3},
        {L" 12abc:5", 12},
        {L"abc", 0},
        {L":5", 0},
        {L"-1", 65535},
        {L"-65536", 0},
        {L"65536", 0},
        {L"196613:1", 5},
        {L"123456789012345678901", 27701},
        {L"98765432109876543210:7", 32490},
        {L"- 5", 0},
        {L"0x10", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParsePartitionNumber(c.text), c.number) << c.text;
}

TEST(UpgradeJob, UpgradeOfALoaderDeviceRunsEveryStepInOrder) {
    Job j;
    j.b.state.g_supportUsb11 = 1;
    j.b.state.g_settings.PARTITION = L"12:34";

    EXPECT_EQ(j.Run(kModeUpgrade), 0);
    EXPECT_EQ(j.b.library.Calls(),
              (Calls{"QV_Upgrade", "QV_ResetDevice", "QV_WaitDevice kind=2 count=20 usb11=1",
                     "QV_DownloadImage", "QV_ResetDevice"}));
    EXPECT_EQ(
        j.b.view.Calls(),
        (Script{L"text IDC_DETAIL_LINE <IDS_89>", L"text IDC_DETAIL_LINE <IDS_90>",
                L"text IDC_DETAIL_LINE <IDS_91>", L"text IDC_DETAIL_LINE <IDS_92>", L"post 0 0"}));
    EXPECT_EQ(j.b.clock.Sleeps(), std::vector<uint32_t>{1000});
    EXPECT_EQ(j.b.library.upgradeSize, 0x12345u);
    EXPECT_EQ(j.b.library.upgradeSizeLow, 0x2345u);
    EXPECT_EQ(j.b.library.upgradePartition, 12u);
    EXPECT_EQ(j.b.library.upgradeLoader, "C:\\Temp\\QVBOOT.BIN");
    EXPECT_EQ(j.b.library.upgradeMode, 0);
    EXPECT_EQ(j.b.library.upgradeReserved, 0);
    EXPECT_EQ(j.b.library.downloadImage, "C:\\Images\\update.img");
    EXPECT_TRUE(j.b.files.calls.empty()); // an upgrade never looks at ERASE_IDB
}

TEST(UpgradeJob, MassStorageDeviceIsSwitchedFirst) {
    Job j(QV_DEVICE_MSC);
    EXPECT_EQ(j.Run(kModeUpgrade), 0);
    const Calls calls = j.b.library.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "QV_SwitchVeskUsb");
    EXPECT_EQ(calls[1], "QV_WaitDevice kind=3 count=20 usb11=0");
    EXPECT_EQ(calls[2], "QV_Upgrade");
    EXPECT_EQ(j.b.view.Calls().front(), L"text IDC_DETAIL_LINE <IDS_6:QV70 Loader>");
    EXPECT_EQ(j.b.clock.Sleeps(), (std::vector<uint32_t>{2000, 1000}));
}

TEST(UpgradeJob, ImageSizeMultipleOf65536GivesZeroLowBits) {
    Job j;
    j.b.state.g_imageSize = 3 * 65536;
    j.Run(kModeUpgrade);
    EXPECT_EQ(j.b.library.upgradeSize, 3u * 65536u);
    EXPECT_EQ(j.b.library.upgradeSizeLow, 0u);
}

// Every code the job and the driver installation produce, each with what must
// not have happened after the failing step.
TEST(UpgradeJob, EveryResultCode) {
    struct Case {
        const char *name;
        int kind;
        int mode;
        std::function<void(Job &)> arrange;
        int code;
        const char *neverCalled; // no library write after the failure
    } cases[] = {
        {"switch refused", 4, 0, [](Job &j) { j.b.library.switchResult = 0; }, -1, "QV_Upgrade"},
        {"not back, not plugged", 4, 0,
         [](Job &j) {
             j.b.library.waitResults = {0};
             j.b.library.veskUsbPlugResult = 0;
         },
         -2, "QV_Upgrade"},
        {"upgrade -4", 2, 0, [](Job &j) { j.b.library.upgradeResult = -4; }, -3, "QV_ResetDevice"},
        {"upgrade -1", 2, 0, [](Job &j) { j.b.library.upgradeResult = -1; }, -4, "QV_ResetDevice"},
        {"upgrade -2", 2, 1, [](Job &j) { j.b.library.upgradeResult = -2; }, -5, "QV_ResetDevice"},
        {"upgrade -3", 2, 0, [](Job &j) { j.b.library.upgradeResult = -3; }, -6, "QV_ResetDevice"},
        {"upgrade 5", 2, 0, [](Job &j) { j.b.library.upgradeResult = 5; }, -7, "QV_ResetDevice"},
        {"upgrade -5", 2, 0, [](Job &j) { j.b.library.upgradeResult = -5; }, -7, "QV_ResetDevice"},
        {"not back as kind 2", 2, 0, [](Job &j) { j.b.library.waitResult = 0; }, -8,
         "QV_DownloadImage"},
        {"download fails", 2, 0, [](Job &j) { j.b.library.downloadResult = 0; }, -9, nullptr},
        {"no driver file", 4, 0, [](Job &j) { j.b.library.waitResults = {0}; }, -11, "QV_Upgrade"},
        {"driver path not convertible", 4, 0,
         [](Job &j) {
             j.system.process64 = false;
             j.b.state.g_programFolder = L"C:\\\x00FC\\";
             j.b.files.AddFile(L"C:\\\x00FC\\Driver\\x86\\win7\\qv70usb.inf");
             j.b.library.waitResults = {0};
         },
         -12, "QV_Upgrade"},
        {"installer exits 2", 4, 0,
         [](Job &j) {
             j.b.files.AddFile(L"C:\\QV\\Driver\\amd64\\win7\\qv70usb.inf");
             j.b.library.waitResults = {0};
             j.runner.exitCodes = {{true, 2}};
         },
         -13, "QV_Upgrade"},
        {"erase fails", 2, 1,
         [](Job &j) {
             j.b.profile.ints[L"SYSTEM/ERASE_IDB"] = 1;
             j.b.library.eraseResult = 0;
         },
         -14, "QV_Upgrade"},
        {"installer not started", 4, 0,
         [](Job &j) {
             j.b.files.AddFile(L"C:\\QV\\Driver\\amd64\\win7\\qv70usb.inf");
             j.b.library.waitResults = {0};
             j.runner.startFails = true;
         },
         -15, "QV_Upgrade"},
        {"installer exit code unreadable", 4, 0,
         [](Job &j) {
             j.b.files.AddFile(L"C:\\QV\\Driver\\amd64\\win7\\qv70usb.inf");
             j.b.library.waitResults = {0};
             j.runner.exitCodes = {{false, 0}};
         },
         -16, "QV_Upgrade"},
        {"installer never ends", 4, 1,
         [](Job &j) {
             j.b.files.AddFile(L"C:\\QV\\Driver\\amd64\\win7\\qv70usb.inf");
             j.b.library.waitResults = {0};
             j.runner.exitCodes = {{true, 259}};
         },
         -17, "QV_Upgrade"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Job j(c.kind);
        c.arrange(j);
        EXPECT_EQ(j.Run(c.mode), c.code);
        if (c.neverCalled) {
            EXPECT_FALSE(j.b.library.Called(c.neverCalled));
        }
        if (c.code <= -3 && c.code >= -9) { // failed after the upgrade began: no final phase
            EXPECT_NE(j.b.view.Shown(IDC_DETAIL_LINE), L"<IDS_92>");
        }
    }
}

TEST(UpgradeJob, NotBackAfterTheResetWaitsOneSecondFirst) {
    Job j;
    j.b.library.waitResult = 0;
    EXPECT_EQ(j.Run(kModeUpgrade), -8);
    EXPECT_EQ(j.b.clock.Sleeps(), std::vector<uint32_t>{1000});
    EXPECT_EQ(j.b.view.Shown(IDC_DETAIL_LINE), L"<IDS_90>");
}

TEST(UpgradeJob, DevicePulledOutDuringTheDownloadIsAFailure) {
    Job j;
    j.b.library.onDownload = [&] { return 0; }; // the device went away mid-transfer
    EXPECT_EQ(j.Run(kModeUpgrade), -9);
    EXPECT_EQ(j.b.library.Calls().back(), "QV_DownloadImage"); // no reset after a failure
    EXPECT_EQ(j.b.view.Shown(IDC_DETAIL_LINE), L"<IDS_91>");
}

// The record is the library's: a device whose every opaque field is filled
// to its last byte, found by the watcher, gets that very record back at every
// step of an upgrade and of a repair.
TEST(UpgradeJob, EveryStepGetsTheRecordTheSearchFilledByteForByte) {
    const DEVICE_INFO found = fakes::MakeFullDevice(42, QV_DEVICE_MSC);
    for (int mode : {kModeUpgrade, kModeRepair}) {
        SCOPED_TRACE(mode);
        Job j;
        j.b.state.g_deviceInfo = DEVICE_INFO{};
        j.b.library.finds = {{1, found}};
        j.b.profile.ints[L"SYSTEM/ERASE_IDB"] = 1;
        DEVICE_INFO working{};
        j.b.state.g_jobActive = 0; // the device is found before the click
        ASSERT_TRUE(j.b.gate.BeginWatchCycle(j.b.state.g_jobActive));
        RunWatchCycle(j.b.context, working);
        j.b.gate.EndWatchCycle();
        j.b.state.g_jobActive = 1;

        EXPECT_EQ(j.Run(mode), 0);
        const std::vector<DEVICE_INFO> records = j.b.library.Records();
        // The version read, switch, wait, (erase,) upgrade, reset, wait,
        // download and reset.
        EXPECT_EQ(records.size(), mode == kModeRepair ? 9u : 8u);
        for (size_t i = 0; i < records.size(); ++i)
            EXPECT_EQ(std::memcmp(&records[i], &found, sizeof found), 0) << "call " << i;
    }
}

TEST(UpgradeJob, RepairErasesOnlyWhenEraseIdbIsOne) {
    struct Case {
        int mode;
        bool fileOpens; // for appending
        int eraseIdb;   // -1: missing
        bool erases;
        bool readOnlyFile = false; // there, readable, not writable
    } cases[] = {{kModeUpgrade, true, 1, false},     {kModeRepair, true, 1, true},
                 {kModeRepair, true, 0, false},      {kModeRepair, true, 2, false},
                 {kModeRepair, true, -1, false},     {kModeRepair, false, 1, false},
                 {kModeRepair, false, 1, true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << c.fileOpens << c.eraseIdb << c.readOnlyFile);
        Job j;
        j.b.state.g_supportUsb11 = 1;
        if (!c.fileOpens) j.b.files.refuseOpen.insert(L"C:\\QV\\setting.ini");
        if (c.readOnlyFile) j.b.files.AddFile(L"C:\\QV\\setting.ini");
        if (c.eraseIdb >= 0) j.b.profile.ints[L"SYSTEM/ERASE_IDB"] = c.eraseIdb;
        EXPECT_EQ(j.Run(c.mode), 0);
        EXPECT_EQ(j.b.library.Called("QV_EraseIDB count=20 usb11=1"), c.erases);
        if (c.erases) {
            EXPECT_EQ(j.b.library.Calls().front(), "QV_EraseIDB count=20 usb11=1");
            EXPECT_EQ(j.b.library.eraseLoader, "C:\\Temp\\QVBOOT.BIN");
        }
        EXPECT_EQ(j.b.library.upgradeMode, c.mode);
    }
}

TEST(UpgradeJob, EraseIdbIsReadAfreshAtEachRepair) {
    Job j;
    j.Run(kModeRepair);
    EXPECT_FALSE(j.b.library.Called("QV_EraseIDB"));
    EXPECT_EQ(j.b.files.calls, (std::vector<std::wstring>{L"OpenForRead C:\\QV\\setting.ini",
                                                          L"HasAttributes C:\\QV\\setting.ini",
                                                          L"OpenForAppend C:\\QV\\setting.ini"}));
    EXPECT_EQ(j.b.profile.reads,
              std::vector<std::wstring>{L"C:\\QV\\setting.ini|SYSTEM|ERASE_IDB"});

    j.b.profile.ints[L"SYSTEM/ERASE_IDB"] = 1; // edited between the two repairs
    j.b.view.Clear();
    j.Run(kModeRepair);
    EXPECT_TRUE(j.b.library.Called("QV_EraseIDB"));
}

TEST(UpgradeJob, UnconvertiblePathsReachTheLibraryEmpty) {
    Job j;
    j.b.state.g_settings.FIRMWARE = L"C:\\\x00E9.img";
    j.b.state.g_loaderFilePath.clear();
    j.b.library.downloadResult = 0; // the library refuses an empty image path
    EXPECT_EQ(j.Run(kModeUpgrade), -9);
    EXPECT_EQ(j.b.library.upgradeLoader, "");
    EXPECT_EQ(j.b.library.downloadImage, "");
}

TEST(UpgradeJob, ExitDuringTheJobStopsItWithoutPostingOrTouchingAnything) {
    Job j;
    j.b.library.onUpgrade = [&] {
        j.b.gate.Close([](uint32_t) {}, 0); // the exit procedure, while the library works
        return 0;
    };
    UpgradeThread(j.b.context, j.runner, j.system, kModeUpgrade);
    EXPECT_EQ(j.b.library.Calls(), Calls{"QV_Upgrade"});
    EXPECT_EQ(j.b.view.Calls(), Script{L"text IDC_DETAIL_LINE <IDS_89>"});
    EXPECT_TRUE(j.b.clock.Sleeps().empty());
}

TEST(UpgradeJob, ExitBeforeTheResultIsPostedPostsNothing) {
    Job j;
    j.b.clock.onSleep = [&](uint32_t) {}; // nothing
    j.b.library.onDownload = [&] {
        j.b.gate.Close([](uint32_t) {}, 0);
        return 1;
    };
    UpgradeThread(j.b.context, j.runner, j.system, kModeUpgrade);
    EXPECT_TRUE(j.b.view.Of(Event::Post).empty());
    EXPECT_EQ(j.b.library.Calls().back(), "QV_DownloadImage");
}

TEST(UpgradeJob, AnExceptionInsideStillPostsOneFailure) {
    Job j;
    j.b.library.onUpgrade = []() -> int { throw std::bad_alloc(); };
    EXPECT_EQ(j.Run(kModeRepair), -7);
}

} // namespace
