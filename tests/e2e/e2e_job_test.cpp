// The real program on the simulated bench: a device comes and goes, an
// upgrade and repairs run to their end, and a device pulled out during the
// download ends the job with its failure.
#include <gtest/gtest.h>

#include <algorithm>

#include "res/resource.h"
#include "tests/e2e/program_run_win.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

std::wstring Formatted(std::wstring text, const std::wstring &value) {
    const size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, value);
    return text;
}

std::wstring SettingOf(ProgramRun &run, const wchar_t *section, const wchar_t *key) {
    wchar_t text[260] = L"";
    GetPrivateProfileStringW(section, key, L"", text, 260, (run.Folder() + L"setting.ini").c_str());
    return text;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The texts a control showed, each change once and in order, until a message
// box of the program appeared. Takes a screenshot the first time the text
// equals shotWhen.
std::vector<std::wstring> RecordUntilBox(ProgramRun &run, int controlId, milliseconds timeout,
                                         const std::wstring &shotWhen = L"",
                                         const std::string &shotName = "") {
    std::vector<std::wstring> seen;
    const auto deadline = Clock::now() + timeout;
    for (int round = 0; Clock::now() < deadline; ++round) {
        const std::wstring text = run.Robot().Text(controlId);
        if (seen.empty() || seen.back() != text) {
            seen.push_back(text);
            if (!shotWhen.empty() && text == shotWhen) run.Shot(shotName);
        }
        if (round % 10 == 0) {
            MessageBoxInfo box;
            if (run.Robot().WaitForMessageBox(box, milliseconds(0))) break;
        }
        Sleep(2);
    }
    return seen;
}

// True when the wanted texts appear in this order within seen.
bool InOrder(const std::vector<std::wstring> &seen, const std::vector<std::wstring> &wanted) {
    auto at = seen.begin();
    for (const std::wstring &text : wanted) {
        at = std::find(at, seen.end(), text);
        if (at == seen.end()) return false;
        ++at;
    }
    return true;
}

std::string Joined(const std::vector<std::wstring> &texts) {
    std::string out;
    for (const std::wstring &text : texts) {
        out += " | ";
        for (wchar_t c : text)
            out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

// A settings file the program may not write, and a device whose record uses
// every byte the library gives it (texts without a terminating zero): the
// program starts, reads the device's versions, and a repair erases the IDB as
// ERASE_IDB=1 asks and writes the image, the library getting its record back
// unaltered at every step.
TEST(EndToEnd, ReadOnlySettingsAndAFullDeviceRecord) {
    ProgramSetup setup;
    setup.eraseIdb = 1;
    ProgramRun run("read-only-settings", setup);
    qvsim::Bench &bench = run.Bench();
    bench.UpdateSettings([](qvsim::BenchSettings &s) { s.fullRecord = true; });
    // Read-only, and held open by a reader that lets nobody write: run by an
    // administrator (root under Wine) the attribute alone may not refuse
    // writing.
    struct ReadOnly {
        std::wstring path;
        HANDLE reader;
        explicit ReadOnly(std::wstring file) : path(std::move(file)) {
            EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
            reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            EXPECT_NE(reader, INVALID_HANDLE_VALUE);
        }
        ~ReadOnly() {
            if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    } readOnly(run.Folder() + L"setting.ini");
    ASSERT_TRUE(run.Start()) << "a read-only setting.ini must not stop the program";
    UiRobot &robot = run.Robot();

    const int32_t device = bench.Plug({});
    ASSERT_NE(device, 0);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    EXPECT_EQ(robot.Text(IDC_DEVICE_SW_VERSION), L"1.0.0");
    EXPECT_EQ(robot.Text(IDC_DEVICE_LOADER_VERSION), L"2.05");
    run.Shot("full-record-device");

    ASSERT_TRUE(run.StartJob(IDC_REPAIR, "repair-question"));
    ASSERT_TRUE(run.ExpectSuccess(IDC_REPAIR, "repair-verdict"));
    const std::string log = bench.ReadLog();
    EXPECT_EQ(CountOf(log, "IDB erased"), 1) << "ERASE_IDB=1 of the read-only file";
    EXPECT_EQ(CountOf(log, "record handed back altered"), 0);
    EXPECT_EQ(ReadAll(bench.StoragePath(device)), SystemPayload(run.SampleImage()));
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    EXPECT_EQ(robot.Text(IDC_DEVICE_SW_VERSION), L"1.2.3");
    run.ExitThroughButton();
}

// A device is announced, upgraded, repaired with and without the erase of its
// IDB, and pulled out during a download: one program run.
TEST(EndToEnd, DeviceShownUpgradedRepairedAndPulledOut) {
    ProgramRun run("device-jobs");
    qvsim::Bench &bench = run.Bench();
    ASSERT_TRUE(run.Start());
    UiRobot &robot = run.Robot();
    const std::wstring storageName = SettingOf(run, L"MSC_ID", L"NAME");

    // The image named in setting.ini is shown; no device yet.
    EXPECT_EQ(robot.Title(), run.AppTitle() + L" v1.2 ");
    ASSERT_TRUE(UiRobot::WaitUntil(
        [&] { return robot.Text(IDC_STATUS_LINE) == run.Text(L"IDS_38"); }, milliseconds(5000)));
    EXPECT_EQ(robot.Text(IDC_FIRMWARE_PATH), run.SampleImage());
    EXPECT_EQ(robot.Text(IDC_IMAGE_SW_VERSION), L"1.2.3");
    EXPECT_EQ(robot.Text(IDC_IMAGE_LOADER_VERSION), L"2.05");
    EXPECT_FALSE(robot.Enabled(IDC_UPGRADE));
    EXPECT_FALSE(robot.Enabled(IDC_REPAIR));
    run.Shot("no-device");

    // Plugged in: shown with its versions and ready within one watcher period
    // plus 400 ms.
    Clock::time_point plugged = Clock::now();
    const int32_t id = bench.Plug({});
    ASSERT_NE(id, 0);
    ASSERT_TRUE(
        UiRobot::WaitUntil([&] { return robot.Enabled(IDC_UPGRADE) && robot.Enabled(IDC_REPAIR); },
                           milliseconds(5000)));
    const double readyMs = MsSince(plugged);
    std::printf("plug to Upgrade and Repair enabled: %.0f ms\n", readyMs);
    EXPECT_LT(readyMs, 200 + 400);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(2000)));
    EXPECT_EQ(robot.Text(IDC_DEVICE_NAME), storageName);
    EXPECT_EQ(robot.Text(IDC_STATUS_LINE), Formatted(run.Text(L"IDS_30"), storageName));
    EXPECT_EQ(robot.Text(IDC_DEVICE_SW_VERSION), L"1.0.0");
    EXPECT_EQ(robot.Text(IDC_DEVICE_LOADER_VERSION), L"2.05");
    run.Shot("device-ready");

    // Pulled out: the window says so and the buttons go.
    Clock::time_point pulled = Clock::now();
    ASSERT_TRUE(bench.Unplug(id));
    EXPECT_TRUE(UiRobot::WaitUntil(
        [&] {
            return robot.Text(IDC_STATUS_LINE) == run.Text(L"IDS_38") &&
                   !robot.Enabled(IDC_UPGRADE) && !robot.Enabled(IDC_REPAIR);
        },
        milliseconds(5000)));
    std::printf("unplug to buttons disabled: %.0f ms\n", MsSince(pulled));
    EXPECT_EQ(robot.Text(IDC_DEVICE_NAME), L"");
    EXPECT_EQ(robot.Text(IDC_DEVICE_SW_VERSION), L"");
    run.Shot("device-gone");

    // An upgrade slow enough for every phase to show: the device takes longer
    // to restart than the job's own second of waiting after the reset.
    bench.UpdateSettings([](qvsim::BenchSettings &s) {
        s.downloadBytesPerSecond = 256 * 1024;
        s.resetDelayMs = 1800;
        s.waitIntervalMs = 250; // the wait after the reset outlasts the restart
    });
    const int32_t device = bench.Plug({});
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "upgrade-question"));
    EXPECT_TRUE(UiRobot::WaitUntil(
        [&] {
            return !robot.Enabled(IDC_UPGRADE) && !robot.Enabled(IDC_REPAIR) &&
                   !robot.Enabled(IDC_BROWSE);
        },
        milliseconds(2000)));
    EXPECT_TRUE(robot.Enabled(IDC_EXIT));
    // The keyboard focus left the disabled buttons for the path field (a
    // moment after they were disabled: the window moves it once the
    // command has returned).
    EXPECT_TRUE(UiRobot::WaitUntil([&] { return robot.FocusedControl() == IDC_FIRMWARE_PATH; },
                                   milliseconds(2000)))
        << robot.FocusedControl();
    EXPECT_EQ(robot.Text(IDC_STATUS_LINE), run.Text(L"IDS_44"));
    const std::vector<std::wstring> phases = RecordUntilBox(
        run, IDC_DETAIL_LINE, milliseconds(20000), run.Text(L"IDS_91"), "upgrade-downloading");
    EXPECT_TRUE(
        InOrder(phases, {Formatted(run.Text(L"IDS_6"), SettingOf(run, L"DEVICE_ID", L"NAME")),
                         run.Text(L"IDS_89"), run.Text(L"IDS_90"), run.Text(L"IDS_91"),
                         run.Text(L"IDS_92")}))
        << Joined(phases);
    // While the verdict is read, the last phase stays and the clock stands.
    MessageBoxInfo verdict;
    ASSERT_TRUE(run.ExpectBox(verdict, run.Text(L"IDS_21"), run.AppTitle(), Icon::Information,
                              false, "upgrade-verdict"));
    EXPECT_EQ(robot.Text(IDC_DETAIL_LINE), run.Text(L"IDS_92"));
    const std::wstring elapsed = robot.Text(IDC_ELAPSED_TIME);
    EXPECT_FALSE(elapsed.empty());
    Sleep(1200);
    EXPECT_EQ(robot.Text(IDC_ELAPSED_TIME), elapsed);
    robot.Answer(verdict, IDOK);
    // After the verdict the focus is back on a button: Browse, enabled again.
    EXPECT_TRUE(UiRobot::WaitUntil([&] { return robot.FocusedControl() == IDC_BROWSE; },
                                   milliseconds(2000)));
    EXPECT_EQ(ReadAll(bench.StoragePath(device)), SystemPayload(run.SampleImage()));

    // The device, still there, is announced again with its new system.
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    EXPECT_EQ(robot.Text(IDC_DEVICE_SW_VERSION), robot.Text(IDC_IMAGE_SW_VERSION));
    EXPECT_EQ(robot.Text(IDC_STATUS_LINE), Formatted(run.Text(L"IDS_30"), storageName));
    EXPECT_EQ(robot.Text(IDC_ELAPSED_TIME), L"");
    EXPECT_TRUE(robot.Enabled(IDC_BROWSE));
    run.Shot("upgraded-device-again");
    const std::string log = bench.ReadLog();
    EXPECT_EQ(CountOf(log, "IDB erased"), 0) << "an upgrade never erases";

    // Repairs: ERASE_IDB is read from setting.ini when the job runs.
    bench.UpdateSettings([](qvsim::BenchSettings &s) {
        s.downloadBytesPerSecond = 0;
        s.resetDelayMs = 0;
        s.waitIntervalMs = 20;
    });
    run.SetSystemSetting(L"ERASE_IDB", L"1");
    ASSERT_TRUE(run.StartJob(IDC_REPAIR, "repair-erase-question"));
    EXPECT_EQ(robot.Text(IDC_STATUS_LINE), run.Text(L"IDS_82"));
    ASSERT_TRUE(run.ExpectSuccess(IDC_REPAIR, "repair-erase-verdict"));
    EXPECT_EQ(CountOf(bench.ReadLog(), "IDB erased"), 1);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));

    run.SetSystemSetting(L"ERASE_IDB", L"0");
    ASSERT_TRUE(run.StartJob(IDC_REPAIR, "repair-question"));
    ASSERT_TRUE(run.ExpectSuccess(IDC_REPAIR, "repair-verdict"));
    EXPECT_EQ(CountOf(bench.ReadLog(), "IDB erased"), 1) << "no erase without ERASE_IDB=1";
    EXPECT_EQ(ReadAll(bench.StoragePath(device)), SystemPayload(run.SampleImage()));
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));

    // Pulled out half-way through the download: a failure, never success, and
    // the device's storage keeps what it held.
    const std::vector<unsigned char> before = ReadAll(bench.StoragePath(device));
    bench.UpdateSettings([](qvsim::BenchSettings &s) { s.downloadBytesPerSecond = 128 * 1024; });
    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "unplug-question"));
    ASSERT_TRUE(UiRobot::WaitUntil(
        [&] { return robot.Text(IDC_DETAIL_LINE) == run.Text(L"IDS_91"); }, milliseconds(15000)));
    Sleep(500);
    ASSERT_TRUE(bench.Unplug(device));
    ASSERT_TRUE(run.ExpectFailure(IDC_UPGRADE, -9, "unplug-verdict"));
    EXPECT_EQ(ReadAll(bench.StoragePath(device)), before);
    EXPECT_TRUE(UiRobot::WaitUntil(
        [&] {
            return robot.Text(IDC_STATUS_LINE) == run.Text(L"IDS_38") &&
                   !robot.Enabled(IDC_UPGRADE) && !robot.Enabled(IDC_REPAIR);
        },
        milliseconds(5000)));
    run.Shot("unplugged-after-verdict");

    run.ExitThroughButton();
}

