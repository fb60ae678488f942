#include "commands/job_commands.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/fakes/command_bench.h"

namespace {

using Lines = std::vector<std::wstring>;
using Command = bool (*)(CommandContext &);

const std::wstring kRefusal = L" | Title | 48";  // MB_OK | MB_ICONEXCLAMATION
const std::wstring kConfirm = L" | Title | 308"; // MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2
const std::wstring kLoaderAsk =
    L"box IDS_128 | - | 324"; // no caption, MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2

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
        // Enter takes the default button, which is No: two Enters start nothing.
        AbandonCase{"UpgradeEnter",
                    OnUpgrade,
                    Nothing,
                    {fakes::RecordingView::kPressEnter},
                    {L"box IDS_88" + kConfirm}},
        AbandonCase{"RepairEnter",
                    OnRepair,
                    Nothing,
                    {fakes::RecordingView::kPressEnter},
                    {L"box IDS_81" + kConfirm}},
        AbandonCase{"LoaderQuestionEnter",
                    OnUpgrade,
                    NewerDeviceLoader,
                    {fakes::RecordingView::kPressEnter},
                    {kLoaderAsk}},
        // A box that could not be shown is no confirmation.
        AbandonCase{"FailedConfirmBox", OnUpgrade, Nothing, {0}, {L"box IDS_88" + kConfirm}},
        AbandonCase{"FailedLoaderBox", OnRepair, NewerDeviceLoader, {0}, {kLoaderAsk}},
        // A question nobody can read is not asked: its notice is shown instead.
        AbandonCase{"EmptyUpgradeQuestion",
                    OnUpgrade,
                    [](CommandBench &b) { b.texts.missing = {L"IDS_88"}; },
                    {},
                    {L"box missing IDS_88 | Title | 16"}},
        AbandonCase{"EmptyRepairQuestion",
                    OnRepair,
                    [](CommandBench &b) { b.texts.missing = {L"IDS_81"}; },
                    {},
                    {L"box missing IDS_81 | Title | 16"}},
        AbandonCase{"EmptyLoaderQuestion",
                    OnUpgrade,
                    [](CommandBench &b) {
                        NewerDeviceLoader(b);
                        b.texts.missing = {L"IDS_128"};
                    },
                    {},
                    {L"box missing IDS_128 | - | 16"}},
        // The image file was replaced by one that is no image: the refusal
        // (the inspection's own box) ends the click and the choice.
        AbandonCase{"ReplacedImageRefused",
                    OnUpgrade,
                    [](CommandBench &b) {
                        b.files.AddFile(b.state.g_settings.FIRMWARE, "no image at all");
                        b.imageUsable = false;
                    },
                    {},
                    {L"text IDC_FIRMWARE_PATH ", L"text IDC_IMAGE_SW_VERSION ",
                     L"text IDC_IMAGE_LOADER_VERSION "}}),
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

// The image on disk is the image the checks and the job use.
struct RecheckCase {
    const char *name;
    std::function<void(CommandBench &)> change;
    bool inspectedAgain;
};

class ImageRecheck : public testing::TestWithParam<RecheckCase> {};

TEST_P(ImageRecheck, InspectsAgainOnlyWhenTheFileIsNotTheOneInspected) {
    const RecheckCase &c = GetParam();
    CommandBench bench;
    c.change(bench);
    // The new file carries an older loader than the device's, so the loader
    // question shows that the checks saw the new file.
    bench.host.onInspect = [&bench] { bench.model.m_imageLoaderVersion = 0x0101; };
    bench.view.answers = {mb::kIdNo, mb::kIdNo};

    EXPECT_FALSE(OnUpgrade(bench.ctx));

    const Lines again{L"C:\\fw\\update.img"};
    EXPECT_EQ(bench.inspected, c.inspectedAgain ? again : Lines{});
    EXPECT_EQ(bench.view.Calls().front(), c.inspectedAgain ? kLoaderAsk : L"box IDS_88" + kConfirm);
    EXPECT_EQ(bench.state.g_settings.FIRMWARE, L"C:\\fw\\update.img");
}

INSTANTIATE_TEST_SUITE_P(
    Clicks, ImageRecheck,
    testing::Values(
        RecheckCase{"Unchanged", [](CommandBench &) {}, false},
        RecheckCase{"Rewritten",
                    [](CommandBench &b) { b.files.AddFile(L"C:\\fw\\update.img", "image"); }, true},
        RecheckCase{
            "Resized",
            [](CommandBench &b) { b.files.AddFile(L"C:\\fw\\update.img", "a longer image"); },
            true},
        RecheckCase{"Unreadable",
                    [](CommandBench &b) { b.files.RemoveFile(L"C:\\fw\\update.img"); }, true},
        RecheckCase{"AnotherPathThanInspected",
                    [](CommandBench &b) { b.model.m_inspectedImage = L"C:\\fw\\other.img"; },
                    true}),
    [](const testing::TestParamInfo<RecheckCase> &info) { return info.param.name; });

TEST(ImageRecheck, ANewInspectionIsRememberedForTheNextClick) {
    CommandBench bench;
    bench.files.AddFile(bench.state.g_settings.FIRMWARE, "image, rewritten");
    bench.view.answers = {mb::kIdNo, mb::kIdNo};
    OnUpgrade(bench.ctx);
    OnRepair(bench.ctx);
    EXPECT_EQ(bench.inspected.size(), 1u);
}

// An image refused at a click is no longer the image chosen: no later click
// may start a job on it without its being chosen again.
TEST(ImageRecheck, AnImageRefusedAtAClickIsNoLongerChosen) {
    CommandBench bench;
    bench.files.AddFile(bench.state.g_settings.FIRMWARE, "no image at all");
    bench.imageUsable = false;
    EXPECT_FALSE(OnUpgrade(bench.ctx));
    EXPECT_TRUE(bench.state.g_settings.FIRMWARE.empty());
    bench.imageUsable = true;
    EXPECT_FALSE(OnRepair(bench.ctx));
    EXPECT_TRUE(bench.jobsStarted.empty());
}

} // namespace
