// The crash handler in a real process that really faults. The test program
// starts itself again with --crash=KIND; that child installs the handler
// into a fresh program folder and faults as asked. The parent then reads
// what the child left in Log\: a minidump that a debugger accepts (header,
// stream directory, an exception stream with the right code and thread) and
// a text that names the exception.
#include <windows.h>

#include <dbghelp.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/crash_handler_win.h"
#include "base/crash_report.h"
#include "tests/e2e/ui_robot_win.h"
#include "tests/win32/app/temp_folder_win.h"

namespace {

const wchar_t kFolderVariable[] = L"QV_CRASH_TEST_FOLDER";
const char kCrashFlag[] = "--crash=";
const char kTestVersion[] = "9.8.7.6";
const wchar_t kTestCaption[] = L"Crash handler test";

// ---- the child: faults on purpose ---------------------------------------

volatile int *g_nowhere = nullptr;

[[noreturn]] void WriteToNull() {
    *g_nowhere = 1;
    std::abort(); // not reached
}

int ReadFromNull() {
    return *g_nowhere;
}

// Each frame keeps a buffer the compiler cannot drop, so the stack runs out
// after a few hundred calls, long before the depth could reach the limit.
volatile int g_depthLimit = 1 << 30;

int Recurse(int depth) {
    if (depth >= g_depthLimit) return 0;
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + frame[0];
}

// A fault inside a window procedure, reached through the message loop as in
// the window program: the window system must not swallow it.
LRESULT CALLBACK FaultingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) WriteToNull();
    return DefWindowProcW(window, message, wParam, lParam);
}

void FaultInWindowProcedure() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = FaultingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QvCrashTestWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    PostMessageW(window, WM_APP, 0, 0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
}

void ThrowNobodyCatches() {
    throw std::runtime_error("nobody catches this");
}

int RunFaultingChild(const std::string &kind) {
    wchar_t folder[MAX_PATH] = L"";
    GetEnvironmentVariableW(kFolderVariable, folder, MAX_PATH);
    CrashHandlerSetup setup;
    setup.programFolder = folder;
    setup.caption = kTestCaption;
    setup.program = "crash_handler_win_test.exe";
    setup.version = kTestVersion;
    if (kind == "console") {
        setup.showBox = false;
        setup.textToStandardError = true;
    }
    if (!InstallCrashHandler(setup)) {
        std::fprintf(stderr, "the crash handler is not complete\n");
        return 2;
    }
    if (kind == "null-write" || kind == "console") {
        WriteToNull();
    } else if (kind == "worker-null-read") {
        std::thread([] { std::printf("%d\n", ReadFromNull()); }).join();
    } else if (kind == "divide-by-zero") {
        // Both from memory, or the compiler turns the division into a test.
        volatile int one = 1;
        volatile int zero = 0;
        volatile int quotient = one / zero;
        (void)quotient;
    } else if (kind == "stack-overflow") {
        std::thread([] { std::printf("%d\n", Recurse(0)); }).join();
    } else if (kind == "uncaught-exception") {
        std::thread(ThrowNobodyCatches).join();
    } else if (kind == "window-procedure") {
        FaultInWindowProcedure();
    } else if (kind == "abort") {
        std::abort();
    } else if (kind == "two-threads") {
        // Both fault at once; one report, one end.
        std::thread first([] { std::printf("%d\n", ReadFromNull()); });
        std::thread second([] { std::printf("%d\n", ReadFromNull()); });
        first.join();
        second.join();
    }
    std::fprintf(stderr, "no fault for %s\n", kind.c_str());
    return 3;
}

// ---- the parent: runs a child and reads its report ----------------------

struct Report {
    DWORD processId = 0;
    DWORD exitCode = 0;
    std::vector<std::wstring> dumps;
    std::vector<std::wstring> texts;
    std::string text; // of the first text
};

std::vector<std::wstring> FilesIn(const std::wstring &folder, const wchar_t *pattern) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do
        found.push_back(folder + data.cFileName);
    while (FindNextFileW(search, &data));
    FindClose(search);
    return found;
}

