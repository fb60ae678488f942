// The station's session on the window's own logic with the device fakes: a
// device found, checked, written and recorded; the questions answered from
// the flags; several devices; a refused image; JSON; Ctrl+C during a job.
#include "station/station_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "device/device_watcher.h"
#include "station/station_codes.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fakes/record_fakes.h"

namespace {

using fakes::FakeRecordStore;
using fakes::MakeDevice;
using namespace fakes::record_columns;

const std::wstring kRecordFile = L"C:\\QV\\Log\\jobs.csv";
// How long a test waits for the outbox's thread to write a line.
constexpr int kRecordWaitTries = 100;
constexpr int kRecordWaitSliceMs = 50;

class FakeOutput : public IStationOutput {
  public:
    std::vector<std::wstring> out, err;
    // What happens elsewhere the moment a line is printed.
    std::function<void(const std::wstring &line)> onOut;
    void Out(const std::wstring &line) override {
        out.push_back(line);
        if (onOut) onOut(line);
    }
    void Err(const std::wstring &line) override { err.push_back(line); }
    std::wstring TimeStamp() override { return L"T"; }
    static bool Has(const std::vector<std::wstring> &lines, const std::wstring &part) {
        for (const std::wstring &line : lines)
            if (line.find(part) != std::wstring::npos) return true;
        return false;
    }
    static int Count(const std::vector<std::wstring> &lines, const std::wstring &part) {
        int n = 0;
        for (const std::wstring &line : lines)
            n += line.find(part) != std::wstring::npos ? 1 : 0;
        return n;
    }
};

// A program folder with setting.ini and an English file whose every text is
// its key: "<IDS_89>", formats "<IDS_30:%s>".
void WriteProgramFolder(FakeFileSystem &files) {
    files.AddTextFile(L"C:\\QV\\setting.ini", L"[MSC_ID]\nNAME=QV70 Tablet\n"
                                              L"[DEVICE_ID]\nNAME=QV70 Loader\n"
                                              L"[SYSTEM]\nLANGUAGE=English\n"
                                              L"JOB_RECORD=Log\\jobs.csv\n");
    std::wstring language = L"[Setting]\nLanguage=English\n[String]\n";
    for (int key : {20,  21,  28,  29,  31,  38,  44,  47,  53,  54,  81,  82,  88,  89,  90,  91,
                    92,  93,  101, 102, 103, 104, 106, 237, 107, 108, 109, 110, 111, 112, 113, 114,
                    115, 116, 117, 118, 119, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 200,
                    201, 202, 203, 206, 260, 262, 263, 264, 265, 266, 269, 278, 290, 296})
        language += L"IDS_" + std::to_wstring(key) + L"=<IDS_" + std::to_wstring(key) + L">\n";
    for (int key : {6,   30,  204, 205, 207, 230, 231, 232, 233, 234, 235, 236, 238,
                    250, 251, 261, 267, 268, 270, 271, 272, 273, 274, 275, 276, 277,
                    279, 280, 281, 282, 291, 292, 293, 294, 295, 297, 298, 299})
        language += L"IDS_" + std::to_wstring(key) + L"=<IDS_" + std::to_wstring(key) + L":%s>\n";
    files.AddTextFile(L"C:\\QV\\Language\\English.ini", language);
    files.AddFile(L"C:\\Images\\update.img", "image");
}

// The station's world: the window's logic on fakes. The watcher runs when
// the test says; a job runs on the spot and its result waits in a queue, as
// a posted message waits for the main loop.
struct Station {
    FakeFileSystem files;
    IniProfileFake profile{files};
    Latin1TextCodec codec;
    fakes::FakeClock clock;
    fakes::FakeDeviceLibrary library;
    fakes::FakeProcessRunner runner;
    fakes::FakeSystemInfo system;
    FakeRecordStore store;
    fakes::FakeRecordFiles recordFiles;
    FakeOutput output;
    ProcessState state;
    WorkerGate gate;
    Platform platform{profile, files, codec, clock};
    std::deque<std::pair<int, int>> results;
    int threads = 0;
    StationOptions options;
    // The fleet database the session makes, when a test gives it one.
    std::function<std::unique_ptr<IRecordDestination>(const std::wstring &, const std::wstring &)>
        makeDatabase;
    std::unique_ptr<StationSession> session;
    DEVICE_INFO working{};
    bool stop = false;
    std::atomic<unsigned> ctrlCPresses{0};
    // What becomes of a job's thread: run on the spot, refused by the
    // system, started but never running its body, or a real thread of its
    // own (joined by the test).
    enum class JobThread {
        OnTheSpot,
        Refused,
        NeverRuns,
        OwnThread
    } jobThread = JobThread::OnTheSpot;
    std::thread ownThread;

    explicit Station(std::vector<std::wstring> args = {L"--upgrade", L"C:\\Images\\update.img"}) {
        WriteProgramFolder(files);
        state.g_programFolder = L"C:\\QV\\";
        state.g_tempFolder = L"C:\\Temp\\";
        std::wstring error;
        EXPECT_TRUE(ParseStationArguments(args, options, error));
        library.imageLoaderVersion = 0x0205; // the same as the device's: no loader question
    }

