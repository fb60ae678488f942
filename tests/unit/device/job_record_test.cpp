// The job record: its columns, quoting and formula guard, the time format,
// the path from the settings, and when a job's line is written (the same
// device back with its version, back without one, or the wait over), from the
// job events that the watcher, the inspection and the job's start tell.
#include "records/job_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "base/ini_file.h"
#include "device/device_record.h"
#include "device/device_watcher.h"
#include "device/firmware_check.h"
#include "device/job_start.h"
#include "device/upgrade_job.h"
#include "records/csv_record_sink.h"
#include "res/resource.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fakes/record_fakes.h"

namespace {

using fakes::Bench;
using fakes::FakeRecordStore;
using fakes::MakeDevice;
using namespace fakes::record_columns;

// What a spreadsheet or Python's csv module makes of one line.
std::vector<std::string> ParseCsvLine(const std::string &line) {
    const auto records = fakes::ParseCsv(line);
    return records.empty() ? std::vector<std::string>(1) : records.front();
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
    f.operatorName = L"Li Wei";
    f.phases.loaderMs = 2345;
    f.phases.restartMs = 1002;
    f.phases.downloadMs = 52903;
    f.startLocal = L"2026-12-08 20:03:23";
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
                                                "5f0c9a2e41d84b7c9e13a6f2b8d07c51",
                                                "",
                                                "Li Wei",
                                                "",
                                                "2.345",
                                                "1.002",
                                                "52.903",
                                                "2026-12-08 20:03:23"}));
    // A file begun by an earlier version keeps its columns: new ones go last.
    EXPECT_EQ(JobRecordColumns()[kColJobId], std::string("job_id"));
    EXPECT_EQ(JobRecordColumns()[kColOperator], std::string("operator"));
    EXPECT_EQ(JobRecordColumns().back(), std::string("start_local"));
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
    EXPECT_NE(json.find("\"operator\":\"Li Wei\",\"time_switch_s\":null,\"time_loader_s\":2.345,"
                        "\"time_restart_s\":1.002,\"time_download_s\":52.903,"
                        "\"start_local\":\"2026-12-08 20:03:23\""),
              std::string::npos)
        << json;
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

// The window's world with a recorder listening to the events.
struct Recorded {
    Bench b;
    FakeRecordStore store;
    JobEventHub events;
    fakes::FakeRecordSink sink;
    JobRecorder recorder{b.clock};
    fakes::CountingJobIds ids;
    DeviceContext context{b.state, b.model,    b.library, b.view,
                          b.texts, b.platform, b.gate,    &events};
    DEVICE_INFO working{};

    Recorded() {
        events.AddListener(recorder);
        recorder.AddSink(sink);
        recorder.SetComputer(L"BENCH-PC");
        b.state.g_settings.FIRMWARE = L"C:\\Images\\update.img";
    }
    // A device shown by the watcher, with the image inspected.
    void DeviceShown(int kind, const char *serial = "SN0001", int32_t identity = 42) {
        DeviceShown(MakeDevice(identity, kind, serial));
    }
    void DeviceShown(const DEVICE_INFO &device) {
        EXPECT_TRUE(InspectFirmware(context, b.state.g_settings.FIRMWARE));
        b.library.finds = {{1, device}};
        RunWatchCycle(context, working);
    }
    // The device found by the watcher after the job, showing this version.
    bool BackWith(const DEVICE_INFO &device, const std::string &software) {
        b.library.deviceSystemText = software;
        b.library.finds = {{1, device}};
        RunWatchCycle(context, working);
        return recorder.Poll();
    }
    // The job's start as the window tells it; the image is hashed on the spot.
    void StartJob(JobMode mode = kModeUpgrade) {
        TellJobStarted(context, mode, ids, store, [](std::function<void()> body) {
            body();
            return true;
        });
    }
    // The job has ended and the window has cleared the held device.
    void JobEnded(int code) {
        TellJobEnded(context, code, L"IDS_21", L"Upgrade done");
        ClearDeviceInfo(b.state.g_deviceInfo);
    }
    // The record handed on, as its fields: the first is 1.
    std::vector<std::string> Line(size_t index = 1) {
        const std::vector<std::string> lines = sink.Lines();
        EXPECT_GE(lines.size(), index);
        return lines.size() >= index ? ParseCsvLine(lines[index - 1]) : std::vector<std::string>{};
    }
};