std::string ReadBytes(const std::wstring &path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ChildProcess {
  public:
    // errorFile: the child's standard error goes there.
    ChildProcess(const std::string &kind, const std::wstring &folder, bool withBox,
                 const std::wstring &errorFile = L"") {
        wchar_t self[MAX_PATH] = L"";
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " +
                                   std::wstring(kCrashFlag, kCrashFlag + std::strlen(kCrashFlag)) +
                                   std::wstring(kind.begin(), kind.end());
        SetEnvironmentVariableW(kFolderVariable, folder.c_str());
        SetEnvironmentVariableW(kCrashNoBoxVariable, withBox ? nullptr : L"1");
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        HANDLE error = INVALID_HANDLE_VALUE;
        if (!errorFile.empty()) {
            SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
            error = CreateFileW(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdError = error;
        }
        m_started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr,
                                   error != INVALID_HANDLE_VALUE, 0, nullptr, nullptr, &startup,
                                   &m_process) != 0;
        if (error != INVALID_HANDLE_VALUE) CloseHandle(error);
        SetEnvironmentVariableW(kFolderVariable, nullptr);
        SetEnvironmentVariableW(kCrashNoBoxVariable, nullptr);
    }
    ~ChildProcess() {
        if (!m_started) return;
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process.hProcess, 99);
            WaitForSingleObject(m_process.hProcess, 5000);
        }
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool Started() const { return m_started; }
    bool StillRunningAfter(DWORD ms) const {
        return WaitForSingleObject(m_process.hProcess, ms) == WAIT_TIMEOUT;
    }
    DWORD Id() const { return m_process.dwProcessId; }
    // The exit code, or 99 (and a test failure) when it hangs.
    DWORD WaitForEnd(DWORD timeoutMs) {
        if (WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the faulting child did not end within " << timeoutMs << " ms";
            TerminateProcess(m_process.hProcess, 99);
            WaitForSingleObject(m_process.hProcess, 5000);
        }
        DWORD code = 0;
        GetExitCodeProcess(m_process.hProcess, &code);
        return code;
    }

  private:
    bool m_started = false;
    PROCESS_INFORMATION m_process{};
};

Report ReadReport(const std::wstring &programFolder, DWORD processId, DWORD exitCode,
                  const std::wstring &reportFolder = L"") {
    Report report;
    report.processId = processId;
    report.exitCode = exitCode;
    const std::wstring log = reportFolder.empty() ? programFolder + L"Log\\" : reportFolder;
    report.dumps = FilesIn(log, L"crash-*.dmp");
    report.texts = FilesIn(log, L"crash-*.txt");
    if (!report.texts.empty()) report.text = ReadBytes(report.texts[0]);
    return report;
}

Report RunChild(const std::string &kind, const std::wstring &folder) {
    ChildProcess child(kind, folder, false);
    EXPECT_TRUE(child.Started());
    if (!child.Started()) return Report();
    const DWORD exitCode = child.WaitForEnd(60000);
    return ReadReport(folder, child.Id(), exitCode);
}

template <typename T> bool ReadAt(const std::string &bytes, uint64_t offset, T &out) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    return true;
}

// What a minidump reader relies on: the header, a stream directory inside
// the file, and the streams it names inside the file too.
struct DumpFacts {
    bool valid = false;
    bool hasException = false;
    bool hasThreadList = false;
    bool hasModuleList = false;
    uint32_t exceptionThread = 0;
    uint32_t exceptionCode = 0;
    uint64_t exceptionAddress = 0;
    std::vector<uint32_t> threads;
};

DumpFacts ReadDump(const std::string &bytes) {
    DumpFacts facts;
    MINIDUMP_HEADER header;
    if (!ReadAt(bytes, 0, header)) return facts;
    if (bytes.compare(0, 4, "MDMP") != 0) return facts;
    if ((header.Version & 0xFFFF) != MINIDUMP_VERSION) return facts;
    for (uint32_t i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        if (!ReadAt(bytes, header.StreamDirectoryRva + uint64_t{i} * sizeof entry, entry))
            return facts;
        const uint64_t end = uint64_t{entry.Location.Rva} + entry.Location.DataSize;
        if (end > bytes.size()) return facts;
        if (entry.StreamType == ExceptionStream) {
            MINIDUMP_EXCEPTION_STREAM stream;
            if (entry.Location.DataSize < sizeof stream ||
                !ReadAt(bytes, entry.Location.Rva, stream))
                return facts;
            facts.hasException = true;
            facts.exceptionThread = stream.ThreadId;
            facts.exceptionCode = stream.ExceptionRecord.ExceptionCode;
            facts.exceptionAddress = stream.ExceptionRecord.ExceptionAddress;
        } else if (entry.StreamType == ThreadListStream) {
            ULONG32 count = 0;
            if (!ReadAt(bytes, entry.Location.Rva, count)) return facts;
            for (ULONG32 t = 0; t < count; ++t) {
                MINIDUMP_THREAD thread;
                if (!ReadAt(bytes, entry.Location.Rva + 4 + uint64_t{t} * sizeof thread, thread))
                    return facts;
                facts.threads.push_back(thread.ThreadId);
            }
            facts.hasThreadList = true;
        } else if (entry.StreamType == ModuleListStream) {
            facts.hasModuleList = true;
        }
    }
    facts.valid = true;
    return facts;
}