    // import: --import-records runs after the settings instead of a job.
    int Start(bool import = false) {
        StationServices services{state,
                                 library,
                                 platform,
                                 runner,
                                 system,
                                 store,
                                 output,
                                 gate,
                                 [this](std::function<void()> body) {
                                     // The first thread is the watcher, run
                                     // cycle by cycle by the test.
                                     if (threads++ == 0) return true;
                                     switch (jobThread) {
                                     case JobThread::Refused:
                                         return false;
                                     case JobThread::NeverRuns:
                                         return true;
                                     case JobThread::OwnThread:
                                         ownThread = std::thread(std::move(body));
                                         return true;
                                     case JobThread::OnTheSpot:
                                         break;
                                     }
                                     body();
                                     return true;
                                 },
                                 [this](int mode, int code) {
                                     results.push_back({mode, code});
                                 },
                                 nullptr,
                                 &recordFiles,
                                 &recordFiles,
                                 nullptr,
                                 makeDatabase,
                                 [](std::function<void()> task) {
                                     task(); // the image's digest, on the spot
                                     return true;
                                 },
                                 [this] { return ctrlCPresses.load(); },
                                 L"station"};
        session = std::make_unique<StationSession>(services, options);
        const int loaded = session->LoadSettings();
        if (loaded != 0) return loaded;
        if (import) return session->ImportCommand();
        return session->Prepare(clock.TickMs());
    }
    // The record file's lines as they stand, the header first. The outbox
    // writes them on a thread of its own: at least this many are waited for
    // (a few seconds at most) before they are read.
    std::vector<std::string> RecordLines(size_t atLeast = 0) {
        std::vector<std::string> lines;
        for (int tries = 0; tries < kRecordWaitTries; ++tries) {
            lines.clear();
            const std::string bytes = recordFiles.Bytes(kRecordFile);
            for (size_t at = 0; at < bytes.size();) {
                const size_t end = bytes.find("\r\n", at);
                if (end == std::string::npos) break;
                lines.push_back(bytes.substr(at, end + 2 - at));
                at = end + 2;
            }
            if (lines.size() >= atLeast) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kRecordWaitSliceMs));
        }
        return lines;
    }
    // The record's field of line i (0 is the header).
    std::string Field(size_t line, size_t column) {
        const std::vector<std::string> lines = RecordLines(line + 1);
        if (line >= lines.size()) return "<no line>";
        std::string field;
        size_t at = 0;
        const std::string &text = lines[line];
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == ',') {
                if (at++ == column) return field;
                field.clear();
            } else if (text[i] != '\r' && text[i] != '\n') {
                field += text[i];
            }
        }
        return at == column ? field : "<no field>";
    }
    // One watcher cycle and one round of the main loop, 200 ms later.
    void Round() {
        if (gate.BeginWatchCycle(state.g_jobActive)) {
            RunWatchCycle(session->Device(), working);
            gate.EndWatchCycle();
        }
        clock.SleepMs(200);
        while (!results.empty()) {
            const auto result = results.front();
            results.pop_front();
            session->OnJobResult(result.first, result.second, clock.TickMs(), stop);
        }
        session->Tick(clock.TickMs(), stop);
    }
};

// Rounds until the session has finished, at most the given number.
void RunUntilFinished(Station &s, int rounds = 20) {
    for (int i = 0; i < rounds && !s.session->Finished(); ++i)
        s.Round();
}

TEST(StationSession, OneUpgradeFromDeviceToRecord) {
    Station s;
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    RunUntilFinished(s);
    ASSERT_TRUE(s.session->Finished());
    EXPECT_EQ(s.session->ExitCode(), 0);
    EXPECT_TRUE(s.library.Called("QV_DownloadImage"));

    const auto &out = s.output.out;
    EXPECT_TRUE(FakeOutput::Has(out, L"T  <IDS_234:60>"));
    EXPECT_TRUE(FakeOutput::Has(out, L"T  QV70 Tablet  <IDS_30:QV70 Tablet>"));
    EXPECT_TRUE(FakeOutput::Has(out, L"<IDS_44>"));
    EXPECT_TRUE(FakeOutput::Has(out, L"<IDS_89>"));
    EXPECT_TRUE(FakeOutput::Has(out, L"<IDS_92>"));
    // Outcome, serial, versions (the image's as the target), the station's words.
    EXPECT_TRUE(FakeOutput::Has(out, L"<IDS_260>  SN0001  4.4.2 -> 1.2.3  <IDS_262>"));
    EXPECT_FALSE(FakeOutput::Has(out, L"<IDS_21>")) << "the window's wording sends to the window";
    EXPECT_TRUE(s.output.err.empty());

    s.library.deviceSystemText = "1.2.3";
    s.Round(); // the device is back, announced with its new version
    s.session->Shutdown();
    ASSERT_EQ(s.RecordLines().size(), 2u);
    const std::string line = s.RecordLines()[1];
    EXPECT_NE(
        line.find(",upgrade,4,QV70 Tablet,SN0001,4.4.2,2.05,C:\\Images\\update.img,1.2.3,2.05,"),
        std::string::npos)
        << line;
    EXPECT_NE(line.find(",0,IDS_21,<IDS_21>,1.2.3,"), std::string::npos) << line;
}

