#include "ui/job_commands.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/fakes/command_bench.h"

namespace {

using Lines = std::vector<std::wstring>;
using Command = bool (*)(CommandContext &);

const std::wstring kRefusal = L" | Title | 48"; // MB_OK | MB_ICONEXCLAMATION
const std::wstring kConfirm = L" | Title | 52"; // MB_YESNO | MB_ICONEXCLAMATION
const std::wstring kLoaderAsk =
    L"box IDS_128 | - | 68"; // no caption, MB_YESNO | MB_ICONINFORMATION

struct AbandonCase {
    const char *name;
    Command command;
    std::function<void(CommandBench &)> setUp;
    std::deque<int> answers;
    Lines boxes; // the whole log: an abandoned click shows its boxes and touches nothing
};

class AbandonedClick : public testing::TestWithParam<AbandonCase> {};

TEST_P(AbandonedClick, ShowsOnlyItsBoxesAndHandsTheDeviceBack) {
    const AbandonCase &c = GetParam();
    CommandBench bench;
    c.setUp(bench);
    bench.view.answers = c.answers;

    EXPECT_FALSE(c.command(bench.ctx));

    EXPECT_EQ(bench.view.Calls(), c.boxes);
    EXPECT_TRUE(bench.view.answers.empty());
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
    EXPECT_EQ(bench.state.g_upgradeRunning.load(), 0);
    EXPECT_EQ(bench.state.g_repairRunning.load(), 0);
    EXPECT_TRUE(bench.jobsStarted.empty());
}

void SeveralDevices(CommandBench &b) {
    b.state.g_findResult = 2;
}
void NoDevice(CommandBench &b) {
    b.state.g_deviceInfo.identity = 0;
}
void NoImage(CommandBench &b) {
    b.state.g_settings.FIRMWARE.clear();
}
void MaskRom(CommandBench &b) {
    b.state.g_deviceInfo.deviceType = QV_DEVICE_MASKROM;
}
void NewerDeviceLoader(CommandBench &b) {
    b.model.m_deviceLoaderVersion = 0x0103;
}
void Nothing(CommandBench &) {}

INSTANTIATE_TEST_SUITE_P(
    Refusals, AbandonedClick,
    testing::Values(
        AbandonCase{
            "UpgradeSeveralDevices", OnUpgrade, SeveralDevices, {}, {L"box IDS_109" + kRefusal}},
        AbandonCase{
            "RepairSeveralDevices", OnRepair, SeveralDevices, {}, {L"box IDS_109" + kRefusal}},
        AbandonCase{"SeveralDevicesBeforeEverythingElse",
                    OnUpgrade,
                    [](CommandBench &b) {
                        SeveralDevices(b);
                        NoDevice(b);
                        NoImage(b);
                    },
                    {},
                    {L"box IDS_109" + kRefusal}},
        AbandonCase{"NoDeviceBeforeTheImage",
                    OnUpgrade,
                    [](CommandBench &b) {
                        NoDevice(b);
                        NoImage(b);
                    },
                    {},
                    {L"box IDS_110" + kRefusal}},
        AbandonCase{"RepairNoDevice", OnRepair, NoDevice, {}, {L"box IDS_110" + kRefusal}},
        AbandonCase{"NoImage", OnUpgrade, NoImage, {}, {L"box IDS_47" + kRefusal}},
        AbandonCase{"RepairNoImage", OnRepair, NoImage, {}, {L"box IDS_47" + kRefusal}},
        AbandonCase{"MaskRomUpgrade", OnUpgrade, MaskRom, {}, {L"box IDS_102" + kRefusal}},
        AbandonCase{"LoaderQuestionBeforeMaskRom",
                    OnUpgrade,
                    [](CommandBench &b) {
                        MaskRom(b);
                        NewerDeviceLoader(b);
                    },
                    {mb::kIdYes},
                    {kLoaderAsk, L"box IDS_102" + kRefusal}},
        AbandonCase{
            "MaskRomRepairIsAsked", OnRepair, MaskRom, {mb::kIdNo}, {L"box IDS_81" + kConfirm}},
        AbandonCase{"LoaderQuestionNo", OnUpgrade, NewerDeviceLoader, {mb::kIdNo}, {kLoaderAsk}},
        AbandonCase{"UpgradeNo", OnUpgrade, Nothing, {mb::kIdNo}, {L"box IDS_88" + kConfirm}},
        AbandonCase{"RepairNo", OnRepair, Nothing, {mb::kIdNo}, {L"box IDS_81" + kConfirm}},
        // A box that could not be shown is no confirmation.
        AbandonCase{"FailedConfirmBox", OnUpgrade, Nothing, {0}, {L"box IDS_88" + kConfirm}},
        AbandonCase{"FailedLoaderBox", OnRepair, NewerDeviceLoader, {0}, {kLoaderAsk}}),
    [](const testing::TestParamInfo<AbandonCase> &info) { return info.param.name; });

TEST(JobCommand, ClickWhileTheDeviceIsHeldIsIgnored) {
    for (Command command : {OnUpgrade, OnRepair}) {
        CommandBench bench;
        bench.state.g_jobActive = 1; // a job runs, or another click is asking
        bench.state.g_upgradeRunning = 1;

        EXPECT_FALSE(command(bench.ctx));

        EXPECT_TRUE(bench.view.Calls().empty());
        EXPECT_TRUE(bench.jobsStarted.empty());
        EXPECT_EQ(bench.state.g_jobActive.load(), 1);
        EXPECT_EQ(bench.state.g_upgradeRunning.load(), 1);
    }
}

struct LoaderCase {
    const char *name;
    uint16_t device;
    uint16_t image;
    int32_t autoBefore;
    int answer; // to IDS_128, 0 when it must not be asked
    int32_t autoAfter;
};

class LoaderVersions : public testing::TestWithParam<LoaderCase> {};

TEST_P(LoaderVersions, DecideTheQuestionAndTheAutomaticYes) {
    const LoaderCase &c = GetParam();
    CommandBench bench;
    bench.model.m_deviceLoaderVersion = c.device;
    bench.model.m_imageLoaderVersion = c.image;
    bench.state.g_autoConfirmLoader = c.autoBefore;
    if (c.answer != 0) bench.view.answers.push_back(c.answer);
    if (c.answer != mb::kIdNo) bench.view.answers.push_back(mb::kIdNo); // the final question

    OnUpgrade(bench.ctx);

    const Lines calls = bench.view.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front() == kLoaderAsk, c.answer != 0);
    EXPECT_EQ(bench.state.g_autoConfirmLoader.load(), c.autoAfter);
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Questions, LoaderVersions,
    testing::Values(LoaderCase{"DeviceUnread", kNoLoaderVersion, 0x0102, 1, 0, 0},
                    LoaderCase{"ImageUnread", 0x0105, kNoLoaderVersion, 1, 0, 0},
                    LoaderCase{"EqualKeepsAnEarlierYes", 0x0102, 0x0102, 1, 0, 1},
                    LoaderCase{"EqualKeepsNo", 0x0102, 0x0102, 0, 0, 0},
                    LoaderCase{"OlderDeviceKeepsTheValue", 0x0109, 0x010A, 1, 0, 1},
                    LoaderCase{"NewerDeviceYes", 0x010A, 0x0109, 0, mb::kIdYes, 1},
                    LoaderCase{"NewerDeviceNo", 0x010A, 0x0109, 0, mb::kIdNo, 0},
                    LoaderCase{"ComparedUnsigned", 0x8000, 0x7FFF, 0, mb::kIdYes, 1}),
    [](const testing::TestParamInfo<LoaderCase> &info) { return info.param.name; });

