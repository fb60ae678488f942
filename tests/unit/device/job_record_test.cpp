// The job record: its columns, quoting and formula guard, the time format,
// the path from the settings, and when a job's line is written (device back
// with its version, announced without one, or the wait over), through the
// view that listens to the watcher.
#include "device/job_record.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/ini_file.h"
#include "device/csv_record_sink.h"
#include "device/device_record.h"
#include "device/device_watcher.h"
#include "device/firmware_check.h"
#include "device/job_record_view.h"
#include "res/resource.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fakes/record_fakes.h"

namespace {

using fakes::Bench;

constexpr size_t kAfterColumn = 19; // device_software_after
using fakes::MakeDevice;

// Keeps the lines instead of a file; a store that fails says why.
class FakeRecordStore : public IJobRecordStore {
  public:
    std::vector<std::string> lines;
    std::vector<std::wstring> paths;
    bool appendWorks = true;
    int digests = 0;
    bool Append(const std::wstring &path, const std::string &header, const std::string &line,
                std::wstring &error) override {
        if (!appendWorks) {
            error = L"access denied";
            return false;
        }
        if (lines.empty()) lines.push_back(header);
        lines.push_back(line);
        paths.push_back(path);
        return true;
    }
    bool FileSha256(const std::wstring &, std::wstring &hex) override {
        ++digests;
        hex = L"ab12";
        return true;
    }
    std::wstring ComputerName() override { return L"BENCH-PC"; }
};

// A tiny RFC 4180 reader: what a spreadsheet or Python's csv module makes of
// one line.
std::vector<std::string> ParseCsvLine(const std::string &line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c != '\r' && c != '\n') {
            fields.back() += c;
        }
    }
    return fields;
}

JobRecordFields SampleFields() {
    JobRecordFields f;
    f.jobId = L"5f0c9a2e41d84b7c9e13a6f2b8d07c51";
    f.startSeconds = 1796731403; // 2026-12-08T12:03:23Z
    f.endSeconds = 1796731460;
    f.durationMs = 57250;
    f.computer = L"BENCH-PC";
    f.programVersion = L"1.2.0.3";
    f.mode = L"upgrade";
    f.deviceKind = 4;
    f.deviceName = L"QV70 Tablet";
    f.deviceSerial = L"SN0001";
    f.deviceSoftwareBefore = L"1.0.0";
    f.deviceLoaderBefore = L"2.05";
    f.imageFile = L"C:\\Images\\update, final.img";
    f.imageSoftware = L"1.2.3";
    f.imageLoader = L"1.41";
    f.imageSize = 131072;
    f.imageSha256 = L"ab12";
    f.resultCode = -3;
    f.verdictKey = L"IDS_113";
    f.verdictText = L"The device said \"no\".\nTry again.";
    f.deviceSoftwareAfter = L"";
    return f;
}

