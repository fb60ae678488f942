// The Win32 services of the device operations on the real system: the
// installer process, the Windows version and bitness, and the UI thread's
// wait that keeps handling sent messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "device/driver_install.h"
#include "device/job_record_win.h"
#include "device/message_pump_win.h"
#include "device/process_runner_win.h"
#include "device/record_files_win.h"
#include "device/system_info_win.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"
#include "tests/fakes/record_fakes.h"
#include "tests/win32/app/temp_folder_win.h"

namespace {

std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// A program folder of its own with the helper in it as DriverSetup.Exe.
class ProgramFolder {
  public:
    explicit ProgramFolder(bool withInstaller) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"qv device test " +
                   std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++m_counter) +
                   L"\\";
        CreateDirectoryW(m_folder.c_str(), nullptr);
        if (withInstaller)
            CopyFileW((ModuleFolder() + L"device_installer_helper.exe").c_str(),
                      Installer().c_str(), FALSE);
    }
    ~ProgramFolder() {
        DeleteFileW(Installer().c_str());
        DeleteFileW(Report().c_str());
        RemoveDirectoryW(m_folder.c_str());
    }
    const std::wstring &Path() const { return m_folder; }
    std::wstring Installer() const { return m_folder + L"DriverSetup.Exe"; }
    std::wstring Report() const { return m_folder + L"report.txt"; }

    // The helper's process id and command line, as it wrote them.
    bool ReadReport(DWORD &pid, std::wstring &commandLine) const {
        HANDLE file = CreateFileW(Report().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        char bytes[4096];
        DWORD read = 0;
        ReadFile(file, bytes, sizeof bytes, &read, nullptr);
        CloseHandle(file);
        wchar_t text[4096];
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(read), text, 4096);
        const std::wstring all(text, static_cast<size_t>(length));
        const size_t newline = all.find(L'\n');
        if (newline == std::wstring::npos) return false;
        pid = std::wcstoul(all.c_str(), nullptr, 10);
        commandLine = all.substr(newline + 1);
        return true;
    }

  private:
    static inline int m_counter = 0;
    std::wstring m_folder;
};

void SetHelper(const wchar_t *mode, const std::wstring &report) {
    SetEnvironmentVariableW(L"QV_HELPER_MODE", mode);
    SetEnvironmentVariableW(L"QV_HELPER_REPORT", report.c_str());
}

TEST(ProcessRunnerWin, ExitCodeOfAFinishedProgram) {
    ProgramFolder folder(true);
    SetHelper(L"exit:7", folder.Report());
    ProcessRunnerWin runner;
    auto process = runner.StartHidden(L"\"" + folder.Installer() + L"\" -i qv70 \"x y.inf\"");
    ASSERT_NE(process, nullptr);
    EXPECT_TRUE(process->Wait(10000));
    uint32_t code = 0;
    EXPECT_TRUE(process->GetExitCode(code));
    EXPECT_EQ(code, 7u);
    process->Close();
    EXPECT_FALSE(process->GetExitCode(code)); // no handle any more
}

TEST(ProcessRunnerWin, ProgramThatCannotBeStarted) {
    ProcessRunnerWin runner;
    EXPECT_EQ(runner.StartHidden(L"\"C:\\no such folder\\DriverSetup.Exe\" -i qv70"), nullptr);
}

TEST(ProcessRunnerWin, ProgramThatNeverEndsIsStillActiveUntilEnded) {
    ProgramFolder folder(true);
    SetHelper(L"hang", folder.Report());
    ProcessRunnerWin runner;
    auto process = runner.StartHidden(L"\"" + folder.Installer() + L"\"");
    ASSERT_NE(process, nullptr);
    EXPECT_FALSE(process->Wait(100));
    uint32_t code = 0;
    EXPECT_TRUE(process->GetExitCode(code));
    EXPECT_EQ(code, kStillActive);
    EXPECT_TRUE(process->Terminate(0));
    EXPECT_TRUE(process->Wait(10000));
    EXPECT_TRUE(process->GetExitCode(code));
    EXPECT_EQ(code, 0u);
}

