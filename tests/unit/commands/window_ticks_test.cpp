// Browse's filter and choice, the start tick, the elapsed-time tick and the
// exit procedure.
#include <gtest/gtest.h>

#include "commands/elapsed_time.h"
#include "commands/exit_procedure.h"
#include "commands/firmware_selection.h"
#include "commands/start_tick.h"
#include "device/job_codes.h"
#include "device/job_watch.h"
#include "tests/fakes/command_bench.h"

namespace {

using Lines = std::vector<std::wstring>;

// The entries as the Open dialog reads them: NUL-separated texts up to the
// empty one.
std::vector<std::wstring> FilterEntries(const std::wstring &filter) {
    std::vector<std::wstring> entries;
    const wchar_t *p = filter.c_str();
    while (*p != L'\0') {
        entries.emplace_back(p);
        p += entries.back().size() + 1;
    }
    return entries;
}

TEST(FirmwareFilter, NamesAndMatchesTheExtensionThenAllFiles) {
    for (const std::wstring ext : {L"IMG", L"bin"}) {
        const std::wstring filter = BuildFirmwareFilter(ext);
        EXPECT_EQ(FilterEntries(filter), (Lines{L"QV70 Firmware(*." + ext + L")", L"*." + ext,
                                                L"All Files(*.*)", L"*.*"}));
        ASSERT_GE(filter.size(), 2u);
        EXPECT_EQ(filter.substr(filter.size() - 2), std::wstring(2, L'\0'));
        EXPECT_EQ(filter.find(L'|'), std::wstring::npos);
    }
}

TEST(FirmwareChoice, UsableImageBecomesTheFirmware) {
    CommandBench bench;
    OnFirmwareChosen(bench.ctx, L"D:\\new.bin");
    EXPECT_EQ(bench.inspected, Lines{L"D:\\new.bin"});
    EXPECT_EQ(bench.view.Calls(), Lines{L"text IDC_FIRMWARE_PATH D:\\new.bin"});
    EXPECT_EQ(bench.state.g_settings.FIRMWARE, L"D:\\new.bin");
}

TEST(FirmwareChoice, RefusedImageForgetsTheEarlierChoice) {
    CommandBench bench;
    bench.imageUsable = false;
    OnFirmwareChosen(bench.ctx, L"D:\\broken.img");
    EXPECT_EQ(bench.inspected, Lines{L"D:\\broken.img"});
    EXPECT_EQ(bench.view.Calls(), (Lines{L"text IDC_FIRMWARE_PATH ", L"text IDC_IMAGE_SW_VERSION ",
                                         L"text IDC_IMAGE_LOADER_VERSION "}));
    EXPECT_TRUE(bench.state.g_settings.FIRMWARE.empty());
}

struct StartCase {
    const char *name;
    const wchar_t *firmware;
    bool usable;
    Lines calls;
    const wchar_t *firmwareAfter;
};

class StartTick : public testing::TestWithParam<StartCase> {};

TEST_P(StartTick, ChecksTheConfiguredImageThenStartsTheWatcher) {
    const StartCase &c = GetParam();
    CommandBench bench;
    bench.state.g_settings.FIRMWARE = c.firmware;
    bench.imageUsable = c.usable;

    EXPECT_TRUE(OnStartTick(bench.ctx));

    EXPECT_EQ(bench.view.Calls(), c.calls);
    EXPECT_EQ(bench.state.g_settings.FIRMWARE, c.firmwareAfter);
    EXPECT_EQ(bench.inspected.size(), *c.firmware != L'\0' ? 1u : 0u);
    EXPECT_EQ(bench.watchersStarted, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, StartTick,
    testing::Values(StartCase{"None",
                              L"",
                              true,
                              {L"timer stop IDT_START", L"text IDC_STATUS_LINE IDS_40",
                               L"text IDC_STATUS_LINE IDS_41"},
                              L""},
                    StartCase{"Refused",
                              L"C:\\a.img",
                              false,
                              {L"timer stop IDT_START", L"text IDC_STATUS_LINE IDS_40",
                               L"text IDC_FIRMWARE_PATH ", L"text IDC_STATUS_LINE IDS_41"},
                              L""},
                    StartCase{"Usable",
                              L"C:\\a.img",
                              true,
                              {L"timer stop IDT_START", L"text IDC_STATUS_LINE IDS_40",
                               L"text IDC_FIRMWARE_PATH C:\\a.img", L"text IDC_STATUS_LINE IDS_41"},
                              L"C:\\a.img"}),
    [](const testing::TestParamInfo<StartCase> &info) { return info.param.name; });

TEST(StartTick, ReportsAWatcherThatCouldNotStart) {
    CommandBench bench;
    bench.watcherStarts = false;
    EXPECT_FALSE(OnStartTick(bench.ctx));
}

TEST(ElapsedTime, MinutesAndSecondsWithoutALimit) {
    const std::pair<int64_t, const wchar_t *> cases[] = {
        {0, L"00:00"},     {59, L"00:59"}, {60, L"01:00"},    {3725, L"62:05"},
        {6000, L"100:00"}, {-1, L"00:00"}, {-3725, L"00:00"}, {int64_t{1} << 40, L"18325193796:16"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatElapsed(c.first), c.second) << c.first;
}

TEST(ElapsedTime, TickShowsTheTimeSinceTheJobStarted) {
    CommandBench bench;
    bench.state.g_jobStartTime = bench.clock.NowSeconds() - 3725;
    OnElapsedTick(bench.ctx);
    bench.clock.epochSeconds -= 7200; // the clock was set back under the job
    OnElapsedTick(bench.ctx);
    EXPECT_EQ(bench.view.Calls(),
              (Lines{L"text IDC_ELAPSED_TIME 62:05", L"text IDC_ELAPSED_TIME 00:00"}));
}

// The window's clock tick also looks after the job: a thread that never
// began ends the job as its own result would, and a library call long past
// its limit is named on the detail line, once, without being stopped.
TEST(ElapsedTime, TickEndsAJobWhoseThreadNeverBeganAndNamesAStepThatHangs) {
    CommandBench bench;
    bench.texts.table[L"IDS_236"] = L"IDS_236:%s";
    JobWatch watch;
    bench.ctx.watch = &watch;
    bench.state.g_repairRunning = 1;
    bool ran = false;
    ASSERT_TRUE(StartWatchedJob(
        watch, bench.clock.TickMs(), [](std::function<void()>) { return true; }, // never runs
        [&] { ran = true; }));
    bench.clock.SleepMs(kJobThreadStartLimitMs - 1);
    OnElapsedTick(bench.ctx);
    EXPECT_TRUE(bench.view.Of(fakes::RecordingView::Event::Post).empty()) << "not before the limit";
    bench.clock.SleepMs(1);
    OnElapsedTick(bench.ctx);
    OnElapsedTick(bench.ctx);
    const auto posts = bench.view.Of(fakes::RecordingView::Event::Post);
    ASSERT_EQ(posts.size(), 1u) << "ended once";
    EXPECT_EQ(posts[0].id, kModeRepair);
    EXPECT_EQ(posts[0].value, kJobThreadNotStarted);

    // The next job's thread begins at once; its download then hangs.
    bench.view.Clear();
    std::function<void()> body;
    ASSERT_TRUE(StartWatchedJob(
        watch, bench.clock.TickMs(),
        [&](std::function<void()> start) {
            body = std::move(start);
            return true;
        },
        [&] {
            ran = true;
            watch.StepBegins(job_step::kDownload, bench.clock.TickMs());
        }));
    body();
    EXPECT_TRUE(ran);
    bench.clock.SleepMs(job_step::kDownload.limitMs);
    OnElapsedTick(bench.ctx);
    OnElapsedTick(bench.ctx);
    EXPECT_TRUE(bench.view.Of(fakes::RecordingView::Event::Post).empty())
        << "a hanging step is not ended";
    EXPECT_EQ(bench.view.Shown(IDC_DETAIL_LINE), L"IDS_236:QV_DownloadImage (5400 s)");
    int detailWrites = 0;
    for (const std::wstring &call : bench.view.Calls())
        detailWrites += call.rfind(L"text IDC_DETAIL_LINE", 0) == 0 ? 1 : 0;
    EXPECT_EQ(detailWrites, 1) << "named once";

    // A late thread of the first job finds it taken back.
    ran = false;
    std::function<void()> late;
    ASSERT_TRUE(StartWatchedJob(
        watch, bench.clock.TickMs(),
        [&](std::function<void()> start) {
            late = std::move(start);
            return true;
        },
        [&] { ran = true; }));
    bench.clock.SleepMs(kJobThreadStartLimitMs);
    OnElapsedTick(bench.ctx);
    late();
    EXPECT_FALSE(ran) << "a thread later than its owner's limit leaves the device alone";
}

struct ExitBench : CommandBench {
    ExitBench() {
        state.g_tempFolder = L"C:\\temp\\";
        state.g_loaderFilePath = L"C:\\temp\\QVBOOT.BIN";
        files.AddFile(state.g_loaderFilePath);
        state.g_libraryInitialized = 1;
    }
};

TEST(ExitProcedure, AsksAccordingToTheRunningJob) {
    // During a job the question defaults to No (MB_DEFBUTTON2): 308, not 52.
    const struct {
        int32_t upgrade, repair;
        const wchar_t *box;
        int answer;
    } cases[] = {{0, 0, L"IDS_50 | Title | 52", mb::kIdNo},
                 {1, 0, L"IDS_49 | Title | 308", mb::kIdNo},
                 {0, 1, L"IDS_49 | Title | 308", mb::kIdNo},
                 {1, 0, L"IDS_49 | Title | 308", fakes::RecordingView::kPressEnter},
                 {0, 1, L"IDS_49 | Title | 308", fakes::RecordingView::kPressEnter}};
    for (const auto &c : cases) {
        ExitBench bench;
        bench.state.g_upgradeRunning = c.upgrade;
        bench.state.g_repairRunning = c.repair;
        bench.view.answers = {c.answer};
        EXPECT_FALSE(RunExitProcedure(bench.ctx));
        // No: the window, the job, the loader file and the library stay.
        EXPECT_EQ(bench.view.Calls(), Lines{L"box " + std::wstring(c.box)});
        EXPECT_TRUE(bench.files.CallsOf(L"RemoveFile").empty());
        EXPECT_EQ(bench.LibraryReleases(), 0);
        EXPECT_FALSE(bench.gate.IsClosed());
        EXPECT_EQ(bench.state.g_upgradeRunning.load(), c.upgrade);
    }
}

TEST(ExitProcedure, YesStopsTheWorkersAndReleasesEverything) {
    ExitBench bench;
    bench.view.answers = {mb::kIdYes};
    EXPECT_TRUE(RunExitProcedure(bench.ctx));
    EXPECT_EQ(bench.view.Calls(), (Lines{L"box IDS_50 | Title | 52", L"busy stop"}));
    EXPECT_TRUE(bench.gate.IsClosed());
    EXPECT_FALSE(bench.gate.Enter());
    EXPECT_EQ(bench.files.CallsOf(L"RemoveFile"), Lines{L"C:\\temp\\QVBOOT.BIN"});
    EXPECT_EQ(bench.LibraryReleases(), 1);
}

TEST(ExitProcedure, DeletesAndReleasesOnlyWhatIsThere) {
    ExitBench bench;
    bench.files.Clear();
    bench.state.g_libraryInitialized = 0;
    bench.view.answers = {mb::kIdYes};
    EXPECT_TRUE(RunExitProcedure(bench.ctx));
    EXPECT_TRUE(bench.files.CallsOf(L"RemoveFile").empty());
    EXPECT_EQ(bench.LibraryReleases(), 0);

    ExitBench noTemp;
    noTemp.files.Clear();
    noTemp.state.g_tempFolder.clear();
    noTemp.state.g_loaderFilePath.clear();
    noTemp.files.AddFile(L"QVBOOT.BIN"); // never one of the working folder
    noTemp.view.answers = {mb::kIdYes};
    EXPECT_TRUE(RunExitProcedure(noTemp.ctx));
    EXPECT_TRUE(noTemp.files.CallsOf(L"RemoveFile").empty());
}

// A refused image or a failed extraction clears g_loaderFilePath but may
// leave an old or partial loader behind: the exit removes it all the same.
TEST(ExitProcedure, DeletesTheOwnLoaderFileAfterARefusedImage) {
    ExitBench bench;
    bench.state.g_loaderFilePath.clear();
    bench.view.answers = {mb::kIdYes};
    EXPECT_TRUE(RunExitProcedure(bench.ctx));
    EXPECT_EQ(bench.files.CallsOf(L"RemoveFile"), Lines{L"C:\\temp\\QVBOOT.BIN"});
    EXPECT_FALSE(bench.files.HasFile(L"C:\\temp\\QVBOOT.BIN"));
}

// A job step blocked inside the library outlasts the wait: the library is
// not released under it.
TEST(ExitProcedure, KeepsTheLibraryForAStepStillInsideIt) {
    ExitBench bench;
    ASSERT_TRUE(bench.gate.Enter());
    int pumped = 0;
    bench.ctx.pump = [&pumped](uint32_t) { ++pumped; };
    bench.view.answers = {mb::kIdYes};
    EXPECT_TRUE(RunExitProcedure(bench.ctx));
    EXPECT_GT(pumped, 0);
    EXPECT_EQ(bench.LibraryReleases(), 0);
    EXPECT_EQ(bench.files.CallsOf(L"RemoveFile"), Lines{L"C:\\temp\\QVBOOT.BIN"});
    bench.gate.Leave();
}

} // namespace