TEST(JobRecordFormat, UtcTimesInIso8601) {
    EXPECT_EQ(FormatUtcIso8601(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcIso8601(1796731403), "2026-12-08T12:03:23Z");
    EXPECT_EQ(FormatUtcIso8601(951782400), "2000-02-29T00:00:00Z"); // a leap day
    EXPECT_EQ(FormatUtcIso8601(-1), "1969-12-31T23:59:59Z");
}

TEST(JobRecordFormat, FieldsAreQuotedAsCsvRequires) {
    struct Case {
        const wchar_t *text;
        const char *csv;
    } cases[] = {
        {L"plain", "plain"},
        {L"", ""},
        {L"a,b", "\"a,b\""},
        {L"say \"hi\"", "\"say \"\"hi\"\"\""},
        {L"two\r\nlines", "\"two\r\nlines\""},
        {L"two\nlines", "\"two\nlines\""},
        {L"a lone\rreturn", "\"a lone\rreturn\""},     // a reader would end the line there
        {L"\x5347\x7EA7", "\xE5\x8D\x87\xE7\xBA\xA7"}, // UTF-8
    };
    for (const Case &c : cases)
        EXPECT_EQ(CsvTextField(c.text), c.csv) << c.csv;
}

TEST(JobRecordFormat, TextThatLooksLikeAFormulaStaysText) {
    struct Case {
        const wchar_t *text;
        const char *csv;
    } cases[] = {
        {L"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {L"+1", "\"'+1\""},
        {L"-2+3", "\"'-2+3\""},
        {L"@SUM(A1)", "\"'@SUM(A1)\""},
        {L"\tcmd", "\"'\tcmd\""},
        {L"a=b", "a=b"}, // only the first character counts
    };
    for (const Case &c : cases)
        EXPECT_EQ(CsvTextField(c.text), c.csv) << c.csv;
}

TEST(JobRecordFormat, OneLineHoldsEveryColumnInOrder) {
    const std::string header = JobRecordHeaderLine();
    EXPECT_EQ(header.substr(header.size() - 2), "\r\n");
    EXPECT_EQ(ParseCsvLine(header).size(), JobRecordColumns().size());

    const std::string line = JobRecordLine(SampleFields());
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    const std::vector<std::string> fields = ParseCsvLine(line);
    EXPECT_EQ(fields, (std::vector<std::string>{"2026-12-08T12:03:23Z",
                                                "2026-12-08T12:04:20Z",
                                                "57.250",
                                                "BENCH-PC",
                                                "1.2.0.3",
                                                "upgrade",
                                                "4",
                                                "QV70 Tablet",
                                                "SN0001",
                                                "1.0.0",
                                                "2.05",
                                                "C:\\Images\\update, final.img",
                                                "1.2.3",
                                                "1.41",
                                                "131072",
                                                "ab12",
                                                "-3",
                                                "IDS_113",
                                                "The device said \"no\".\nTry again.",
                                                "",
                                                "5f0c9a2e41d84b7c9e13a6f2b8d07c51"}));
    EXPECT_EQ(JobRecordColumns().back(), std::string("job_id")) << "new columns go last";
}

TEST(JobRecordFormat, JsonCarriesTheSameFieldsAndEscapes) {
    const std::string json = JobRecordJson(SampleFields(), {{"declined", "\"--yes-anyway\""}});
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.back(), '}');
    EXPECT_NE(json.find("\"result_code\":-3"), std::string::npos);
    EXPECT_EQ(json.find("{\"job_id\":\"5f0c9a2e41d84b7c9e13a6f2b8d07c51\","), 0u);
    EXPECT_NE(json.find("\"image_file\":\"C:\\\\Images\\\\update, final.img\""), std::string::npos);
    EXPECT_NE(json.find("\"verdict_text\":\"The device said \\\"no\\\".\\nTry again.\""),
              std::string::npos);
    EXPECT_NE(json.find(",\"declined\":\"--yes-anyway\"}"), std::string::npos);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_EQ(JsonString(L"\x5347\x7EA7\x01"), "\"\\u5347\\u7ea7\\u0001\"");
}

TEST(JobRecordPath, RelativeToTheProgramFolderAbsoluteAsItIs) {
    EXPECT_EQ(ResolveRecordPath(L"", L"C:\\QV\\"), L"");
    EXPECT_EQ(ResolveRecordPath(L"Log\\jobs.csv", L"C:\\QV\\"), L"C:\\QV\\Log\\jobs.csv");
    EXPECT_EQ(ResolveRecordPath(L"D:\\records\\jobs.csv", L"C:\\QV\\"), L"D:\\records\\jobs.csv");
    EXPECT_EQ(ResolveRecordPath(L"\\\\server\\share\\jobs.csv", L"C:\\QV\\"),
              L"\\\\server\\share\\jobs.csv");
}

TEST(JobRecordPath, ALongSettingIsTakenWholeNeverCutToAnotherFile) {
    FakeFileSystem files;
    IniProfileFake profile{files};
    CIniFile ini{files, profile};
    const std::wstring settings = L"C:\\QV\\setting.ini";
    const std::wstring longPath = L"D:\\" + std::wstring(300, L'r') + L"\\jobs.csv";
    files.AddTextFile(settings, L"[SYSTEM]\r\nJOB_RECORD=" + longPath + L"\r\n");
    ASSERT_TRUE(ini.SetFile(settings));
    EXPECT_EQ(ReadJobRecordPath(ini, L"C:\\QV\\"), longPath);
}