// Every job of the window appends its record to the file the sample
// settings name; a record that cannot be written is told on the detail line
// and changes no verdict.
TEST(EndToEnd, TheWindowsJobsAreRecorded) {
    ProgramRun run("job-record");
    qvsim::Bench &bench = run.Bench();
    ASSERT_TRUE(run.Start());
    UiRobot &robot = run.Robot();
    qvsim::DeviceSetup setup;
    setup.serial = "WIN1";
    bench.Plug(setup);
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "record-question"));
    ASSERT_TRUE(run.ExpectSuccess(IDC_UPGRADE, "record-verdict"));

    const std::wstring record = run.Folder() + L"Log\\jobs.csv";
    std::string text;
    ASSERT_TRUE(UiRobot::WaitUntil(
        [&] {
            const std::vector<unsigned char> bytes = ReadAll(record);
            text.assign(bytes.begin(), bytes.end());
            return CountOf(text, "\r\n") == 2;
        },
        milliseconds(15000)))
        << text;
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF") << "a spreadsheet reads it as UTF-8";
    const std::string line = text.substr(text.find("\r\n") + 2);
    EXPECT_NE(line.find(",upgrade,4,"), std::string::npos) << line;
    EXPECT_NE(line.find(",WIN1,1.0.0,2.05,"), std::string::npos) << line;
    EXPECT_NE(line.find(",0,IDS_21,"), std::string::npos) << line;
    // The version read after the job, the job's id, and the pass proven.
    EXPECT_NE(line.find("\",1.2.3,"), std::string::npos) << line;
    EXPECT_NE(line.find(",yes,"), std::string::npos) << line;

    // A folder where the file was (nothing may write there, not even an
    // administrator): the next job ends as before, and the detail line says
    // that its line was refused, and why; it waits in the queue's refused
    // folder until it is sent again.
    ASSERT_TRUE(DeleteFileW(record.c_str()));
    ASSERT_TRUE(CreateDirectoryW(record.c_str(), nullptr));
    ASSERT_TRUE(run.WaitForDevice(milliseconds(5000)));
    ASSERT_TRUE(run.StartJob(IDC_UPGRADE, "unrecorded-question"));
    ASSERT_TRUE(run.ExpectSuccess(IDC_UPGRADE, "unrecorded-verdict"));
    const std::wstring refused = Formatted(run.Text(L"IDS_207"), L"");
    EXPECT_TRUE(UiRobot::WaitUntil(
        [&] {
            const std::wstring shown = robot.Text(IDC_DETAIL_LINE);
            return shown.compare(0, refused.size(), refused) == 0 &&
                   shown.find(L"folder") != std::wstring::npos;
        },
        milliseconds(15000)))
        << Joined({robot.Text(IDC_DETAIL_LINE)});
    run.Shot("record-not-written");
    ASSERT_TRUE(RemoveDirectoryW(record.c_str()));
    run.ExitThroughButton();
}

} // namespace