TEST(SystemInfoWin, VersionAndBitnessOfThisSystem) {
    SystemInfoWin system;
    uint32_t major = 0, minor = 0;
    ASSERT_TRUE(system.GetWindowsVersion(major, minor));
    EXPECT_GE(major, 5u);
    // The program is built for 64-bit Windows only, where WOW64 says no.
    EXPECT_TRUE(system.ProcessIs64Bit());
    EXPECT_FALSE(system.IsWow64());
    const DriverFolder driver = GetDriverFolder(system);
    EXPECT_TRUE(driver.windows64);
    EXPECT_EQ(driver.folder.rfind(L"Driver\\amd64\\", 0), 0u) << driver.folder.c_str();
}

// The whole installation through the real process runner, against the fake
// library: the installer paths of the job.
struct Installation {
    fakes::Bench b;
    fakes::FakeSystemInfo system; // 64-bit Windows 7: the installer program
    ProgramFolder folder;
    std::wstring inf;

    explicit Installation(bool withInstaller) : folder(withInstaller) {
        b.state.g_programFolder = folder.Path();
        inf = folder.Path() + L"Driver\\amd64\\win7\\qv70usb.inf";
        b.files.AddFile(inf);
        b.library.waitResults = {0}; // not back after the switch: needs its driver
    }
    int Run(IProcessRunner &runner, uint32_t installerWaitMs = 30000) {
        DriverInstallTimes times;
        times.installerWaitMs = installerWaitMs;
        return EnterVeskUsbMode(b.context, runner, system, times);
    }
};

TEST(DriverInstallationWin, InstallerSucceedsWithTheExactCommandLine) {
    for (const wchar_t *mode : {L"exit:0", L"exit:1"}) {
        Installation install(true);
        SetHelper(mode, install.folder.Report());
        ProcessRunnerWin runner;
        EXPECT_EQ(install.Run(runner), 0);
        DWORD pid = 0;
        std::wstring commandLine;
        ASSERT_TRUE(install.folder.ReadReport(pid, commandLine));
        EXPECT_EQ(commandLine,
                  L"\"" + install.folder.Installer() + L"\" -i qv70 \"" + install.inf + L"\"");
    }
}

TEST(DriverInstallationWin, InstallerReportsFailure) {
    Installation install(true);
    SetHelper(L"exit:2", install.folder.Report());
    ProcessRunnerWin runner;
    EXPECT_EQ(install.Run(runner), -13);
}

TEST(DriverInstallationWin, InstallerMissing) {
    Installation install(false);
    ProcessRunnerWin runner;
    EXPECT_EQ(install.Run(runner), -15);
}

// The exit code of a process whose handle went bad cannot be read.
class LostHandleRunner : public IProcessRunner {
  public:
    std::unique_ptr<IRunningProcess> StartHidden(const std::wstring &commandLine) override {
        auto process = m_real.StartHidden(commandLine);
        if (process) process->Wait(10000);
        if (process) process->Close();
        return process;
    }

  private:
    ProcessRunnerWin m_real;
};

TEST(DriverInstallationWin, ExitCodeUnreadable) {
    Installation install(true);
    SetHelper(L"exit:0", install.folder.Report());
    LostHandleRunner runner;
    EXPECT_EQ(install.Run(runner), -16);
}

