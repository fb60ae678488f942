// The Win32 services of the device operations on the real system: the
// installer process, the Windows version and bitness, and the UI thread's
// wait that keeps handling sent messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "device/driver_install.h"
#include "device/job_facts_win.h"
#include "device/message_pump_win.h"
#include "device/process_runner_win.h"
#include "device/system_info_win.h"
#include "records/queue_files_win.h"
#include "records/record_files_win.h"
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
    QueueFilesWin queue;
    auto sink = MakeCsvRecordSink(files, queue, clock, record, folder.Path(), L"A");
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
    EXPECT_TRUE(ListRecordQueue(queue, RecordQueueRoot(folder.Path())).waiting.empty());
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
    QueueFilesWin queue;
    auto sink = MakeCsvRecordSink(files, queue, clock, record, folder.Path(), L"A");
    sink->Submit(RecordOf(L"a"));
    EXPECT_EQ(sink->Outbox().DeliverNow(), 1u);
    EXPECT_EQ(FileBytes(record),
              RecordStart() + "2026-12-01T08:00:00Z,by hand\r\n" + JobRecordLine(RecordOf(L"a")));
}

// Each step of the queue's files is one step: a name taken is never
// overwritten, a folder's place held by a file is said, and a living
// program's mark cannot be taken for a dead one's.
TEST(QueueFilesWin, OneStepEachAndTheMarkOfALivingProgram) {
    TempFolder folder;
    QueueFilesWin queue;
    std::wstring error;
    const std::wstring a = folder.Path() + L"q\\a.rec";
    const std::wstring b = folder.Path() + L"q\\b.rec";
    ASSERT_TRUE(queue.MakeFolder(folder.Path() + L"q\\", error));
    ASSERT_TRUE(queue.Create(a, "one", error));
    EXPECT_FALSE(queue.Create(a, "two", error));
    ASSERT_TRUE(queue.Create(b, "three", error));
    EXPECT_FALSE(queue.Rename(a, b, error)) << "a claim never takes another's name";
    EXPECT_EQ(FileBytes(a), "one");
    EXPECT_EQ(FileBytes(b), "three");
    std::vector<std::wstring> names;
    ASSERT_TRUE(queue.List(folder.Path() + L"q\\", names, error));
    EXPECT_EQ(names.size(), 2u);
    EXPECT_FALSE(queue.MakeFolder(a + L"\\", error));
    EXPECT_NE(error.find(L"is a file"), std::wstring::npos);

    const std::wstring mark = folder.Path() + L"q\\owner";
    ASSERT_TRUE(queue.HoldMark(mark, error));
    EXPECT_TRUE(queue.HoldMark(mark, error)) << "every queue of the program shares it";
    EXPECT_TRUE(queue.MarkHeld(mark));
    ASSERT_TRUE(queue.Create(folder.Path() + L"q\\left", "", error));
    EXPECT_FALSE(queue.MarkHeld(folder.Path() + L"q\\left")) << "left by a program that ended";
    EXPECT_FALSE(queue.MarkHeld(folder.Path() + L"q\\never"));
}

// A program keeps three records while the file is held, and is killed: the
// next start writes them, once. Then two programs on one queue, one killed
// while it writes and delivers: every record it was told is kept arrives,
// none twice.
TEST(RecordOutboxWin, RecordsOfAKilledProgramArriveOnce) {
    TempFolder folder;
    RecordFilesWin files;
    QueueFilesWin queue;
    fakes::FixedDateClock clock;
    const std::wstring record = folder.Path() + L"Log\\jobs.csv";
    const std::wstring kept = record + L".kept";
    auto child = [&](const std::wstring &count, const std::wstring &mode,
                     const std::function<bool()> &until) {
        std::wstring command = L"\"" + ModuleFolder() + L"record_outbox_child.exe\" \"" +
                               folder.Path().substr(0, folder.Path().size() - 1) + L"\" \"" +
                               record + L"\" " + count + L" " + mode;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return false;
        bool inTime = false;
        for (int i = 0; i < 400 && !(inTime = until()); ++i)
            Sleep(25);
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return inTime;
    };
    auto keptIds = [&] {
        std::vector<std::string> ids;
        std::string line;
        for (char c : FileBytes(folder.Path() + L"kept.txt")) {
            if (c != '\n') {
                line += c;
                continue;
            }
            ids.push_back(line);
            line.clear();
        }
        return ids;
    };
    std::wstring error;
    ASSERT_TRUE(MakeParentFolders(record, error));
    ASSERT_TRUE(TempFolder::WriteBytes(record, RecordStart()));
    HANDLE hold = HoldLikeASpreadsheet(record);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    const bool keptInTime = child(
        L"3", L"", [&] { return GetFileAttributesW(kept.c_str()) != INVALID_FILE_ATTRIBUTES; });
    CloseHandle(hold);
    ASSERT_TRUE(keptInTime);
    {
        auto next = MakeCsvRecordSink(files, queue, clock, record, folder.Path(), L"next");
        EXPECT_EQ(next->Outbox().DeliverNow(), 3u);
    }
    EXPECT_EQ(fakes::CsvJobIds(FileBytes(record)),
              (std::vector<std::string>{"job-1", "job-2", "job-3"}));

    // The second program delivers beside the child until the child dies.
    DeleteFileW(record.c_str());
    DeleteFileW(kept.c_str());
    DeleteFileW((folder.Path() + L"kept.txt").c_str());
    auto beside = MakeCsvRecordSink(files, queue, clock, record, folder.Path(), L"beside");
    child(L"400", L"deliver", [&] {
        beside->Outbox().DeliverNow();
        return keptIds().size() >= 40;
    });
    for (int round = 0; round < 3; ++round)
        beside->Outbox().DeliverNow();
    std::vector<std::string> written = fakes::CsvJobIds(FileBytes(record));
    std::sort(written.begin(), written.end());
    EXPECT_TRUE(std::adjacent_find(written.begin(), written.end()) == written.end())
        << "a record written twice";
    for (const std::string &id : keptIds())
        EXPECT_TRUE(std::binary_search(written.begin(), written.end(), id)) << "lost: " << id;
    EXPECT_GE(written.size(), 40u);
    EXPECT_TRUE(ListRecordQueue(queue, RecordQueueRoot(folder.Path())).waiting.empty());
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
