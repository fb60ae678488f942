#include "base/crash_handler_win.h"

#include <windows.h>

#include <dbghelp.h>

#include <csignal>
#include <exception>

#include "base/crash_report.h"

namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI *)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                           PMINIDUMP_EXCEPTION_INFORMATION,
                                           PMINIDUMP_USER_STREAM_INFORMATION,
                                           PMINIDUMP_CALLBACK_INFORMATION);
using SymInitializeWFn = BOOL(WINAPI *)(HANDLE, PCWSTR, BOOL);

// How long a faulting thread waits for the dump and the text before it ends
// the process without them: a dump writer stuck on a lock that the crash left
// held must not keep a dead program on screen.
constexpr DWORD kReportTimeoutMs = 30000;

// Room on the start-up thread's stack that a stack overflow leaves for the
// handler.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;

// The reporter's own stack, reserved at installation: the faulting thread's
// may be exhausted. Writing a minidump takes a few tens of KiB.
constexpr SIZE_T kReporterStackBytes = 512 * 1024;

constexpr size_t kPathChars = MAX_PATH + 64;

// Everything the handler uses after a fault, made ready at installation.
// A plain process-wide value: no constructor, nothing on the heap.
struct CrashState {
    bool installed;
    wchar_t logFolder[kPathChars];  // ends in a backslash
    wchar_t tempFolder[kPathChars]; // ends in a backslash; where a report goes without Log
    const wchar_t *reportFolder;    // the one of the two the report went to
    wchar_t caption[128];
    char program[64];
    char version[32];
    bool showBox;
    bool textToStandardError;
    MiniDumpWriteDumpFn writeDump;
    DWORD startThreadId;
    uint64_t imageBase;
    uint64_t imageSize;

    HANDLE reporter;
    DWORD reporterThreadId;
    HANDLE faultSignal;   // set by the faulting thread
    HANDLE reportWritten; // set by the reporter when dump and text are on disk
    HANDLE boxClosed;     // set by the reporter when the user has read the box

    // The fault being reported, set once by the thread that claimed it.
    volatile LONG claimed;
    EXCEPTION_POINTERS *pointers;
    DWORD faultThreadId;

    // Working buffers of the report.
    wchar_t dumpPath[kPathChars];
    wchar_t textPath[kPathChars];
    char dumpName[64];
    char text[2048];
    char folderLine[kPathChars * 3 + 32];
    wchar_t boxText[1024];
    bool dumpWritten;
    bool textWritten;
    DWORD dumpError;
    DWORD textError;
};

CrashState g_crash;

template <typename Char, size_t N> BoundedText<Char> TextIn(Char (&buffer)[N]) {
    return BoundedText<Char>(buffer, N);
}

bool WriteDump() {
    if (g_crash.writeDump == nullptr) {
        g_crash.dumpError = ERROR_PROC_NOT_FOUND;
        return false;
    }
    HANDLE file = CreateFileW(g_crash.dumpPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        g_crash.dumpError = GetLastError();
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION exception;
    exception.ThreadId = g_crash.faultThreadId;
    exception.ExceptionPointers = g_crash.pointers;
    exception.ClientPointers = FALSE;
    const BOOL written =
        g_crash.writeDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                          static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo),
                          &exception, nullptr, nullptr);
    if (!written) g_crash.dumpError = GetLastError();
    CloseHandle(file);
    // Half a dump only misleads whoever opens it.
    if (!written) DeleteFileW(g_crash.dumpPath);
    return written != FALSE;
}

bool WriteText(const CrashFacts &facts) {
    const size_t length = FormatCrashText(facts, g_crash.text, sizeof g_crash.text);
    if (g_crash.textToStandardError) {
        DWORD written = 0;
        HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        if (error != nullptr && error != INVALID_HANDLE_VALUE) {
            WriteFile(error, g_crash.text, static_cast<DWORD>(length), &written, nullptr);
            // Where the files are: the Log folder, or the temporary folder
            // when Log could not be made.
            BoundedText<char> where = TextIn(g_crash.folderLine);
            where.Append("Report folder: ");
            const int bytes = WideCharToMultiByte(
                CP_UTF8, 0, g_crash.reportFolder, -1, g_crash.folderLine + where.Length(),
                static_cast<int>(sizeof g_crash.folderLine - where.Length() - 3), nullptr, nullptr);
            if (bytes > 1) {
                size_t end = where.Length() + static_cast<size_t>(bytes) - 1;
                g_crash.folderLine[end++] = '\r';
                g_crash.folderLine[end++] = '\n';
                WriteFile(error, g_crash.folderLine, static_cast<DWORD>(end), &written, nullptr);
            }
        }
    }
    HANDLE file = CreateFileW(g_crash.textPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        g_crash.textError = GetLastError();
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, g_crash.text, static_cast<DWORD>(length), &written, nullptr);
    if (!ok) g_crash.textError = GetLastError();
    CloseHandle(file);
    return ok && written == length;
}