TEST(DriverInstallationWin, InstallerThatNeverEndsIsEnded) {
    Installation install(true);
    SetHelper(L"hang", install.folder.Report());
    ProcessRunnerWin runner;
    EXPECT_EQ(install.Run(runner, 300), -17);
    EXPECT_EQ(install.b.clock.Sleeps().size(), 11u); // 2000 before the switch, ten reads

    DWORD pid = 0;
    std::wstring commandLine;
    ASSERT_TRUE(install.folder.ReadReport(pid, commandLine));
    HANDLE helper = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (helper != nullptr) { // gone already is just as good
        EXPECT_EQ(WaitForSingleObject(helper, 10000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(helper, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(helper);
    }
}

// A worker writes into a window of the UI thread with a sent message while
// the UI thread waits for its watch cycle: the wait must deliver the message
// (a plain wait would deadlock) and leave posted messages queued.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 1) {
        auto *count =
            reinterpret_cast<std::atomic<int> *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        ++*count;
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(PumpSentMessages, WaitForTheWatcherHandlesItsSentWrites) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QvPumpTest";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"QvPumpTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    std::atomic<int> handled{0};
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handled));
    PostMessageW(window, WM_APP + 2, 0, 0);

    WorkerGate gate;
    std::atomic<int32_t> jobActive{0};
    std::atomic<bool> inCycle{false};
    LRESULT sendResult = 0;
    std::thread watcher([&] {
        ASSERT_TRUE(gate.BeginWatchCycle(jobActive));
        inCycle = true;
        for (int i = 0; i < 3; ++i)
            sendResult += SendMessageW(window, WM_APP + 1, 0, 0);
        gate.EndWatchCycle();
    });
    while (!inCycle)
        Sleep(1);
    jobActive = 1;
    EXPECT_TRUE(gate.WaitForWatchIdle(PumpSentMessages, kWatchIdleWaitMs));
    watcher.join();

    EXPECT_EQ(handled, 3);
    EXPECT_EQ(sendResult, 3);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, window, WM_APP + 2, WM_APP + 2, PM_REMOVE));
    DestroyWindow(window);
}

TEST(PumpSentMessages, ReturnsAfterItsTimeWhenNothingIsSent) {
    const DWORD start = GetTickCount();
    PumpSentMessages(50);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 2000u);
}

std::string FileBytes(const std::wstring &path) {
    std::string bytes;
    FILE *file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return bytes;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    fclose(file);
    return bytes;
}

TEST(RecordFilesWin, ANewFileGetsItsMarkAndHeaderOnceAndItsFolder) {
    TempFolder folder;
    RecordFilesWin files;
    IRecordFile &store = files; // the record's append, not the queue's
    const std::wstring path = folder.Path() + L"Log\\jobs.csv";
    std::wstring error;
    ASSERT_TRUE(store.Append(path, "h1,h2\r\n", "a,b\r\n", error)) << error.size();
    ASSERT_TRUE(store.Append(path, "h1,h2\r\n", "c,d\r\n", error));
    EXPECT_EQ(FileBytes(path), "\xEF\xBB\xBFh1,h2\r\na,b\r\nc,d\r\n");
}

TEST(RecordFilesWin, AppendsWhileAnotherProgramHoldsTheFileOpen) {
    TempFolder folder;
    RecordFilesWin files;
    IRecordFile &store = files; // the record's append, not the queue's
    const std::wstring path = folder.Path() + L"jobs.csv";
    std::wstring error;
    ASSERT_TRUE(store.Append(path, "h\r\n", "1\r\n", error));
    // A spreadsheet reading it, sharing it for reading and writing.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(store.Append(path, "h\r\n", "2\r\n", error));
    CloseHandle(reader);
    EXPECT_EQ(FileBytes(path), "\xEF\xBB\xBFh\r\n1\r\n2\r\n");
}

TEST(RecordFilesWin, AFileThatCannotBeWrittenSaysWhy) {
    TempFolder folder;
    RecordFilesWin files;
    IRecordFile &store = files; // the record's append, not the queue's
    const std::wstring path = folder.Path() + L"jobs.csv";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)); // a folder in its place
    std::wstring error;
    EXPECT_FALSE(store.Append(path, "h\r\n", "1\r\n", error));
    EXPECT_FALSE(error.empty());
    RemoveDirectoryW(path.c_str());
}