std::string Hex8(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

// The value after "label: " on the text's line of that label.
std::string LineValue(const std::string &text, const std::string &label) {
    const size_t at = text.find("\n" + label + ": ");
    if (at == std::string::npos) return "";
    const size_t start = at + label.size() + 3;
    return text.substr(start, text.find('\r', start) - start);
}

std::string Narrow(const std::wstring &text) {
    return std::string(text.begin(), text.end());
}

std::string FileName(const std::wstring &path) {
    return Narrow(path.substr(path.find_last_of(L'\\') + 1));
}

// Everything that any crash's report must hold.
void ExpectReport(const Report &report, uint32_t code, bool onStartThread) {
    EXPECT_EQ(report.exitCode, code) << Hex8(report.exitCode);
    ASSERT_EQ(report.dumps.size(), 1u) << "one minidump";
    ASSERT_EQ(report.texts.size(), 1u) << "one text";

    const DumpFacts dump = ReadDump(ReadBytes(report.dumps[0]));
    ASSERT_TRUE(dump.valid) << "not a minidump: " << FileName(report.dumps[0]);
    ASSERT_TRUE(dump.hasException);
    EXPECT_EQ(dump.exceptionCode, code) << Hex8(dump.exceptionCode);
    EXPECT_NE(dump.exceptionAddress, 0u);
    EXPECT_TRUE(dump.hasModuleList);
    ASSERT_TRUE(dump.hasThreadList);
    bool faultingThreadListed = false;
    for (uint32_t id : dump.threads)
        faultingThreadListed = faultingThreadListed || id == dump.exceptionThread;
    EXPECT_TRUE(faultingThreadListed);

    // The text names the same fault as the dump, and the dump beside it.
    const std::string &text = report.text;
    EXPECT_NE(text.find("crash_handler_win_test.exe " + std::string(kTestVersion)),
              std::string::npos)
        << text;
    EXPECT_EQ(LineValue(text, "Exception").substr(0, 10), Hex8(code)) << text;
    const char *name = ExceptionName(code);
    ASSERT_NE(name, nullptr);
    EXPECT_NE(LineValue(text, "Exception").find(name), std::string::npos) << text;
    char address[24];
    std::snprintf(address, sizeof address, "0x%016llX",
                  static_cast<unsigned long long>(dump.exceptionAddress));
    EXPECT_EQ(LineValue(text, "Address").substr(0, 18), address) << text;
    EXPECT_EQ(LineValue(text, "Thread").substr(0, LineValue(text, "Thread").find(' ')),
              std::to_string(dump.exceptionThread))
        << text;
    EXPECT_NE(LineValue(text, "Thread").find(onStartThread ? "start-up" : "worker"),
              std::string::npos)
        << text;
    EXPECT_EQ(LineValue(text, "Minidump"), FileName(report.dumps[0])) << text;
    EXPECT_EQ(LineValue(text, "Process"), std::to_string(report.processId)) << text;
    EXPECT_FALSE(LineValue(text, "Time").empty()) << text;
}

TEST(CrashHandler, AWriteToNullOnTheStartThreadIsReported) {
    TempFolder folder;
    const Report report = RunChild("null-write", folder.Path());
    ExpectReport(report, EXCEPTION_ACCESS_VIOLATION, true);
    EXPECT_EQ(LineValue(report.text, "Access"), "write to 0x0000000000000000") << report.text;
}

TEST(CrashHandler, AReadFromNullOnAWorkerThreadIsReported) {
    TempFolder folder;
    const Report report = RunChild("worker-null-read", folder.Path());
    ExpectReport(report, EXCEPTION_ACCESS_VIOLATION, false);
    EXPECT_EQ(LineValue(report.text, "Access"), "read of 0x0000000000000000") << report.text;
}

TEST(CrashHandler, AFaultInAWindowProcedureIsReported) {
    TempFolder folder;
    ExpectReport(RunChild("window-procedure", folder.Path()), EXCEPTION_ACCESS_VIOLATION, true);
}

TEST(CrashHandler, ADivisionByZeroIsReported) {
    TempFolder folder;
    ExpectReport(RunChild("divide-by-zero", folder.Path()), EXCEPTION_INT_DIVIDE_BY_ZERO, true);
}

// The worker's stack is gone; the report is written from the reporter's.
TEST(CrashHandler, AStackOverflowOnAWorkerThreadIsReported) {
    TempFolder folder;
    ExpectReport(RunChild("stack-overflow", folder.Path()), EXCEPTION_STACK_OVERFLOW, false);
}

TEST(CrashHandler, AnExceptionNobodyCatchesIsReported) {
    TempFolder folder;
    const Report report = RunChild("uncaught-exception", folder.Path());
    ExpectReport(report, kTerminateExceptionCode, false);
}

TEST(CrashHandler, AbortIsReported) {
    TempFolder folder;
    ExpectReport(RunChild("abort", folder.Path()), kAbortExceptionCode, true);
}

TEST(CrashHandler, TwoThreadsFaultingTogetherLeaveOneReport) {
    TempFolder folder;
    ExpectReport(RunChild("two-threads", folder.Path()), EXCEPTION_ACCESS_VIOLATION, false);
}

// A console program: no box even when boxes are allowed, and the text on
// its standard error as well as in the Log folder.
TEST(CrashHandler, AConsoleProgramGetsTheTextOnItsStandardErrorAndNoBox) {
    TempFolder folder;
    const std::wstring errorFile = folder.Path() + L"stderr.txt";
    ChildProcess child("console", folder.Path(), true, errorFile);
    ASSERT_TRUE(child.Started());
    const DWORD exitCode = child.WaitForEnd(60000);
    const Report report = ReadReport(folder.Path(), child.Id(), exitCode);
    ExpectReport(report, EXCEPTION_ACCESS_VIOLATION, true);
    EXPECT_EQ(ReadBytes(errorFile),
              report.text + "Report folder: " + Narrow(folder.Path()) + "Log\\\r\n");
}

// A Log folder that cannot be made (a file holds its name) must not cost the
// report: it goes to the temporary folder, and the error stream says where.
TEST(CrashHandler, WithoutALogFolderTheReportGoesToTheTemporaryFolder) {
    TempFolder folder;
    const std::wstring blocker = folder.Path() + L"Log";
    HANDLE file = CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    const std::wstring temp = folder.Path() + L"temp\\";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    wchar_t savedTmp[MAX_PATH] = L"";
    const DWORD hadTmp = GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    const std::wstring errorFile = folder.Path() + L"stderr.txt";
    ChildProcess child("console", folder.Path(), true, errorFile);
    SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp : nullptr);
    ASSERT_TRUE(child.Started());
    const DWORD exitCode = child.WaitForEnd(60000);
    const Report report = ReadReport(folder.Path(), child.Id(), exitCode, temp);
    ExpectReport(report, EXCEPTION_ACCESS_VIOLATION, true);
    EXPECT_NE(ReadBytes(errorFile).find("Report folder: " + Narrow(temp) + "\r\n"),
              std::string::npos)
        << ReadBytes(errorFile);
}