// A pass is proven by the device back with the image's software (1.2.3);
// back with its old one (4.4.2) it was written but not verified: a line says
// so, a one-job run ends with its own code and the loop counts it as not
// done.
TEST(StationSession, APassNotVerifiedHasItsLineAndCode) {
    const struct {
        const char *name;
        bool loop;
        const char *backWith;
        const wchar_t *verifySetting; // [SYSTEM] line, or empty
        int exitCode;
        const char *verified;
    } cases[] = {
        {"back with the image's software", false, "1.2.3", L"", station_exit::kSuccess, "yes"},
        {"back with its old software", false, "4.4.2", L"", station_exit::kWrittenNotVerified,
         "no"},
        {"the comparison switched off", false, "4.4.2", L"VERIFY_VERSION=0\n",
         station_exit::kSuccess, ""},
        {"the loop: back with its old software", true, "4.4.2", L"", station_exit::kSomeJobsFailed,
         "no"},
        {"the loop: back with the image's software", true, "1.2.3", L"", station_exit::kSuccess,
         "yes"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> args = {L"--upgrade", L"C:\\Images\\update.img"};
        if (c.loop) args.insert(args.end(), {L"--station", L"--wait", L"2"});
        Station s(args);
        s.files.AddTextFile(L"C:\\QV\\setting.ini", std::wstring(L"[MSC_ID]\nNAME=QV70 Tablet\n"
                                                                 L"[SYSTEM]\nLANGUAGE=English\n"
                                                                 L"JOB_RECORD=Log\\jobs.csv\n") +
                                                        c.verifySetting);
        ASSERT_EQ(s.Start(), 0);
        s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
        s.Round();
        s.Round(); // the verdict
        s.library.deviceSystemText = c.backWith;
        s.Round(); // back, announced with its version
        s.library.finds = {{0, DEVICE_INFO{}}};
        RunUntilFinished(s, 40);
        ASSERT_TRUE(s.session->Finished());
        s.session->Shutdown();
        EXPECT_EQ(s.session->ExitCode(), c.exitCode);
        EXPECT_EQ(s.Field(1, kColVerified), c.verified);
        const std::wstring line = std::wstring(L"QV70 Tablet SN0001  <IDS_250:") +
                                  std::wstring(c.backWith, c.backWith + 5) + L">";
        EXPECT_EQ(FakeOutput::Has(s.output.err, line), std::string(c.verified) == "no");
        if (!c.loop) continue;
        // The summary's figures: a pass not proven is not a pass.
        const bool proven = std::string(c.verified) == "yes";
        EXPECT_EQ(s.session->Loop().Tally().Passed(), proven ? 1 : 0);
        EXPECT_EQ(s.session->Loop().Tally().NotVerifiedCount(), proven ? 0 : 1);
    }
}

// --skip-done: only a verified pass (result 0, verified yes) of the same
// device with the same image (its SHA-256, "ab12" here) leaves the device
// alone; it says when and where, and the record has a line for it.
TEST(StationSession, ADeviceWithAVerifiedPassOfThisImageIsNotWrittenAgain) {
    const struct {
        const char *name;
        bool skipDone;
        const char *serial, *sha, *code, *verified;
        bool skipped;
    } cases[] = {
        {"a verified pass of this image", true, "SN0001", "ab12", "0", "yes", true},
        {"without --skip-done", false, "SN0001", "ab12", "0", "yes", false},
        {"a pass not verified", true, "SN0001", "ab12", "0", "no", false},
        {"a pass never compared", true, "SN0001", "ab12", "0", "", false},
        {"a failed job", true, "SN0001", "ab12", "-9", "", false},
        {"another image", true, "SN0001", "cd34", "0", "yes", false},
        {"another device", true, "SN0002", "ab12", "0", "yes", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> args = {L"--upgrade", L"C:\\Images\\update.img"};
        if (c.skipDone) args.push_back(L"--skip-done");
        Station s(args);
        JobRecordFields earlier;
        earlier.jobId = L"0123456789abcdef0123456789abcdef";
        earlier.endSeconds = 1796731403; // 2026-12-08T12:03:23Z
        earlier.computer = L"LINE-2";
        earlier.deviceSerial = std::wstring(c.serial, c.serial + 6);
        earlier.imageSha256 = std::wstring(c.sha, c.sha + 4);
        earlier.resultCode = std::stoi(c.code);
        earlier.verified = std::wstring(c.verified, c.verified + std::strlen(c.verified));
        s.recordFiles.files[kRecordFile] =
            "\xEF\xBB\xBF" + JobRecordHeaderLine() + JobRecordLine(earlier);
        ASSERT_EQ(s.Start(), 0);
        s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
        RunUntilFinished(s);
        ASSERT_TRUE(s.session->Finished());
        s.library.deviceSystemText = "1.2.3";
        s.Round();
        s.session->Shutdown();
        EXPECT_EQ(s.session->ExitCode(), station_exit::kSuccess);
        EXPECT_EQ(s.library.Called("QV_Upgrade"), !c.skipped);
        EXPECT_EQ(FakeOutput::Has(s.output.out,
                                  L"QV70 Tablet SN0001  <IDS_251:2026-12-08T12:03:23Z, LINE-2> "
                                  L"[-103]"),
                  c.skipped);
        ASSERT_EQ(s.RecordLines(3).size(), 3u);
        EXPECT_EQ(s.Field(2, kColCode), c.skipped ? std::to_string(kJobAlreadyDone) : "0");
        EXPECT_EQ(s.Field(2, kColKey), c.skipped ? "ALREADY_DONE" : "IDS_21");
        EXPECT_EQ(s.Field(2, kColSha), "ab12");
    }
}

// The command line is the station's confirmation: a language file without
// the window's confirmation texts (and no English file to fall back to)
// must not refuse every job for a box the station never shows.
TEST(StationSession, ALanguageFileWithoutTheConfirmationTextsStillRunsTheJob) {
    for (const wchar_t *mode : {L"--upgrade", L"--repair"}) {
        Station s({mode, L"C:\\Images\\update.img"});
        std::wstring language = L"[Setting]\nLanguage=English\n[String]\n";
        for (int key : {21, 44, 89, 92, 101, 200})
            language += L"IDS_" + std::to_wstring(key) + L"=<IDS_" + std::to_wstring(key) + L">\n";
        s.files.AddTextFile(L"C:\\QV\\Language\\English.ini", language);
        ASSERT_EQ(s.Start(), 0);
        s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
        RunUntilFinished(s);
        EXPECT_EQ(s.session->ExitCode(), 0) << mode;
        EXPECT_TRUE(s.library.Called("QV_DownloadImage")) << mode;
    }
}

TEST(StationSession, TheDatabaseIsTheSettingsUnlessTheCommandLineNamesOne) {
    const std::wstring settings = L"[SYSTEM]\nLANGUAGE=English\nJOB_DATABASE=DSN=line\n";
    Station fromSettings;
    fromSettings.files.AddTextFile(L"C:\\QV\\setting.ini", settings);
    ASSERT_EQ(fromSettings.Start(), 0);
    EXPECT_EQ(fromSettings.session->DatabaseConnection(), L"DSN=line");

    Station fromCommandLine({L"--upgrade", L"C:\\Images\\update.img", L"--database", L"DSN=bench"});
    fromCommandLine.files.AddTextFile(L"C:\\QV\\setting.ini", settings);
    ASSERT_EQ(fromCommandLine.Start(), 0);
    EXPECT_EQ(fromCommandLine.session->DatabaseConnection(), L"DSN=bench");

    Station none;
    ASSERT_EQ(none.Start(), 0);
    EXPECT_EQ(none.session->DatabaseConnection(), L"");
}

TEST(StationSession, AQuestionAnsweredNoNamesTheFlagThatWouldHaveSaidYes) {
    Station s;
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    s.library.onUpgrade = [&] {
        int32_t answer = -1;
        s.session->OnDevicePrompt(1, &answer); // as the library sends it
        return answer == 1 ? 0 : -4;
    };
    RunUntilFinished(s);
    EXPECT_EQ(s.session->ExitCode(), -3);
    EXPECT_TRUE(FakeOutput::Has(
        s.output.out, L"<IDS_261:-3>  SN0001  4.4.2 -> 1.2.3  <IDS_265> <IDS_205:--yes-continue>"));
}

TEST(StationSession, TheFlagsSayYesToTheirQuestions) {
    Station s({L"--upgrade", L"C:\\Images\\update.img", L"--yes-continue", L"--yes-anyway"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    std::vector<int32_t> answers;
    s.library.onUpgrade = [&] {
        for (unsigned kind : {0u, 1u, 2u, 3u}) {
            int32_t answer = -1;
            s.session->OnDevicePrompt(kind, &answer);
            answers.push_back(answer);
        }
        return 0;
    };
    RunUntilFinished(s);
    EXPECT_EQ(s.session->ExitCode(), 0);
    // Kind 0 without --yes-loader is No; kind 3 is unknown and always No.
    EXPECT_EQ(answers, (std::vector<int32_t>{0, 1, 1, 0}));
}

TEST(StationSession, TheLoaderQuestionBeforeTheJobNeedsItsFlag) {
    for (bool flag : {false, true}) {
        std::vector<std::wstring> args = {L"--upgrade", L"C:\\Images\\update.img"};
        if (flag) args.push_back(L"--yes-loader");
        Station s(args);
        s.library.imageLoaderVersion = 0x0129; // older than the device's 2.05
        ASSERT_EQ(s.Start(), 0);
        s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
        RunUntilFinished(s);
        if (flag) {
            EXPECT_EQ(s.session->ExitCode(), 0);
            EXPECT_EQ(s.state.g_autoConfirmLoader.load(), 1);
            int32_t answer = -1;
            s.session->OnDevicePrompt(0, &answer);
            EXPECT_EQ(answer, 1) << "confirmed before the job";
        } else {
            EXPECT_EQ(s.session->ExitCode(), station_exit::kJobRefused);
            EXPECT_FALSE(s.library.Called("QV_Upgrade"));
            // Reported, not asked: one line that says what the No means.
            EXPECT_FALSE(FakeOutput::Has(s.output.err, L"<IDS_128>"));
            EXPECT_EQ(FakeOutput::Count(s.output.err, L"<IDS_269>"), 1);
            s.session->Shutdown();
            EXPECT_EQ(s.Field(1, kColCode), std::to_string(kJobRefusedByChecks));
            EXPECT_EQ(s.Field(1, kColKey), "IDS_128") << "the refusal's key";
        }
    }
}

TEST(StationSession, SeveralDevicesAreRefusedOnceAsTheWindowRefusesThem) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{2, DEVICE_INFO{}}};
    for (int i = 0; i < 5; ++i)
        s.Round();
    EXPECT_EQ(FakeOutput::Count(s.output.err, L"<IDS_109>"), 1);
    EXPECT_FALSE(s.library.Called("QV_Upgrade"));

    s.library.finds = {{1, MakeDevice(7, QV_DEVICE_MSC)}};
    for (int i = 0; i < 5 && !s.library.Called("QV_Upgrade"); ++i)
        s.Round();
    EXPECT_TRUE(s.library.Called("QV_Upgrade"));
    EXPECT_EQ(s.session->Loop().JobsRun(), 1);
}

TEST(StationSession, ARefusedImageEndsBeforeAnyDevice) {
    Station s;
    s.library.loaderVersionResult = 0;
    EXPECT_EQ(s.Start(), station_exit::kImageRefused);
    EXPECT_TRUE(FakeOutput::Has(s.output.err, L"<IDS_104>"));
    EXPECT_FALSE(s.library.Called("QV_FindDevice"));
}

TEST(StationSession, JsonPrintsOneObjectPerJobAndNothingElseOnTheOutput) {
    Station s({L"--upgrade", L"C:\\Images\\update.img", L"--json"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    RunUntilFinished(s);
    s.Round();
    s.session->Shutdown();
    ASSERT_EQ(s.output.out.size(), 1u);
    const std::wstring &json = s.output.out[0];
    EXPECT_EQ(json.front(), L'{');
    EXPECT_NE(json.find(L"\"result_code\":0"), std::wstring::npos);
    EXPECT_NE(json.find(L"\"device_serial\":\"SN0001\""), std::wstring::npos);
    EXPECT_NE(json.find(L"\"declined_by\":\"\""), std::wstring::npos);
    EXPECT_TRUE(FakeOutput::Has(s.output.err, L"<IDS_89>")) << "the lines go to the error stream";
}

TEST(StationSession, CtrlCDuringAJobLetsItFinishAndRecordsIt) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    s.Round(); // the job starts; its result waits in the queue
    ASSERT_EQ(s.session->Loop().State(), StationState::JobRunning);
    s.stop = true; // Ctrl+C before the result is handled
    s.session->Tick(s.clock.TickMs(), true);
    EXPECT_EQ(s.session->Loop().State(), StationState::JobRunning);
    EXPECT_TRUE(FakeOutput::Has(s.output.out, L"<IDS_202>"));
    s.Round();
    EXPECT_EQ(s.session->Loop().State(), StationState::Finished);
    EXPECT_TRUE(FakeOutput::Has(s.output.out, L"<IDS_260>"));
    EXPECT_TRUE(FakeOutput::Has(s.output.out, L"<IDS_203>") == false);
    s.session->Shutdown();
    EXPECT_EQ(s.RecordLines().size(), 2u);
    EXPECT_EQ(s.session->ExitCode(), station_exit::kSuccess);
}

// A spreadsheet holds the record: each line that waits is named on the
// error stream, the count at the end, and the line stays in the outbox.
TEST(StationSession, ARecordHeldOpenKeepsTheLineAndSaysSo) {
    Station s;
    s.recordFiles.held = true;
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    RunUntilFinished(s);
    s.Round(); // the device is back
    s.session->Shutdown();
    EXPECT_TRUE(s.RecordLines().empty());
    EXPECT_TRUE(FakeOutput::Has(s.output.err, L"<IDS_207:" + kRecordFile + L": held open"));
    EXPECT_EQ(FakeOutput::Count(s.output.err, L"<IDS_231:"), 1);
    EXPECT_TRUE(FakeOutput::Has(s.output.err, L"<IDS_230:1>"));
    const QueueListing queue = ListRecordQueue(s.recordFiles, RecordQueueRoot(L"C:\\QV\\"));
    ASSERT_EQ(queue.waiting.size(), 1u) << "kept on this computer";
    EXPECT_EQ(queue.waiting[0].destinationName, FileDestinationName(kRecordFile));
}

// A record path that cannot work is said at the start, before any device;
// the run goes on, its lines waiting in the queue.
TEST(StationSession, ARecordPathThatCannotWorkIsSaidAtTheStart) {
    Station s;
    s.recordFiles.unmakeable.insert(kRecordFile);
    ASSERT_EQ(s.Start(), 0);
    EXPECT_TRUE(FakeOutput::Has(s.output.err, L"<IDS_207:" + kRecordFile + L": the folder"));
    EXPECT_TRUE(FakeOutput::Has(s.output.err, L"<IDS_278>"));
    EXPECT_EQ(s.session->Loop().State(), StationState::WaitingForDevice);
}

// One job of a station that writes to a database made as the test says; the
// database, which the session owns.
fakes::FakeDestination *OneJobWithDatabase(Station &s,
                                           std::function<void(fakes::FakeDestination &)> make) {
    fakes::FakeDestination *database = nullptr;
    s.makeDatabase = [&](const std::wstring &, const std::wstring &) {
        auto made = std::make_unique<fakes::FakeDestination>();
        make(*made);
        database = made.get();
        return std::unique_ptr<IRecordDestination>(std::move(made));
    };
    EXPECT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    RunUntilFinished(s);
    s.Round(); // the device is back
    s.session->Shutdown();
    return database;
}

// The server refuses: the reason once on the error stream, the count of the
// rows kept at the end, and the row in the database's own queue, apart from
// the record file, which is written.
TEST(StationSession, ADatabaseAwayKeepsTheRowInItsOwnQueueAndSaysSo) {
    Station s({L"--upgrade", L"C:\\Images\\update.img", L"--database", L"DSN=line"});
    ASSERT_NE(OneJobWithDatabase(s, [](fakes::FakeDestination &d) { d.failing = true; }), nullptr);
    EXPECT_EQ(s.RecordLines().size(), 2u);
    EXPECT_EQ(FakeOutput::Count(s.output.err, L"<IDS_207:database: the server does not answer>"),
              1);
    EXPECT_TRUE(FakeOutput::Has(s.output.err, L"<IDS_232:1>"));
    EXPECT_FALSE(FakeOutput::Has(s.output.err, L"<IDS_230:"));
    const QueueListing queue = ListRecordQueue(s.recordFiles, RecordQueueRoot(L"C:\\QV\\"));
    ASSERT_EQ(queue.waiting.size(), 1u);
    EXPECT_EQ(queue.waiting[0].destinationName, kDatabaseDestinationName);
}

// Rows that go without some of their columns are said to, once, and are not
// said to be unwritten.
TEST(StationSession, ATableWithoutSomeColumnsIsSaidOnceAndTheRowIsWritten) {
    Station s({L"--upgrade", L"C:\\Images\\update.img", L"--database", L"DSN=line"});
    fakes::FakeDestination *database = OneJobWithDatabase(
        s, [](fakes::FakeDestination &d) { d.notice = L"the table has no column operator"; });
    ASSERT_NE(database, nullptr);
    EXPECT_EQ(database->HeldIds().size(), 1u);
    EXPECT_EQ(
        FakeOutput::Count(s.output.err, L"<IDS_282:database: the table has no column operator>"),
        1);
    EXPECT_FALSE(FakeOutput::Has(s.output.err, L"<IDS_207:"));
}

// What an import cannot do without is said, in the language of the station.
TEST(StationSession, AnImportNeedsADatabaseAndARecordFile) {
    Station none({L"--import-records", L"C:\\Data\\bench1.csv"});
    EXPECT_EQ(none.Start(true), station_exit::kImportIncomplete);
    EXPECT_TRUE(FakeOutput::Has(none.output.err, L"<IDS_296>"));

    Station missing({L"--import-records", L"C:\\Data\\gone.csv", L"--database", L"DSN=line"});
    missing.makeDatabase = [](const std::wstring &, const std::wstring &) {
        return std::make_unique<fakes::FakeDestination>();
    };
    EXPECT_EQ(missing.Start(true), station_exit::kImportIncomplete);
    EXPECT_TRUE(FakeOutput::Has(missing.output.err, L"<IDS_297:C:\\Data\\gone.csv>"));

    Station other({L"--import-records", L"C:\\Data\\list.csv", L"--database", L"DSN=line"});
    other.recordFiles.files[L"C:\\Data\\list.csv"] = "name,price\r\nbread,2\r\n";
    other.files.AddFile(L"C:\\Data\\list.csv", "there");
    other.makeDatabase = missing.makeDatabase;
    EXPECT_EQ(other.Start(true), station_exit::kImportIncomplete);
    EXPECT_TRUE(FakeOutput::Has(other.output.err, L"<IDS_298:C:\\Data\\list.csv>"));
}

// A refused device was not done: it leaves a line with the refusal's key, and
// the loop ends with its own code for jobs not done.
TEST(StationSession, ARefusedDeviceLeavesALineAndCountsAsNotDone) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img", L"--wait", L"1"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(7, QV_DEVICE_MASKROM, "SN0007")}};
    for (int i = 0; i < 5; ++i)
        s.Round();
    EXPECT_FALSE(s.library.Called("QV_Upgrade"));
    ASSERT_EQ(s.RecordLines(2).size(), 2u) << "one line for the refused device, once";
    EXPECT_EQ(s.Field(1, kColSerial), "SN0007");
    EXPECT_EQ(s.Field(1, kColCode), std::to_string(kJobRefusedByChecks));
    EXPECT_EQ(s.Field(1, kColKey), "IDS_102");

    s.library.finds = {{0, DEVICE_INFO{}}};
    RunUntilFinished(s, 20);
    ASSERT_TRUE(s.session->Finished());
    EXPECT_EQ(s.session->ExitCode(), station_exit::kSomeJobsFailed);
}

// The image is checked for each device: unreadable for a moment, it refuses
// that device only, and it stays the image of the next one.
TEST(StationSession, AnImageUnreadableForAMomentRefusesThatDeviceOnly) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img"});
    ASSERT_EQ(s.Start(), 0);
    s.files.AddFile(L"C:\\Images\\update.img", "image being copied over");
    s.library.loaderVersionResult = 0;
    s.library.finds = {{1, MakeDevice(7, QV_DEVICE_MSC, "SN0007")}};
    for (int i = 0; i < 3; ++i)
        s.Round();
    EXPECT_FALSE(s.library.Called("QV_Upgrade"));
    EXPECT_EQ(s.Field(1, kColKey), "IDS_104");
    EXPECT_EQ(s.state.g_settings.FIRMWARE, L"C:\\Images\\update.img");

    s.library.loaderVersionResult = 1;
    s.library.finds = {{1, MakeDevice(8, QV_DEVICE_MSC, "SN0008")}};
    for (int i = 0; i < 3 && !s.library.Called("QV_Upgrade"); ++i)
        s.Round();
    EXPECT_TRUE(s.library.Called("QV_Upgrade"));
}

// A device slow to come back after its job is the same device: it is told to
// be taken away, and written again only after it was.
TEST(StationSession, ADeviceBackAfterFourteenSecondsIsNotWrittenAgain) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    s.Round();
    s.Round(); // the verdict
    ASSERT_EQ(s.session->Loop().JobsRun(), 1);
    s.library.finds = {{0, DEVICE_INFO{}}};
    for (int i = 0; i < 14000 / 200; ++i)
        s.Round();
    s.library.deviceSystemText = "1.2.3";
    s.library.finds = {{1, MakeDevice(43, QV_DEVICE_MSC)}}; // a new handle, the same serial
    for (int i = 0; i < 10; ++i)
        s.Round();
    EXPECT_EQ(s.session->Loop().JobsRun(), 1);
    EXPECT_EQ(s.session->Loop().State(), StationState::WaitingForRemoval);
    EXPECT_TRUE(FakeOutput::Has(s.output.out, L"<IDS_201>"));
    ASSERT_EQ(s.RecordLines(2).size(), 2u);
    EXPECT_EQ(s.Field(1, kColAfter), "1.2.3");
}