TEST(JobRecorder, StartFactsComeFromTheShownDeviceAndImage) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    r.JobEnded(0);
    r.recorder.Flush();
    const std::vector<std::string> f = r.Line();
    EXPECT_EQ(f[kColComputer], "BENCH-PC");
    EXPECT_EQ(f[kColVersion], "1.2.0.3");
    EXPECT_EQ(f[kColMode], "upgrade");
    EXPECT_EQ(f[kColKind], "4");
    EXPECT_EQ(f[kColName], "QV70 Tablet");
    EXPECT_EQ(f[kColSerial], "SN0001");
    EXPECT_EQ(f[kColSoftwareBefore], "4.4.2");
    EXPECT_EQ(f[kColLoaderBefore], "2.05");
    EXPECT_EQ(f[kColImage], "C:\\Images\\update.img");
    EXPECT_EQ(f[kColImageSoftware], "1.2.3");
    EXPECT_EQ(f[kColImageLoader], "1.41");
    EXPECT_EQ(f[kColImageSize], std::to_string(0x20000));

    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob(kModeRepair);
    r.JobEnded(0);
    r.recorder.Flush();
    EXPECT_EQ(r.Line(2)[kColMode], "repair");
}

// The device shown is one fact for every listener: a job refused by its
// checks or not needed leaves it shown (to be taken away), a job that ran
// does not, and a device shown anew counts again, the same one too.
TEST(JobRecorder, OnlyAJobThatRanTakesTheDeviceShownAway) {
    Recorded r;
    unsigned announcements = 0;
    r.DeviceShown(QV_DEVICE_MSC);
    EXPECT_EQ(r.events.ShownDevice(announcements).serial, L"SN0001");
    EXPECT_EQ(announcements, 1u);
    for (int32_t untouched : {kJobRefusedByChecks, kJobAlreadyDone}) {
        r.StartJob();
        TellJobEnded(r.context, untouched, L"IDS_102", L"refused");
        EXPECT_EQ(r.events.ShownDevice().serial, L"SN0001") << untouched;
    }
    r.StartJob();
    r.JobEnded(0);
    EXPECT_TRUE(r.events.ShownDevice().identity.empty());
    r.DeviceShown(QV_DEVICE_MSC);
    EXPECT_EQ(r.events.ShownDevice(announcements).serial, L"SN0001");
    EXPECT_EQ(announcements, 2u);
}

// The phases as the job measured them, each from its own steps: their sum
// and the fixed wait after the reset make the job's duration.
TEST(JobRecorder, EachPhaseTimeIsTheJobsOwnAndTheySumToItsDuration) {
    Recorded r;
    fakes::FakeProcessRunner runner;
    fakes::FakeSystemInfo system;
    r.recorder.SetOperator(L"Li Wei");
    r.b.clock.epochSeconds = 1796731403; // 2026-12-08T12:03:23Z
    r.b.clock.localOffsetSeconds = 8 * 3600;
    constexpr uint32_t kLoaderMs = 2345, kDownloadMs = 7002;
    r.b.library.onUpgrade = [&] {
        r.b.clock.SleepMs(kLoaderMs);
        return 0;
    };
    r.b.library.onDownload = [&] {
        r.b.clock.SleepMs(kDownloadMs);
        return 1;
    };
    r.DeviceShown(QV_DEVICE_LOADER);
    r.b.state.g_deviceInfo = MakeDevice(42, QV_DEVICE_LOADER);
    r.StartJob();
    UpgradeThread(r.context, runner, system, kModeUpgrade);
    r.JobEnded(0);
    r.recorder.Flush();
    const std::vector<std::string> f = r.Line();
    EXPECT_EQ(f[kColOperator], "Li Wei");
    EXPECT_EQ(f[kColTimeSwitch], "") << "a loader-mode device is not switched";
    EXPECT_EQ(f[kColTimeLoader], "2.345");
    EXPECT_EQ(f[kColTimeRestart], "0.000");
    EXPECT_EQ(f[kColTimeDownload], "7.002");
    EXPECT_EQ(f[kColDuration], "10.347") << "the phases and the settling wait after the reset";
    EXPECT_EQ(f[kColStartLocal], "2026-12-08 20:03:23");
    EXPECT_EQ(f[0], "2026-12-08T12:03:23Z") << "the UTC columns stay as they were";

    // A job that failed in its loader phase reached no later one.
    r.b.library.onUpgrade = [] { return -2; };
    r.DeviceShown(QV_DEVICE_LOADER);
    r.b.state.g_deviceInfo = MakeDevice(42, QV_DEVICE_LOADER);
    r.StartJob();
    UpgradeThread(r.context, runner, system, kModeUpgrade);
    r.JobEnded(kJobLoaderFileBad);
    r.recorder.Flush();
    const std::vector<std::string> failed = r.Line(2);
    EXPECT_EQ(failed[kColTimeLoader], "0.000");
    EXPECT_EQ(failed[kColTimeRestart], "");
    EXPECT_EQ(failed[kColTimeDownload], "");
}