// The window's world with a recorder listening through the view.
struct Recorded {
    Bench b;
    FakeRecordStore store;
    JobRecorder recorder{store, b.clock};
    JobRecordView view{b.view, recorder};
    DeviceContext context{b.state, b.model, b.library, view, b.texts, b.platform, b.gate};
    DEVICE_INFO working{};
    fakes::FakeRecordSink sink;

    Recorded() {
        recorder.SetFile(L"C:\\QV\\Log\\jobs.csv");
        recorder.AddSink(sink);
        b.state.g_settings.FIRMWARE = L"C:\\Images\\update.img";
    }
    // A device shown by the watcher, with the image inspected.
    void DeviceShown(int kind) {
        EXPECT_TRUE(InspectFirmware(context, b.state.g_settings.FIRMWARE));
        b.library.finds = {{1, MakeDevice(42, kind)}};
        RunWatchCycle(context, working);
    }
    // The job has ended and the window has cleared the held device.
    void JobEnded(int code) {
        recorder.Finish(code, L"IDS_21", L"Upgrade done");
        ClearDeviceInfo(b.state.g_deviceInfo);
    }
};

TEST(JobRecorder, StartFactsComeFromTheShownDeviceAndImage) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    const JobRecordFields f = JobStartFacts(r.context, r.view, 0, L"BENCH-PC");
    EXPECT_EQ(f.mode, L"upgrade");
    EXPECT_EQ(f.deviceKind, QV_DEVICE_MSC);
    EXPECT_EQ(f.deviceName, L"QV70 Tablet");
    EXPECT_EQ(f.deviceSerial, L"SN0001");
    EXPECT_EQ(f.deviceSoftwareBefore, L"4.4.2");
    EXPECT_EQ(f.deviceLoaderBefore, L"2.05");
    EXPECT_EQ(f.imageFile, L"C:\\Images\\update.img");
    EXPECT_EQ(f.imageSoftware, L"1.2.3");
    EXPECT_EQ(f.imageLoader, L"1.41");
    EXPECT_EQ(f.imageSize, 0x20000u);
    EXPECT_EQ(f.programVersion, L"1.2.0.3");
    EXPECT_EQ(JobStartFacts(r.context, r.view, 1, L"").mode, L"repair");
}

TEST(JobRecorder, ADeviceWhoseVersionsWereNotReadHasNoneBefore) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_LOADER);
    const JobRecordFields f = JobStartFacts(r.context, r.view, 1, L"");
    EXPECT_EQ(f.deviceName, L"QV70 Loader");
    EXPECT_EQ(f.deviceSoftwareBefore, L"");
    EXPECT_EQ(f.deviceLoaderBefore, L"");
}

TEST(JobRecorder, WrittenWhenTheReturnedDeviceShowsItsVersion) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.recorder.Begin(JobStartFacts(r.context, r.view, 0, L"BENCH-PC"));
    r.b.clock.SleepMs(3000);
    r.JobEnded(0);
    EXPECT_FALSE(r.recorder.Poll()) << "waits for the device to come back";

    r.b.library.deviceSystemText = "1.2.3";
    RunWatchCycle(r.context, r.working); // the device is announced again
    EXPECT_TRUE(r.recorder.Poll());
    ASSERT_EQ(r.sink.Lines().size(), 1u);
    const std::vector<std::string> f = ParseCsvLine(r.sink.Lines()[0]);
    EXPECT_EQ(f[2], "3.000");
    EXPECT_EQ(f[9], "4.4.2");
    EXPECT_EQ(f[15], "ab12");
    EXPECT_EQ(f[16], "0");
    EXPECT_EQ(f[kAfterColumn], "1.2.3");
}

TEST(JobRecorder, ADeviceBackWithoutVersionsCompletesTheRecordAtOnce) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_LOADER);
    r.recorder.Begin(JobStartFacts(r.context, r.view, 0, L""));
    r.JobEnded(-9);
    RunWatchCycle(r.context, r.working);
    EXPECT_TRUE(r.recorder.Poll());
    ASSERT_EQ(r.sink.Lines().size(), 1u);
    EXPECT_EQ(ParseCsvLine(r.sink.Lines()[0])[kAfterColumn], "");
}

