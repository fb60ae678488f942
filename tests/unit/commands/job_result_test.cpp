#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "commands/job_commands.h"
#include "tests/fakes/command_bench.h"

namespace {

using Lines = std::vector<std::wstring>;

struct VerdictCase {
    int mode;
    int32_t code;
    std::wstring box; // text | caption | style
};

void PrintTo(const VerdictCase &c, std::ostream *os) {
    *os << "mode " << c.mode << " code " << c.code;
}

class VerdictBox : public testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictBox, ShowsTheTextSuffixCaptionAndIconOfItsCode) {
    const VerdictCase &c = GetParam();
    CommandBench bench;
    bench.state.g_jobActive = 1;
    bench.view.answers = {mb::kIdOk};
    // While the verdict is read the job still holds the device: the watcher
    // must not announce it under the box.
    int32_t jobActiveUnderBox = -1;
    bench.view.whileBoxShows = [&] { jobActiveUnderBox = bench.state.g_jobActive.load(); };

    ShowJobVerdict(bench.ctx, static_cast<JobMode>(c.mode), c.code);

    const Lines calls = bench.view.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[2], L"box " + c.box);
    EXPECT_EQ(jobActiveUnderBox, 1);
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
}

const std::wstring kUp = L" | IDS_53 | 16"; // MB_OK | MB_ICONERROR
const std::wstring kRep = L" | IDS_54 | 16";

INSTANTIATE_TEST_SUITE_P(
    EveryCode, VerdictBox,
    testing::Values(
        VerdictCase{0, 0, L"IDS_21 | Title | 64"}, VerdictCase{1, 0, L"IDS_20 | Title | 64"},
        VerdictCase{7, 0, L"IDS_20 | Title | 64"}, // any mode but 0 is a repair
        VerdictCase{0, -1, L"IDS_111IDS_93" + kUp}, VerdictCase{0, -2, L"IDS_112IDS_93" + kUp},
        VerdictCase{0, -3, L"IDS_113" + kUp}, VerdictCase{0, -4, L"IDS_114IDS_93" + kUp},
        VerdictCase{0, -5, L"IDS_115IDS_93" + kUp}, VerdictCase{0, -6, L"IDS_116IDS_93" + kUp},
        VerdictCase{0, -7, L"IDS_101IDS_93" + kUp}, VerdictCase{0, -8, L"IDS_117IDS_93" + kUp},
        VerdictCase{0, -9, L"IDS_118IDS_93" + kUp}, VerdictCase{0, -10, L"IDS_119IDS_93" + kUp},
        VerdictCase{0, -11, L"IDS_121" + kUp}, VerdictCase{0, -12, L"IDS_122" + kUp},
        VerdictCase{0, -13, L"IDS_123" + kUp}, VerdictCase{0, -14, L"IDS_124IDS_93" + kUp},
        VerdictCase{0, -15, L"IDS_125" + kUp}, VerdictCase{0, -16, L"IDS_126" + kUp},
        VerdictCase{0, -17, L"IDS_127" + kUp}, VerdictCase{1, -1, L"IDS_111IDS_93" + kRep},
        VerdictCase{1, -3, L"IDS_113" + kRep}, VerdictCase{1, -14, L"IDS_124IDS_93" + kRep},
        VerdictCase{2, -17, L"IDS_127" + kRep}, VerdictCase{0, 5, L"IDS_101IDS_93" + kUp},
        VerdictCase{1, -18, L"IDS_101IDS_93" + kRep},
        VerdictCase{0, INT32_MIN, L"IDS_101IDS_93" + kUp},
        VerdictCase{0, INT32_MAX, L"IDS_101IDS_93" + kUp},
        VerdictCase{0, kJobThreadNotStarted, L"IDS_101IDS_93" + kUp}));