TEST(JobRecorder, ADeviceWhoseVersionsWereNotReadHasNoneBefore) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_LOADER);
    r.StartJob(kModeRepair);
    r.JobEnded(0);
    r.recorder.Flush();
    const std::vector<std::string> f = r.Line();
    EXPECT_EQ(f[kColName], "QV70 Loader");
    EXPECT_EQ(f[kColSoftwareBefore], "");
    EXPECT_EQ(f[kColLoaderBefore], "");
}

// A loader-mode device after another device, swapped between two searches:
// the versions the window still holds are the other device's, never this
// one's "before".
TEST(JobRecorder, ALoaderModeDeviceNeverGetsThePreviousDevicesVersions) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC, "SN0001");
    r.DeviceShown(QV_DEVICE_LOADER, "SN0002", 43); // swapped between two searches
    r.StartJob();
    r.JobEnded(-9);
    r.recorder.Flush();
    const std::vector<std::string> f = r.Line();
    EXPECT_EQ(f[kColSerial], "SN0002");
    EXPECT_EQ(f[kColSoftwareBefore], "");
    EXPECT_EQ(f[kColLoaderBefore], "");
}

TEST(JobRecorder, WrittenWhenTheReturnedDeviceShowsItsVersion) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    r.b.clock.SleepMs(3000);
    r.JobEnded(0);
    EXPECT_FALSE(r.recorder.Poll()) << "waits for the device to come back";
    ASSERT_EQ(r.sink.Holds().size(), 1u) << "kept at the verdict meanwhile";
    EXPECT_EQ(r.sink.Holds()[0].resultCode, 0);
    EXPECT_TRUE(r.sink.Holds()[0].deviceSoftwareAfter.empty());

    r.b.library.deviceSystemText = "1.2.3";
    RunWatchCycle(r.context, r.working); // the device is announced again
    EXPECT_TRUE(r.recorder.Poll());
    ASSERT_EQ(r.sink.Lines().size(), 1u);
    const std::vector<std::string> f = r.Line();
    EXPECT_EQ(f[kColDuration], "3.000");
    EXPECT_EQ(f[kColSoftwareBefore], "4.4.2");
    EXPECT_EQ(f[kColSha], "ab12");
    EXPECT_EQ(f[kColCode], "0");
    EXPECT_EQ(f[kColAfter], "1.2.3");
}