// The watcher may run at any moment once the device is handed back to it: a
// device back that quickly must come after the job's end, or the end takes
// it for the job's own device and the loop waits a minute for a return that
// has come. So when the verdict line is printed the device is not yet back
// with the watcher; after it, the device back is asked to be taken away.
TEST(StationSession, TheDeviceGoesBackToTheWatcherOnlyAfterTheJobsEnd) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    int watcherFreeAtVerdict = -1;
    s.output.onOut = [&s, &watcherFreeAtVerdict](const std::wstring &line) {
        if (line.rfind(L"<IDS_260>", 0) == 0) watcherFreeAtVerdict = s.state.g_jobActive == 0;
    };
    s.Round();
    s.library.deviceSystemText = "1.2.3";
    s.library.finds = {{1, MakeDevice(43, QV_DEVICE_MSC)}};
    for (int i = 0; i < 4; ++i)
        s.Round();
    EXPECT_EQ(watcherFreeAtVerdict, 0);
    EXPECT_EQ(s.session->Loop().JobsRun(), 1);
    EXPECT_EQ(s.session->Loop().State(), StationState::WaitingForRemoval);
    ASSERT_EQ(s.RecordLines(2).size(), 2u);
    EXPECT_EQ(s.Field(1, kColAfter), "1.2.3");
}