TEST(JobRecordStoreWin, Sha256ThroughTheSystemsHashService) {
    TempFolder folder;
    JobRecordStoreWin store;
    const std::wstring empty = folder.Path() + L"empty.img";
    const std::wstring abc = folder.Path() + L"abc.img";
    ASSERT_TRUE(TempFolder::WriteBytes(empty, ""));
    ASSERT_TRUE(TempFolder::WriteBytes(abc, "abc"));
    std::wstring hex;
    ASSERT_TRUE(store.FileSha256(empty, hex));
    EXPECT_EQ(hex, L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    ASSERT_TRUE(store.FileSha256(abc, hex));
    EXPECT_EQ(hex, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Changed contents give a new digest, not the one remembered.
    Sleep(20);
    ASSERT_TRUE(TempFolder::WriteBytes(abc, "abcd"));
    ASSERT_TRUE(store.FileSha256(abc, hex));
    EXPECT_EQ(hex, L"88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589");
    EXPECT_FALSE(store.FileSha256(folder.Path() + L"missing.img", hex));
    EXPECT_FALSE(store.ComputerName().empty());
}

// ---------------------------------------------------------------------------
// The record file and its outbox on the real file system.

// A spreadsheet's hold: the file open for reading, shared for reading only.
HANDLE HoldLikeASpreadsheet(const std::wstring &path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

JobRecordFields RecordOf(const std::wstring &id) {
    JobRecordFields fields;
    fields.jobId = id;
    return fields;
}

TEST(RecordFilesWin, NestedFoldersAreMadeAndAHeldFileMakesTheLinesWait) {
    TempFolder folder;
    RecordFilesWin files;
    fakes::FixedDateClock clock;
    const std::wstring record = folder.Path() + L"Records\\2026\\jobs.csv";
    auto sink = MakeCsvRecordSink(files, files, clock, record, folder.Path() + L"Log");
    std::vector<std::wstring> errors;
    sink->Outbox().onError = [&](const std::wstring &message) { errors.push_back(message); };
    sink->Submit(RecordOf(L"a"));
    EXPECT_EQ(sink->Outbox().DeliverNow(), 1u);

    HANDLE hold = HoldLikeASpreadsheet(record);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    sink->Submit(RecordOf(L"b"));
    sink->Submit(RecordOf(L"c"));
    EXPECT_EQ(sink->Outbox().DeliverNow(), 0u);
    EXPECT_EQ(sink->Waiting(), 2u);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(L"holds the file open"), std::wstring::npos);
    CloseHandle(hold);
    EXPECT_EQ(sink->Outbox().DeliverNow(), 2u);
    EXPECT_EQ(fakes::CsvJobIds(FileBytes(record)), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(GetFileAttributesW(OutboxPathBeside(record).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(RecordFilesWin, APathThatCannotBeAFileSaysWhy) {
    TempFolder folder;
    RecordFilesWin files;
    const std::wstring isFolder = folder.Path() + L"jobs.csv";
    ASSERT_TRUE(CreateDirectoryW(isFolder.c_str(), nullptr));
    const std::wstring readOnly = folder.Path() + L"locked.csv";
    ASSERT_TRUE(TempFolder::WriteBytes(readOnly, "x\r\n"));
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    // Only the folder is so for good: the others may be mended.
    struct Case {
        std::wstring path;
        const wchar_t *says;
        DeliveryOutcome outcome;
    } cases[] = {
        {isFolder, L"is a folder, not a file", DeliveryOutcome::Refused},
        {readOnly, L"read-only", DeliveryOutcome::Failed},
        {folder.Path() + std::wstring(300, L'r') + L".csv", L"Windows allows at most 259",
         DeliveryOutcome::Failed},
        {L"\\\\qv-no-such-server\\records\\jobs.csv", L"", DeliveryOutcome::Failed},
    };
    for (const Case &c : cases) {
        std::wstring error;
        EXPECT_FALSE(static_cast<IRecordFile &>(files).Append(c.path, "h\r\n", "1\r\n", error))
            << c.says;
        EXPECT_FALSE(error.empty()) << c.says;
        EXPECT_NE(error.find(c.says), std::wstring::npos) << c.says;
        CsvRecordDestination destination(files, c.path);
        EXPECT_EQ(destination.Deliver(RecordOf(L"a"), error), c.outcome) << c.says;
    }
    // The queue of a record that cannot be reached is kept locally.
    EXPECT_FALSE(files.CanHold(L"\\\\qv-no-such-server\\records\\jobs.csv.outbox"));
    EXPECT_TRUE(files.CanHold(folder.Path() + L"a\\b\\jobs.csv.outbox"));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(isFolder.c_str());
}

// The header of a file begun by the earlier version is replaced through a
// copy: whatever stops it midway leaves the file as it was and no copy
// behind; a file that takes it keeps every other byte.
TEST(RecordFilesWin, TheStartOfAFileIsReplacedWholeOrNotAtAll) {
    TempFolder folder;
    RecordFilesWin files;
    const std::wstring record = folder.Path() + L"jobs.csv";
    const std::wstring copy = record + L".new";
    const std::string before = "\xEF\xBB\xBFstart,end\r\n";
    const std::string after = "\xEF\xBB\xBFstart,end,job_id\r\n";
    const std::string lines = "1,2\r\n\"3\r\n\",4\r\nby hand";
    ASSERT_TRUE(TempFolder::WriteBytes(record, before + lines));
    std::wstring error;

    EXPECT_FALSE(files.ReplaceStart(record, "\xEF\xBB\xBFother\r\n", after, error));
    EXPECT_EQ(FileBytes(record), before + lines) << "a file that begins otherwise";

    ASSERT_TRUE(CreateDirectoryW(copy.c_str(), nullptr)); // no copy can be made
    EXPECT_FALSE(files.ReplaceStart(record, before, after, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FileBytes(record), before + lines);
    ASSERT_TRUE(RemoveDirectoryW(copy.c_str()));

    HANDLE hold = HoldLikeASpreadsheet(record); // the copy cannot take its place
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(files.ReplaceStart(record, before, after, error));
    CloseHandle(hold);
    EXPECT_EQ(FileBytes(record), before + lines);
    EXPECT_EQ(GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES) << "the copy goes";

    ASSERT_TRUE(files.ReplaceStart(record, before, after, error)) << error.size();
    EXPECT_EQ(FileBytes(record), after + lines);
    EXPECT_EQ(GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A file of the earlier version, edited by hand and left without a line
// break: the next job's line gets the heading and a line of its own.
TEST(RecordFilesWin, AnEarlierFileEditedByHandTakesTheNextLineWhole) {
    TempFolder folder;
    RecordFilesWin files;
    fakes::FixedDateClock clock;
    const std::wstring record = folder.Path() + L"jobs.csv";
    const std::string earlier = EarlierRecordStart() + "2026-12-01T08:00:00Z,by hand";
    ASSERT_TRUE(TempFolder::WriteBytes(record, earlier));
    auto sink = MakeCsvRecordSink(files, files, clock, record, folder.Path() + L"Log");
    sink->Submit(RecordOf(L"a"));
    EXPECT_EQ(sink->Outbox().DeliverNow(), 1u);
    EXPECT_EQ(FileBytes(record),
              RecordStart() + "2026-12-01T08:00:00Z,by hand\r\n" + JobRecordLine(RecordOf(L"a")));
}

// A program keeps three records while the file is held, and is killed. The
// next start writes them, in order and once, also when the strikes were
// lost with the process.
TEST(RecordOutboxWin, LinesOfAKilledProgramArriveOnceAtTheNextStart) {
    TempFolder folder;
    RecordFilesWin files;
    fakes::FixedDateClock clock;
    const std::wstring record = folder.Path() + L"Log\\jobs.csv";
    {
        auto first = MakeCsvRecordSink(files, files, clock, record, folder.Path() + L"Local");
        first->Submit(RecordOf(L"earlier"));
        ASSERT_EQ(first->Outbox().DeliverNow(), 1u);
    }
    HANDLE hold = HoldLikeASpreadsheet(record);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);

    std::wstring command =
        L"\"" + ModuleFolder() + L"record_outbox_child.exe\" \"" + record + L"\" 3";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    const std::wstring kept = record + L".kept";
    for (int i = 0; i < 200 && GetFileAttributesW(kept.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    const bool keptInTime = GetFileAttributesW(kept.c_str()) != INVALID_FILE_ATTRIBUTES;
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(hold);
    ASSERT_TRUE(keptInTime);
    DeleteFileW(kept.c_str());
    EXPECT_EQ(fakes::CsvJobIds(FileBytes(record)), (std::vector<std::string>{"earlier"}));
    const std::string queue = FileBytes(OutboxPathBeside(record));
    EXPECT_EQ(ReadOutboxContents(queue).waiting.size(), 3u);

    {
        auto next = MakeCsvRecordSink(files, files, clock, record, folder.Path() + L"Local");
        EXPECT_EQ(next->Outbox().DeliverNow(), 3u);
    }
    const std::vector<std::string> once = {"earlier", "job-1", "job-2", "job-3"};
    EXPECT_EQ(fakes::CsvJobIds(FileBytes(record)), once);

    // The same queue again, as a crash before its strikes would leave it.
    ASSERT_TRUE(TempFolder::WriteBytes(OutboxPathBeside(record), queue));
    {
        auto again = MakeCsvRecordSink(files, files, clock, record, folder.Path() + L"Local");
        EXPECT_EQ(again->Outbox().DeliverNow(), 3u);
        EXPECT_EQ(again->Waiting(), 0u);
    }
    EXPECT_EQ(fakes::CsvJobIds(FileBytes(record)), once);

    // The queue cut in the middle of its last line (a failing disk): the
    // start goes on, the whole file is kept aside, the whole lines go.
    const std::string cut = queue.substr(0, queue.size() - 20);
    ASSERT_TRUE(TempFolder::WriteBytes(OutboxPathBeside(record), cut));
    std::vector<std::wstring> errors;
    {
        auto damaged = MakeCsvRecordSink(files, files, clock, record, folder.Path() + L"Local");
        damaged->Outbox().onError = [&](const std::wstring &message) { errors.push_back(message); };
        damaged->Submit(RecordOf(L"after"));
        EXPECT_EQ(damaged->Outbox().DeliverNow(), 3u) << "two known, one new";
    }
    EXPECT_EQ(fakes::CsvJobIds(FileBytes(record)),
              (std::vector<std::string>{"earlier", "job-1", "job-2", "job-3", "after"}));
    ASSERT_EQ(errors.size(), 1u);
    const size_t named = errors[0].find(L"set aside in ");
    ASSERT_NE(named, std::wstring::npos);
    EXPECT_EQ(FileBytes(errors[0].substr(named + 13)), cut);
}

// A copy keeps the time of last write: an image replaced by one of the same
// size and time still gives its own digest.
TEST(JobRecordStoreWin, AnImageReplacedWithTheSameSizeAndTimeGivesItsOwnDigest) {
    TempFolder folder;
    JobRecordStoreWin store;
    const std::wstring image = folder.Path() + L"update.img";
    ASSERT_TRUE(TempFolder::WriteBytes(image, "abc"));
    auto writtenAt = [&image](FILETIME &time, bool set) {
        HANDLE file = CreateFileW(image.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const BOOL done = set ? SetFileTime(file, nullptr, nullptr, &time)
                              : GetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
        return done != 0;
    };
    FILETIME first{};
    ASSERT_TRUE(writtenAt(first, false));
    std::wstring hex;
    ASSERT_TRUE(store.FileSha256(image, hex));
    EXPECT_EQ(hex, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_TRUE(TempFolder::WriteBytes(image, "xyz"));
    ASSERT_TRUE(writtenAt(first, true));
    ASSERT_TRUE(store.FileSha256(image, hex));
    EXPECT_EQ(hex, L"3608bca1e44ea6c4d268eb6db02260269892c0b42b86bbf1e77a6fa16c3c9282");
}

TEST(JobIdSourceWin, ThirtyTwoLowerCaseHexadecimalCharactersNewEachTime) {
    JobIdSourceWin ids;
    const std::wstring first = ids.NewJobId();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
    EXPECT_NE(ids.NewJobId(), first);
}

} // namespace