TEST(JobResult, FreezesTheJobShowsTheVerdictThenClearsInOrder) {
    CommandBench bench;
    bench.state.g_jobActive = 1;
    bench.state.g_upgradeRunning = 1;
    bench.state.g_repairRunning = 1;
    bench.state.g_autoConfirmLoader = 1;
    std::memset(&bench.state.g_deviceInfo, 0x5A, sizeof bench.state.g_deviceInfo);
    bench.view.answers = {mb::kIdOk};
    // Under the open box the job's state is still whole; it is cleared only
    // once the user has read the verdict.
    int32_t jobActiveUnderBox = -1, upgradeRunningUnderBox = -1;
    int32_t identityUnderBox = 0;
    bench.view.whileBoxShows = [&] {
        jobActiveUnderBox = bench.state.g_jobActive.load();
        upgradeRunningUnderBox = bench.state.g_upgradeRunning.load();
        identityUnderBox = bench.state.g_deviceInfo.identity;
    };

    ShowJobVerdict(bench.ctx, kModeUpgrade, 0);
    EXPECT_EQ(jobActiveUnderBox, 1);
    EXPECT_EQ(upgradeRunningUnderBox, 1);
    EXPECT_NE(identityUnderBox, 0);

    EXPECT_EQ(
        bench.view.Calls(),
        (Lines{L"timer stop IDT_ELAPSED", L"busy stop", L"box IDS_21 | Title | 64",
               L"text IDC_DEVICE_NAME ", L"text IDC_STATUS_LINE ", L"text IDC_DETAIL_LINE ",
               L"enable IDC_BROWSE 1", L"text IDC_DEVICE_SW_VERSION ",
               L"text IDC_DEVICE_LOADER_VERSION ", L"text IDC_ELAPSED_TIME ", L"busy reset"}));
    const DEVICE_INFO zero{};
    EXPECT_EQ(std::memcmp(&bench.state.g_deviceInfo, &zero, sizeof zero), 0);
    EXPECT_EQ(bench.state.g_jobActive.load(), 0);
    EXPECT_EQ(bench.state.g_upgradeRunning.load(), 0);
    EXPECT_EQ(bench.state.g_repairRunning.load(), 0);
    EXPECT_EQ(bench.state.g_autoConfirmLoader.load(), 1); // only the next click decides it
    EXPECT_EQ(bench.state.g_settings.FIRMWARE, L"C:\\fw\\update.img");
}

struct PromptCase {
    const char *name;
    unsigned kind;
    int32_t autoConfirm;
    int user; // the button chosen, 0 when no box may appear
    const wchar_t *box;
    int32_t answer;
};

class DevicePrompt : public testing::TestWithParam<PromptCase> {};

TEST_P(DevicePrompt, AsksOrAnswersByItself) {
    const PromptCase &c = GetParam();
    CommandBench bench;
    bench.state.g_autoConfirmLoader = c.autoConfirm;
    if (c.user != 0) bench.view.answers = {c.user};
    int32_t answer = 42;

    AnswerDevicePrompt(bench.ctx, c.kind, &answer);

    EXPECT_EQ(answer, c.answer);
    if (c.box == nullptr) {
        EXPECT_TRUE(bench.view.Calls().empty());
    } else {
        EXPECT_EQ(bench.view.Calls(), Lines{L"box " + std::wstring(c.box) + L" | - | 324"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DevicePrompt,
    testing::Values(
        PromptCase{"LoaderConfirmedBefore", 0, 1, 0, nullptr, 1},
        PromptCase{"LoaderYes", 0, 0, mb::kIdYes, L"IDS_128", 1},
        PromptCase{"LoaderNo", 0, 0, mb::kIdNo, L"IDS_128", 0},
        PromptCase{"Kind1Yes", 1, 1, mb::kIdYes, L"IDS_129", 1},
        PromptCase{"Kind1No", 1, 0, mb::kIdNo, L"IDS_129", 0},
        PromptCase{"Kind2Yes", 2, 1, mb::kIdYes, L"IDS_130", 1},
        // Enter answers the device's questions No.
        PromptCase{"LoaderEnter", 0, 0, fakes::RecordingView::kPressEnter, L"IDS_128", 0},
        PromptCase{"Kind1Enter", 1, 0, fakes::RecordingView::kPressEnter, L"IDS_129", 0},
        PromptCase{"Kind2Enter", 2, 0, fakes::RecordingView::kPressEnter, L"IDS_130", 0},
        PromptCase{"Kind3", 3, 1, 0, nullptr, 0},
        PromptCase{"HugeKind", 0xFFFFFFFFu, 1, 0, nullptr, 0}),
    [](const testing::TestParamInfo<PromptCase> &info) { return info.param.name; });

// A question nobody can read is answered No, and the user learns which
// text is missing instead of facing a blank Yes or No.
TEST(DevicePrompt, EmptyQuestionIsAnsweredNoWithANoticeNamingTheText) {
    for (unsigned kind : {0u, 1u, 2u}) {
        CommandBench bench;
        const std::wstring key = L"IDS_" + std::to_wstring(128 + kind);
        bench.texts.missing = {key};
        int32_t answer = 42;

        AnswerDevicePrompt(bench.ctx, kind, &answer);

        EXPECT_EQ(answer, 0) << kind;
        EXPECT_EQ(bench.view.Calls(), Lines{L"box missing " + key + L" | - | 16"}) << kind;
    }
}

TEST(DevicePrompt, NullAnswerAsksNothing) {
    CommandBench bench;
    for (unsigned kind : {0u, 1u, 2u, 3u})
        AnswerDevicePrompt(bench.ctx, kind, nullptr);
    EXPECT_TRUE(bench.view.Calls().empty());
}

} // namespace