// A pass is proven only by the device itself: the software it came back
// with compared with the image's, as the window shows both.
TEST(JobRecorder, APassIsVerifiedByTheSoftwareTheDeviceCameBackWith) {
    const struct {
        const char *name;
        int code;
        int backKind; // 0: not back within the minute
        const char *software;
        bool verify;
        const char *verified;
    } cases[] = {
        {"back with the image's software", 0, QV_DEVICE_MSC, "1.2.3", true, "yes"},
        {"back with its old software", 0, QV_DEVICE_MSC, "1.0.0", true, "no"},
        {"the comparison switched off", 0, QV_DEVICE_MSC, "1.0.0", false, ""},
        {"a failed job proves nothing", -9, QV_DEVICE_MSC, "1.2.3", true, ""},
        {"back in a kind whose versions are not read", 0, QV_DEVICE_LOADER, "1.2.3", true, ""},
        {"not back within the minute", 0, 0, "", true, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Recorded r;
        r.recorder.SetVerifyVersion(c.verify);
        r.DeviceShown(QV_DEVICE_MSC);
        r.StartJob();
        r.JobEnded(c.code);
        if (c.backKind != 0) {
            EXPECT_TRUE(r.BackWith(MakeDevice(42, c.backKind, "SN0001"), c.software));
        } else {
            r.b.clock.SleepMs(kRecordAfterWaitMs);
            EXPECT_TRUE(r.recorder.Poll());
        }
        EXPECT_EQ(r.Line()[kColVerified], c.verified);
    }
}

TEST(JobRecordPath, VerifyVersionIsOnUnlessSetToZero) {
    const struct {
        const wchar_t *line; // of [SYSTEM]
        bool on;
    } cases[] = {{L"", true},
                 {L"VERIFY_VERSION=1\r\n", true},
                 {L"VERIFY_VERSION=0\r\n", false},
                 {L"VERIFY_VERSION= 0 \r\n", false},
                 {L"VERIFY_VERSION=\r\n", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.on);
        FakeFileSystem files;
        IniProfileFake profile{files};
        CIniFile ini{files, profile};
        const std::wstring settings = L"C:\\QV\\setting.ini";
        files.AddTextFile(settings, std::wstring(L"[SYSTEM]\r\n") + c.line);
        ASSERT_TRUE(ini.SetFile(settings));
        EXPECT_EQ(ReadVerifyVersion(ini), c.on);
    }
}

// What the watcher reads while the job still runs is no version after it,
// and another device shown after the job gives its version to nobody.
TEST(JobRecorder, OnlyTheSameDeviceAfterTheVerdictGivesTheVersionAfter) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC, "SN0001");
    r.StartJob();
    r.b.library.deviceSystemText = "9.9.9";
    ClearDeviceInfo(r.b.state.g_deviceInfo);
    RunWatchCycle(r.context, r.working); // shown again while the job runs
    EXPECT_FALSE(r.recorder.Poll());
    r.JobEnded(0);
    EXPECT_FALSE(r.recorder.Poll()) << "the job's line is not complete before its device is back";

    r.b.library.deviceSystemText = "7.7.7";
    r.b.library.finds = {{1, MakeDevice(43, QV_DEVICE_MSC, "SN0002")}};
    RunWatchCycle(r.context, r.working); // another device within the minute
    EXPECT_FALSE(r.recorder.Poll());

    r.b.library.deviceSystemText = "1.2.3";
    r.b.library.finds = {{1, MakeDevice(44, QV_DEVICE_MSC, "SN0001")}};
    RunWatchCycle(r.context, r.working); // the job's device, back
    EXPECT_TRUE(r.recorder.Poll());
    EXPECT_EQ(r.Line()[kColAfter], "1.2.3");
}

// A device that reports no serial number is told by its path and place on
// the bus: only that device back completes the job's line, whose serial stays
// empty.
TEST(JobRecorder, ADeviceWithoutASerialIsKnownByItsPathAndRecordedWithoutOne) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC, "");
    EXPECT_EQ(r.events.ShownDevice().identity, L"path:\\\\?\\usb#vid_2207@7");
    r.StartJob();
    r.JobEnded(0);

    DEVICE_INFO otherPort = MakeDevice(43, QV_DEVICE_MSC, "");
    otherPort.location = 8;
    EXPECT_FALSE(r.BackWith(otherPort, "7.7.7")) << "another device without a serial";
    EXPECT_TRUE(r.BackWith(MakeDevice(44, QV_DEVICE_MSC, ""), "1.2.3"));
    const std::vector<std::string> f = r.Line();
    EXPECT_EQ(f[kColSerial], "");
    EXPECT_EQ(f[kColAfter], "1.2.3");
}