struct StartCase {
    const char *name;
    Command command;
    int mode;
    const wchar_t *confirmKey;
    const wchar_t *statusKey;
};

class JobStart : public testing::TestWithParam<StartCase> {};

TEST_P(JobStart, SwitchesIntoJobRunningAndStartsTheThread) {
    const StartCase &c = GetParam();
    CommandBench bench;
    bench.view.answers = {mb::kIdYes};

    EXPECT_TRUE(c.command(bench.ctx));

    EXPECT_EQ(bench.view.Calls(),
              (Lines{L"box " + std::wstring(c.confirmKey) + kConfirm, L"enable IDC_UPGRADE 0",
                     L"enable IDC_REPAIR 0", L"enable IDC_BROWSE 0", L"busy start",
                     L"text IDC_STATUS_LINE " + std::wstring(c.statusKey), L"text IDC_DETAIL_LINE ",
                     L"timer start IDT_ELAPSED 200"}));
    EXPECT_EQ(bench.jobsStarted, std::vector<int>{c.mode});
    EXPECT_EQ(bench.state.g_jobActive.load(), 1);
    EXPECT_EQ(bench.state.g_upgradeRunning.load(), c.mode == kModeUpgrade ? 1 : 0);
    EXPECT_EQ(bench.state.g_repairRunning.load(), c.mode == kModeRepair ? 1 : 0);
    EXPECT_EQ(bench.state.g_jobStartTime.load(), bench.clock.NowSeconds());
}

// The thread cannot start: the window reports it as a failed job and
// returns to the watcher instead of staying in Job running.
TEST_P(JobStart, ThreadThatCannotStartEndsAsAFailureVerdict) {
    const StartCase &c = GetParam();
    CommandBench bench;
    bench.jobStarts = false;
    bench.view.answers = {mb::kIdYes, mb::kIdOk};

    EXPECT_FALSE(c.command(bench.ctx));

    const std::wstring caption = c.mode == kModeUpgrade ? L"IDS_53" : L"IDS_54";
    EXPECT_EQ(bench.view.Calls(),
              (Lines{L"box " + std::wstring(c.confirmKey) + kConfirm, L"enable IDC_UPGRADE 0",
                     L"enable IDC_REPAIR 0", L"enable IDC_BROWSE 0", L"busy start",
                     L"text IDC_STATUS_LINE " + std::wstring(c.statusKey), L"text IDC_DETAIL_LINE ",
                     L"timer start IDT_ELAPSED 200",
                     // the verdict and the clearing of a finished job
                     L"timer stop IDT_ELAPSED", L"busy stop",
                     L"box IDS_101IDS_93 | " + caption + L" | 16", L"text IDC_DEVICE_NAME ",
                     L"text IDC_STATUS_LINE ", L"text IDC_DETAIL_LINE ", L"enable IDC_BROWSE 1",
                     L"text IDC_DEVICE_SW_VERSION ", L"text IDC_DEVICE_LOADER_VERSION ",
                     L"text IDC_ELAPSED_TIME ", L"busy reset"}));
    EXPECT_EQ(bench.jobsStarted, std::vector<int>{c.mode});
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
    EXPECT_EQ(bench.state.g_upgradeRunning.load(), 0);
    EXPECT_EQ(bench.state.g_repairRunning.load(), 0);
    EXPECT_EQ(bench.state.g_deviceInfo.identity, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, JobStart,
    testing::Values(StartCase{"Upgrade", OnUpgrade, kModeUpgrade, L"IDS_88", L"IDS_44"},
                    StartCase{"Repair", OnRepair, kModeRepair, L"IDS_81", L"IDS_82"}),
    [](const testing::TestParamInfo<StartCase> &info) { return info.param.name; });

} // namespace