// The dump and the text, in that order: the dump is what a developer needs
// most, the text what a technician can read.
void WriteReport() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    CrashTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    time.millisecond = now.wMilliseconds;
    const DWORD processId = GetCurrentProcessId();

    // The Log folder is made only when logging is on; a crash needs it anyway.
    // A folder that cannot be made (a read-only program folder, a file of
    // that name) must not cost the report: it goes to the temporary folder,
    // and the box and the error stream name where.
    CreateDirectoryW(g_crash.logFolder, nullptr);
    const DWORD attributes = GetFileAttributesW(g_crash.logFolder);
    const bool logUsable =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    g_crash.reportFolder =
        logUsable || g_crash.tempFolder[0] == 0 ? g_crash.logFolder : g_crash.tempFolder;
    BoundedText<wchar_t> dumpPath = TextIn(g_crash.dumpPath);
    dumpPath.Append(g_crash.reportFolder);
    FormatCrashFileStem(dumpPath, time, processId);
    BoundedText<wchar_t> textPath = TextIn(g_crash.textPath);
    textPath.Append(g_crash.dumpPath);
    dumpPath.AppendAscii(".dmp");
    textPath.AppendAscii(".txt");
    BoundedText<char> dumpName = TextIn(g_crash.dumpName);
    FormatCrashFileStem(dumpName, time, processId);
    dumpName.Append(".dmp");

    g_crash.dumpWritten = WriteDump();

    const EXCEPTION_RECORD *record = g_crash.pointers->ExceptionRecord;
    CrashFacts facts;
    facts.program = g_crash.program;
    facts.version = g_crash.version;
    facts.time = time;
    facts.processId = processId;
    facts.threadId = g_crash.faultThreadId;
    facts.onStartThread = g_crash.faultThreadId == g_crash.startThreadId;
    facts.code = record->ExceptionCode;
    facts.address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    facts.imageBase = g_crash.imageBase;
    facts.imageSize = g_crash.imageSize;
    facts.parameterCount = record->NumberParameters < 2 ? record->NumberParameters : 2;
    for (uint32_t i = 0; i < facts.parameterCount; ++i)
        facts.parameters[i] = record->ExceptionInformation[i];
    facts.dumpName = g_crash.dumpName;
    facts.dumpWritten = g_crash.dumpWritten;
    facts.dumpError = g_crash.dumpError;
    g_crash.textWritten = WriteText(facts);
}