// The box comes after the report is on disk, names it, and holds the
// process until it is answered; then the process ends with the fault's code.
TEST(CrashHandler, TheBoxNamesTheReportAndEndsTheProgram) {
    TempFolder folder;
    ChildProcess child("worker-null-read", folder.Path(), true);
    ASSERT_TRUE(child.Started());
    UiRobot robot(child.Id());
    MessageBoxInfo box;
    ASSERT_TRUE(robot.WaitForMessageBox(box, std::chrono::milliseconds(30000)));
    const Report before = ReadReport(folder.Path(), child.Id(), 0);
    ASSERT_EQ(before.dumps.size(), 1u);
    ASSERT_EQ(before.texts.size(), 1u);
    EXPECT_EQ(box.caption, kTestCaption);
    EXPECT_EQ(box.icon, MessageBoxInfo::Icon::Error);
    EXPECT_FALSE(box.hasYesNo);
    EXPECT_NE(box.text.find(before.dumps[0]), std::wstring::npos) << Narrow(box.text);
    EXPECT_NE(box.text.find(before.texts[0]), std::wstring::npos) << Narrow(box.text);
    EXPECT_TRUE(child.StillRunningAfter(500)) << "the box holds the process";
    robot.Answer(box, IDOK);
    EXPECT_EQ(child.WaitForEnd(20000), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

} // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], kCrashFlag, std::strlen(kCrashFlag)) == 0)
            return RunFaultingChild(argv[i] + std::strlen(kCrashFlag));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