TEST(JobRecorder, WrittenWithoutVersionAfterTenSecondsOfNoDevice) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.recorder.Begin(JobStartFacts(r.context, r.view, 0, L""));
    r.JobEnded(0);
    r.b.library.finds = {{0, DEVICE_INFO{}}};
    RunWatchCycle(r.context, r.working);
    r.b.clock.SleepMs(kRecordAfterWaitMs - 1);
    EXPECT_FALSE(r.recorder.Poll());
    r.b.clock.SleepMs(1);
    EXPECT_TRUE(r.recorder.Poll());
    EXPECT_EQ(r.sink.Lines().size(), 1u);
    EXPECT_FALSE(r.recorder.Poll()) << "one line per job";
}

TEST(JobRecorder, TheWaitCanStartAgainWhenTheWatcherResumes) {
    Recorded r;
    r.recorder.Begin(JobRecordFields{});
    r.JobEnded(0);
    r.b.clock.SleepMs(kRecordAfterWaitMs); // the verdict box stayed open
    r.recorder.StartReturnWait();
    EXPECT_FALSE(r.recorder.Poll());
}

TEST(JobRecorder, ANewJobWritesTheRecordStillPending) {
    Recorded r;
    r.recorder.Begin(JobRecordFields{});
    r.JobEnded(-1);
    r.recorder.Begin(JobRecordFields{});
    EXPECT_EQ(r.sink.Lines().size(), 1u);
}

// The whole way of a record: the recorder, the CSV sink, its outbox and a
// file held by a spreadsheet.
TEST(JobRecorder, AFailedWriteIsReportedOnceAndNeverStopsTheNext) {
    Recorded r;
    fakes::FakeRecordFiles files;
    const std::wstring path = L"C:\\QV\\Log\\jobs.csv";
    CsvRecordSink csv(files, files, r.b.clock, path, OutboxPathBeside(path));
    r.recorder.AddSink(csv);
    std::vector<std::wstring> reports;
    csv.Outbox().onError = [&](const std::wstring &reason) { reports.push_back(reason); };
    int completed = 0;
    r.recorder.onCompleted = [&](const JobRecordFields &) { ++completed; };
    auto job = [&](const wchar_t *id) {
        JobRecordFields fields;
        fields.jobId = id;
        r.recorder.Begin(fields);
        r.JobEnded(0);
        r.recorder.Flush();
        csv.Outbox().DeliverNow();
    };
    files.held = true;
    job(L"job-1");
    job(L"job-2");
    job(L"job-3");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], L"C:\\QV\\Log\\jobs.csv: held open by another program");
    EXPECT_EQ(completed, 3);
    EXPECT_EQ(csv.Waiting(), 3u);

    files.held = false; // written again, in order; a later failure is news
    job(L"job-4");
    EXPECT_EQ(fakes::CsvJobIds(files.Bytes(path)),
              (std::vector<std::string>{"job-1", "job-2", "job-3", "job-4"}));
    files.held = true;
    job(L"job-5");
    EXPECT_EQ(reports.size(), 2u);
}

TEST(JobRecorder, NoFileNoLineButTheRecordIsStillCompleted) {
    Recorded r;
    r.recorder.SetFile(L"");
    int completed = 0;
    r.recorder.onCompleted = [&](const JobRecordFields &f) {
        ++completed;
        EXPECT_EQ(f.resultCode, -9);
    };
    r.recorder.Begin(JobRecordFields{});
    r.JobEnded(-9);
    r.recorder.Flush();
    EXPECT_EQ(r.sink.Records().size(), 1u) << "the sinks decide where it goes";
    EXPECT_EQ(completed, 1);
}

// The window's waiter blocks in WaitAndWrite while the watcher, on its own
// thread, reports the device back.
TEST(JobRecorder, TheWaiterWakesWhenTheWatcherSeesTheDeviceBack) {
    Recorded r;
    r.recorder.Begin(JobRecordFields{});
    r.JobEnded(0);
    std::thread waiter([&] { r.recorder.WaitAndWrite(); });
    std::thread watcher([&] { r.recorder.DeviceVersionRead(L"1.2.3"); });
    watcher.join();
    waiter.join(); // the fake clock never reaches the deadline: only the wake ends it
    ASSERT_EQ(r.sink.Lines().size(), 1u);
    EXPECT_EQ(ParseCsvLine(r.sink.Lines()[0])[kAfterColumn], "1.2.3");
}

} // namespace