// A serial number that fills its field ends with the field: the bytes after
// it (the library's number for the device, new after each reset) never make
// it another device.
TEST(JobRecorder, ASerialFillingItsWholeFieldIsReadWithinIt) {
    const char serial[] = "QV70FULLLENGTH000020";
    auto withSerial = [&](int32_t identity) {
        DEVICE_INFO device = MakeDevice(identity, QV_DEVICE_MSC, "");
        static_assert(sizeof serial - 1 == sizeof device.serialNumber, "fills the field");
        std::memcpy(device.serialNumber, serial, sizeof device.serialNumber);
        return device;
    };
    Recorded r;
    r.DeviceShown(withSerial(42));
    EXPECT_EQ(r.events.ShownDevice().identity, L"QV70FULLLENGTH000020");
    r.StartJob();
    r.JobEnded(0);

    EXPECT_TRUE(r.BackWith(withSerial(44), "1.2.3"));
    const std::vector<std::string> f = r.Line();
    EXPECT_EQ(f[kColSerial], "QV70FULLLENGTH000020");
    EXPECT_EQ(f[kColAfter], "1.2.3");
}

// The digest is of the content the job began with: an image replaced after
// the verdict, or between two jobs with the same size and time, is named by
// its own digest in its own job only.
TEST(JobRecorder, TheImageDigestIsTakenWhenTheJobStarts) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.store.content = L"aa11";
    r.StartJob();
    r.store.content = L"bb22"; // replaced during the job
    r.JobEnded(0);
    r.recorder.Flush();
    EXPECT_EQ(r.Line()[kColSha], "aa11");

    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    r.JobEnded(0);
    r.recorder.Flush();
    EXPECT_EQ(r.Line(2)[kColSha], "bb22");
}

// An image replaced between two jobs by one of the same size and time is not
// inspected again at the click; its digest tells it apart, and its line names
// no versions rather than the first image's.
TEST(JobRecorder, AnImageReplacedUnnoticedBetweenJobsNamesNoOtherImagesVersions) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC); // inspected once
    auto job = [&r](size_t line) {
        r.b.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
        RunWatchCycle(r.context, r.working);
        r.StartJob();
        r.JobEnded(0);
        r.recorder.Flush();
        return r.Line(line);
    };
    r.store.content = L"aa11";
    EXPECT_EQ(job(1)[kColImageSoftware], "1.2.3");
    EXPECT_EQ(job(2)[kColImageSoftware], "1.2.3") << "the same content";
    r.store.content = L"bb22";
    const std::vector<std::string> replaced = job(3);
    EXPECT_EQ(replaced[kColSha], "bb22");
    EXPECT_EQ(replaced[kColImageSoftware], "");
    EXPECT_EQ(replaced[kColImageLoader], "");
    EXPECT_EQ(job(4)[kColImageSoftware], "") << "still not read from this content";

    EXPECT_TRUE(InspectFirmware(r.context, r.b.state.g_settings.FIRMWARE));
    EXPECT_EQ(job(5)[kColImageSoftware], "1.2.3") << "read again";
}

TEST(JobRecorder, TheRecordWaitsForTheDigestTakenAlongsideTheJob) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    std::function<void()> hashing;
    auto startHashingLater = [&r, &hashing] {
        TellJobStarted(r.context, kModeUpgrade, r.ids, r.store, [&](std::function<void()> body) {
            hashing = std::move(body);
            return true;
        });
    };
    startHashingLater();
    r.JobEnded(0);
    RunWatchCycle(r.context, r.working); // back at once
    EXPECT_FALSE(r.recorder.Poll()) << "the digest is still being taken";
    hashing();
    EXPECT_TRUE(r.recorder.Poll());
    EXPECT_EQ(r.Line()[kColSha], "ab12");

    // A digest that comes only after the next job has started is not that
    // job's.
    r.DeviceShown(QV_DEVICE_MSC);
    startHashingLater();
    r.JobEnded(0);
    r.DeviceShown(QV_DEVICE_MSC);
    r.store.content = L"cd34";
    r.StartJob();
    r.JobEnded(0);
    r.store.content = L"ef56";
    hashing();
    r.recorder.Flush();
    EXPECT_EQ(r.Line(3)[kColSha], "cd34");
}

TEST(JobRecorder, ADeviceBackWithoutVersionsCompletesTheRecordAtOnce) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_LOADER);
    r.StartJob();
    r.JobEnded(-9);
    RunWatchCycle(r.context, r.working);
    EXPECT_TRUE(r.recorder.Poll());
    ASSERT_EQ(r.sink.Lines().size(), 1u);
    EXPECT_EQ(r.Line()[kColAfter], "");
}