// The one box, after the report is on disk. Its text is fixed: the language
// file is read through the heap, and a crash is no time to trust either.
void ShowBox() {
    if (!g_crash.showBox) return;
    BoundedText<wchar_t> box = TextIn(g_crash.boxText);
    box.AppendAscii(g_crash.program).AppendAscii(" stopped because of an internal error.\r\n\r\n");
    if (g_crash.dumpWritten || g_crash.textWritten) {
        box.AppendAscii("Please send this report to the maker:\r\n");
        if (g_crash.dumpWritten) box.Append(g_crash.dumpPath).AppendAscii("\r\n");
        if (g_crash.textWritten) box.Append(g_crash.textPath);
    } else {
        box.AppendAscii("No report could be written into ")
            .Append(g_crash.reportFolder != nullptr ? g_crash.reportFolder : g_crash.logFolder)
            .AppendAscii(" (error ")
            .AppendDecimal(g_crash.dumpError)
            .AppendAscii(").");
    }
    MessageBoxW(nullptr, g_crash.boxText, g_crash.caption,
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
}

DWORD WINAPI ReporterMain(void *) {
    WaitForSingleObject(g_crash.faultSignal, INFINITE);
    WriteReport();
    SetEvent(g_crash.reportWritten);
    ShowBox();
    SetEvent(g_crash.boxClosed);
    return 0;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *pointers) {
    const UINT code = pointers->ExceptionRecord->ExceptionCode;
    // The report itself failed: nothing more can be done.
    if (GetCurrentThreadId() == g_crash.reporterThreadId)
        TerminateProcess(GetCurrentProcess(), code);
    // A second thread that faults while the first is reported waits for the
    // end the first will bring.
    if (InterlockedCompareExchange(&g_crash.claimed, 1, 0) != 0) Sleep(INFINITE);

    g_crash.pointers = pointers;
    g_crash.faultThreadId = GetCurrentThreadId();
    if (g_crash.reporter != nullptr) {
        SetEvent(g_crash.faultSignal);
        if (WaitForSingleObject(g_crash.reportWritten, kReportTimeoutMs) == WAIT_OBJECT_0)
            WaitForSingleObject(g_crash.boxClosed, INFINITE);
    } else {
        WriteReport();
        ShowBox();
    }
    // Ended here, not by returning: the process's normal exit would run
    // library and C++ clean-up over memory that may be corrupt, and Wine
    // would start its debugger.
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// std::terminate and abort() end the process without a processor exception;
// raising one brings them to the same report, with the stack where they came
// from.
[[noreturn]] void OnTerminate() {
    RaiseException(kTerminateExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    TerminateProcess(GetCurrentProcess(), kTerminateExceptionCode);
    for (;;)
        Sleep(INFINITE);
}

void OnAbortSignal(int) {
    RaiseException(kAbortExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    TerminateProcess(GetCurrentProcess(), kAbortExceptionCode);
}

void FindOwnImage() {
    const auto *base = reinterpret_cast<const unsigned char *>(GetModuleHandleW(nullptr));
    if (base == nullptr) return;
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return;
    g_crash.imageBase = reinterpret_cast<uintptr_t>(base);
    g_crash.imageSize = nt->OptionalHeader.SizeOfImage;
}

// From the system folder by full path, never through the search path: a
// dbghelp.dll planted beside the program must not run in it.
void LoadDumpWriter() {
    wchar_t path[kPathChars];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    BoundedText<wchar_t> full(path + length, kPathChars - length);
    full.AppendAscii("\\dbghelp.dll");
    HMODULE library = LoadLibraryW(path);
    if (library == nullptr) return;
    g_crash.writeDump = reinterpret_cast<MiniDumpWriteDumpFn>(
        reinterpret_cast<void *>(GetProcAddress(library, "MiniDumpWriteDump")));
    // A dump writer that finds the process without a symbol session opens
    // one that loads every module's debug information first; under Wine
    // that is every host library's too, and took from four seconds to more
    // than half a minute, past the wait for the report. A session opened
    // now, loading nothing, is what it finds then: the dump holds the same
    // threads, modules and fault, in under a second.
    const auto openSymbols = reinterpret_cast<SymInitializeWFn>(
        reinterpret_cast<void *>(GetProcAddress(library, "SymInitializeW")));
    if (openSymbols != nullptr) openSymbols(GetCurrentProcess(), nullptr, FALSE);
}

} // namespace

bool InstallCrashHandler(const CrashHandlerSetup &setup) {
    if (g_crash.installed) return g_crash.writeDump != nullptr && g_crash.reporter != nullptr;
    g_crash.installed = true;

    BoundedText<wchar_t> folder = TextIn(g_crash.logFolder);
    folder.Append(setup.programFolder).AppendAscii("Log\\");
    if (folder.Truncated()) {
        // A program folder too long for a path: the temporary folder then.
        const DWORD length = GetTempPathW(MAX_PATH, g_crash.logFolder);
        if (length == 0 || length >= MAX_PATH) g_crash.logFolder[0] = 0;
    }
    const DWORD tempLength = GetTempPathW(kPathChars, g_crash.tempFolder);
    if (tempLength == 0 || tempLength >= kPathChars) g_crash.tempFolder[0] = 0;
    TextIn(g_crash.caption).Append(setup.caption);
    TextIn(g_crash.program).Append(setup.program);
    TextIn(g_crash.version).Append(setup.version);
    wchar_t noBox[4] = L"";
    const DWORD noBoxLength = GetEnvironmentVariableW(kCrashNoBoxVariable, noBox, 4);
    g_crash.showBox = setup.showBox && !(noBoxLength == 1 && noBox[0] == L'1');
    g_crash.textToStandardError = setup.textToStandardError;
    g_crash.startThreadId = GetCurrentThreadId();
    FindOwnImage();
    LoadDumpWriter();

    g_crash.faultSignal = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_crash.reportWritten = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_crash.boxClosed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_crash.faultSignal && g_crash.reportWritten && g_crash.boxClosed)
        g_crash.reporter =
            CreateThread(nullptr, kReporterStackBytes, ReporterMain, nullptr,
                         STACK_SIZE_PARAM_IS_A_RESERVATION, &g_crash.reporterThreadId);

    ULONG guarantee = kStackGuaranteeBytes;
    SetThreadStackGuarantee(&guarantee);
    // The system's own crash box (and Wine's debugger) would come after ours
    // or instead of it.
    SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnUnhandledException);
    std::set_terminate(OnTerminate);
    std::signal(SIGABRT, OnAbortSignal);
    return g_crash.writeDump != nullptr && g_crash.reporter != nullptr;
}