// A job left by the exit is recorded as such: the device may be half-written.
TEST(StationSession, AJobLeftByTheExitHasItsLine) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img"});
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    s.Round(); // the job runs; its result never arrives
    ASSERT_EQ(s.session->Loop().State(), StationState::JobRunning);
    s.results.clear();
    s.session->Shutdown();
    ASSERT_EQ(s.RecordLines(2).size(), 2u);
    EXPECT_EQ(s.Field(1, kColCode), std::to_string(kJobClosedDuringJob));
    EXPECT_EQ(s.Field(1, kColKey), "CLOSED_DURING_JOB");
}

// A job never ends in silence: a thread the system refuses, or one that never
// runs its body, ends the job with the verdict of an unexpected failure and
// one line in the record; a late thread leaves the device alone.
TEST(StationSession, AJobWhoseThreadNeverRunsEndsWithAVerdictAndOneLine) {
    for (auto thread : {Station::JobThread::Refused, Station::JobThread::NeverRuns}) {
        Station s;
        s.jobThread = thread;
        ASSERT_EQ(s.Start(), 0);
        s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
        RunUntilFinished(s, kJobThreadStartLimitMs / 200 + 10);
        ASSERT_TRUE(s.session->Finished());
        EXPECT_EQ(s.session->ExitCode(), kJobThreadNotStarted);
        EXPECT_FALSE(s.library.Called("QV_Upgrade"));
        EXPECT_TRUE(FakeOutput::Has(s.output.out,
                                    L"<IDS_261:-100>  SN0001  4.4.2 -> 1.2.3  <IDS_101><IDS_263>"));
        ++s.ctrlCPresses; // no wait for the device's return
        s.session->Shutdown();
        ASSERT_EQ(s.RecordLines(2).size(), 2u);
        EXPECT_EQ(s.Field(1, kColCode), std::to_string(kJobThreadNotStarted));
    }
}