TEST(JobRecorder, WrittenWithoutVersionAfterTheReturnWaitOfNoDevice) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
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
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    r.JobEnded(0);
    r.b.clock.SleepMs(kRecordAfterWaitMs); // the verdict box stayed open
    r.recorder.StartReturnWait();
    EXPECT_FALSE(r.recorder.Poll());
}

TEST(JobRecorder, ANewJobWritesTheRecordStillPendingEachWithItsOwnId) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    r.JobEnded(-1);
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    EXPECT_EQ(r.sink.Lines().size(), 1u);
    std::vector<std::wstring> ids;
    r.recorder.onCompleted = [&](const JobRecordFields &f) { ids.push_back(f.jobId); };
    r.JobEnded(0);
    r.recorder.Flush();
    EXPECT_EQ(ids, std::vector<std::wstring>{L"job-2"});
}

// The whole way of a record: the recorder, the CSV sink, its outbox and a
// file held by a spreadsheet.
TEST(JobRecorder, AFailedWriteIsReportedOnceAndNeverStopsTheNext) {
    Recorded r;
    fakes::FakeRecordFiles files;
    const std::wstring path = L"C:\\QV\\Log\\jobs.csv";
    CsvRecordSink csv(files, files, r.b.clock, RecordQueueRoot(L"C:\\QV\\"), L"A", path);
    r.recorder.AddSink(csv);
    std::vector<std::wstring> reports;
    csv.Outbox().onError = [&](const std::wstring &reason) { reports.push_back(reason); };
    int completed = 0;
    r.recorder.onCompleted = [&](const JobRecordFields &) { ++completed; };
    auto job = [&] {
        r.DeviceShown(QV_DEVICE_MSC);
        r.StartJob();
        r.JobEnded(0);
        r.recorder.Flush();
        csv.Outbox().DeliverNow();
    };
    files.held = true;
    for (int i = 0; i < 3; ++i)
        job();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], L"C:\\QV\\Log\\jobs.csv: held open by another program");
    EXPECT_EQ(completed, 3);
    EXPECT_EQ(csv.Waiting(), 3u);

    files.held = false; // written again, in order; a later failure is news
    job();
    EXPECT_EQ(fakes::CsvJobIds(files.Bytes(path)),
              (std::vector<std::string>{"job-1", "job-2", "job-3", "job-4"}));
    files.held = true;
    job();
    EXPECT_EQ(reports.size(), 2u);
}

TEST(JobRecorder, EveryRecordIsCompletedAndHandedToTheSinks) {
    Recorded r;
    int completed = 0;
    r.recorder.onCompleted = [&](const JobRecordFields &f) {
        ++completed;
        EXPECT_EQ(f.resultCode, -9);
    };
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    r.JobEnded(-9);
    r.recorder.Flush();
    EXPECT_EQ(r.sink.Records().size(), 1u) << "the sinks decide where it goes";
    EXPECT_EQ(completed, 1);
}

// The window's waiter blocks in WaitAndWrite while the watcher, on its own
// thread, shows the device back.
TEST(JobRecorder, TheWaiterWakesWhenTheWatcherSeesTheDeviceBack) {
    Recorded r;
    r.DeviceShown(QV_DEVICE_MSC);
    r.StartJob();
    r.JobEnded(0);
    r.b.library.deviceSystemText = "1.2.3";
    std::thread waiter([&] { r.recorder.WaitAndWrite(); });
    std::thread watcher([&] { RunWatchCycle(r.context, r.working); });
    watcher.join();
    waiter.join(); // the fake clock never reaches the deadline: only the wake ends it
    ASSERT_EQ(r.sink.Lines().size(), 1u);
    EXPECT_EQ(r.Line()[kColAfter], "1.2.3");
}

TEST(JobId, ThirtyTwoLowerCaseHexadecimalCharactersNewEachTime) {
    RandomJobIdSource ids;
    const std::wstring first = ids.NewJobId();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << first;
    EXPECT_NE(ids.NewJobId(), first);
    const uint8_t bytes[] = {0x00, 0x9f, 0xa0, 0xff};
    EXPECT_EQ(HexText(bytes, sizeof bytes), L"009fa0ff");
}

} // namespace