// A library call that does not return is named once on the error stream and
// never ended; Ctrl+C then ends the run with its own exit code, and the
// job's line says which call it was.
TEST(StationSession, AHangingStepIsReportedAndCtrlCEndsTheRunWithItsOwnCode) {
    Station s({L"--station", L"--upgrade", L"C:\\Images\\update.img"});
    s.jobThread = Station::JobThread::OwnThread;
    std::mutex hang;
    std::unique_lock<std::mutex> holding(hang);
    std::atomic<bool> inside{false};
    s.library.onUpgrade = [&] {
        inside = true;
        std::lock_guard<std::mutex> released(hang);
        return 0;
    };
    // The call returns and its thread is joined however the test ends.
    struct Release {
        std::unique_lock<std::mutex> &holding;
        std::thread &thread;
        ~Release() {
            if (holding.owns_lock()) holding.unlock();
            if (thread.joinable()) thread.join();
        }
    } release{holding, s.ownThread};
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    s.Round();
    ASSERT_EQ(s.session->Loop().State(), StationState::JobRunning);
    for (int i = 0; i < 1000 && !inside; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    s.clock.SleepMs(job_step::kUpgrade.limitMs);
    for (int i = 0; i < 3; ++i)
        s.session->Tick(s.clock.TickMs(), false);
    EXPECT_EQ(FakeOutput::Count(s.output.err, L"<IDS_236:QV_Upgrade (900 s)> <IDS_237>"), 1);
    EXPECT_EQ(s.session->Loop().State(), StationState::JobRunning) << "the step is not ended";

    s.session->Tick(s.clock.TickMs(), true);
    ASSERT_TRUE(s.session->Finished());
    EXPECT_EQ(s.session->ExitCode(), station_exit::kStepNotReturned);
    holding.unlock();
    s.ownThread.join();
    s.results.clear(); // the late result finds the run ended
    s.session->Shutdown();
    ASSERT_EQ(s.RecordLines(2).size(), 2u);
    EXPECT_EQ(s.Field(1, kColCode), std::to_string(kJobStepNotReturned));
    EXPECT_EQ(s.Field(1, kColKey), "STEP_NOT_RETURNED");
}

// After a one-job run's verdict the station says what it waits for; Ctrl+C
// ends the wait at once and the line is written as it stands.
TEST(StationSession, TheWaitForTheDevicesReturnIsSaidAndEndsAtCtrlC) {
    Station s;
    ASSERT_EQ(s.Start(), 0);
    s.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
    RunUntilFinished(s);
    ASSERT_TRUE(s.session->Finished());
    std::atomic<bool> ended{false};
    std::thread pressed([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ++s.ctrlCPresses;
        // Should Ctrl+C be missed, the minute runs out and the test ends.
        for (int slice = 0; slice < 40 && !ended; ++slice)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!ended) s.clock.SleepMs(kRecordAfterWaitMs);
    });
    const auto before = std::chrono::steady_clock::now();
    s.session->Shutdown();
    ended = true;
    pressed.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500))
        << "ended by Ctrl+C, not by the minute";
    EXPECT_TRUE(FakeOutput::Has(s.output.out, L"<IDS_233:60>"));
    ASSERT_EQ(s.RecordLines(2).size(), 2u);
    EXPECT_EQ(s.Field(1, kColCode), "0");
    EXPECT_EQ(s.Field(1, kColAfter), "") << "not back: no version after";
}

} // namespace
