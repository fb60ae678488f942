// Entry point of qvstation.exe: the console, the single-instance guard, the
// device library, the hidden window that the library sends its questions to
// (and the job its result), Ctrl+C, and the main loop around the session.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/settings_loader.h"
#include "base/crash_handler_win.h"
#include "base/language.h"
#include "base/platform_win.h"
#include "base/text_keys.h"
#include "base/worker_threads_win.h"
#include "device/device_library_win.h"
#include "device/job_facts_win.h"
#include "device/message_pump_win.h"
#include "device/process_runner_win.h"
#include "device/system_info_win.h"
#include "records/job_database_win.h"
#include "records/queue_files_win.h"
#include "records/record_files_win.h"
#include "res/resource.h"
#include "res/version.h"
#include "station/station_codes.h"
#include "station/station_session.h"

namespace {

// Ctrl+C arrives on a thread of its own; the main loop reads it.
std::atomic<bool> g_stopRequested{false};
// Every press, for the waits at the end that only a new press cuts short.
std::atomic<unsigned> g_stopPresses{0};
// The session, for the hidden window's messages.
std::atomic<StationSession *> g_session{nullptr};

constexpr DWORD kLoopPeriodMs = 20;

constexpr const wchar_t *kAnotherCopyFallback =
    L"qvstation: another copy of the station or the window is running.";

// A verdict's colour on a console: bright green for a pass, bright red for a
// failure, on the console's own background.
constexpr WORD kPassColour = FOREGROUND_GREEN | FOREGROUND_INTENSITY;
constexpr WORD kFailColour = FOREGROUND_RED | FOREGROUND_INTENSITY;
constexpr WORD kForegroundMask =
    FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY;

class ConsoleOutputWin : public IStationOutput {
  public:
    // --beep: the system's sounds, which return at once, so a verdict never
    // waits for its tone.
    bool beep = false;
    void Verdict(const std::wstring &line, bool passed, bool toErrorStream) override {
        HANDLE stream = GetStdHandle(toErrorStream ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
        if (beep) MessageBeep(passed ? MB_OK : MB_ICONHAND);
        CONSOLE_SCREEN_BUFFER_INFO before;
        DWORD mode = 0;
        // A file or a pipe gets the plain line.
        const bool console =
            GetConsoleMode(stream, &mode) && GetConsoleScreenBufferInfo(stream, &before);
        if (!console) {
            Write(stream, line);
            return;
        }
        std::lock_guard<std::mutex> lock(m_colourGuard);
        SetConsoleTextAttribute(stream, static_cast<WORD>((before.wAttributes & ~kForegroundMask) |
                                                          (passed ? kPassColour : kFailColour)));
        Write(stream, line);
        SetConsoleTextAttribute(stream, before.wAttributes);
    }
    void Out(const std::wstring &line) override { Write(GetStdHandle(STD_OUTPUT_HANDLE), line); }
    void Err(const std::wstring &line) override { Write(GetStdHandle(STD_ERROR_HANDLE), line); }
    std::wstring TimeStamp() override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t text[32];
        swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond);
        return text;
    }

  private:
    // A console shows wide text as it is; a pipe or a file gets UTF-8.
    void Write(HANDLE stream, const std::wstring &line) {
        std::lock_guard<std::mutex> lock(m_guard);
        const std::wstring text = line + L"\r\n";
        DWORD mode = 0;
        DWORD written = 0;
        if (GetConsoleMode(stream, &mode)) {
            WriteConsoleW(stream, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
            return;
        }
        const int bytes = WideCharToMultiByte(
            CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) return;
        std::string utf8(static_cast<size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0],
                            bytes, nullptr, nullptr);
        WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    }
    std::mutex m_guard;       // one line at a time from every thread
    std::mutex m_colourGuard; // no other line takes a verdict's colour
};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        g_stopRequested = true;
        ++g_stopPresses;
        return TRUE; // the main loop ends the program, never in a job's middle
    }
    return FALSE;
}

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    StationSession *session = g_session.load();
    if (session != nullptr) {
        if (message == WM_DEVICE_PROMPT) {
            session->OnDevicePrompt(static_cast<unsigned>(wParam),
                                    reinterpret_cast<int32_t *>(lParam));
            return 0;
        }
        if (message == WM_UPGRADE_RESULT) {
            session->OnJobResult(static_cast<int>(wParam), static_cast<int32_t>(lParam),
                                 GetTickCount64(), g_stopRequested.load());
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window: never shown, it only receives.
HWND CreateHiddenWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = HiddenWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QvStationMessages";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

std::wstring ProgramFolderOfModule() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    const size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = temp;
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

// The text of a key in the language that setting.ini chooses, for the
// message of a second copy, which ends before any setting is loaded. Chosen
// and falling back to English as the window's texts do, however many
// language files the folder holds.
std::wstring TextBeforeSettings(const std::wstring &programFolder, const wchar_t *key) {
    ProfileReaderWin profile;
    FileSystemWin files;
    std::wstring language =
        profile.GetString(programFolder + kSettingsFileName, L"SYSTEM", L"LANGUAGE", 100);
    if (language.empty()) language = L"English";
    const std::wstring languageFile =
        ChooseLanguageFile(programFolder + L"Language\\", language, files, profile);
    LanguageFileTexts texts(profile, languageFile, programFolder);
    return texts.Text(key);
}

int Run(int argc, wchar_t **argv) {
    ConsoleOutputWin &console = *new ConsoleOutputWin;
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    StationOptions options;
    std::wstring error;
    if (!ParseStationArguments(arguments, options, error)) {
        console.Err(L"qvstation: " + error);
        console.Err(StationUsage());
        return station_exit::kBadArguments;
    }
    if (options.run == StationOptions::Run::Help) {
        console.Out(StationUsage());
        return station_exit::kSuccess;
    }
    console.beep = options.beep;

    // The record names the image by its full path, wherever it was started.
    wchar_t fullImage[MAX_PATH] = L"";
    const DWORD fullLength = GetFullPathNameW(options.image.c_str(), MAX_PATH, fullImage, nullptr);
    if (fullLength > 0 && fullLength < MAX_PATH) options.image = fullImage;

    // The file to import, too, is named from where the station was started.
    const DWORD importLength =
        GetFullPathNameW(options.importFile.c_str(), MAX_PATH, fullImage, nullptr);
    if (!options.importFile.empty() && importLength > 0 && importLength < MAX_PATH)
        options.importFile = fullImage;

    const std::wstring programFolder = ProgramFolderOfModule();
    const bool importing = options.run == StationOptions::Run::ImportRecords;
    const bool recordsOnly = options.run == StationOptions::Run::Records ||
                             options.run == StationOptions::Run::ResendRefused || importing;
    // The window's guard: one program on the device library at a time. The
    // records' commands leave the library alone, and the queue is shared.
    CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS && !recordsOnly) {
        std::wstring text = TextBeforeSettings(programFolder, ids::kStationAnotherCopy);
        // Without any language file: a plain sentence, never an internal name.
        console.Err(text.empty() ? std::wstring(kAnotherCopyFallback) : text);
        return station_exit::kAnotherCopy;
    }

    // An unattended station has nobody to answer a box: a crash leaves its
    // report in the Log folder and names it on the error stream.
    CrashHandlerSetup crash;
    crash.programFolder = programFolder.c_str();
    crash.caption = L"qvstation";
    crash.program = "qvstation.exe";
    crash.version = QV_VERSION_STRING;
    crash.showBox = false;
    crash.textToStandardError = true;
    InstallCrashHandler(crash);

    std::wstring libraryError;
    std::unique_ptr<LoadedDeviceLibrary> loaded =
        LoadedDeviceLibrary::Load(programFolder, libraryError);
    if (!loaded) {
        console.Err(libraryError);
        return station_exit::kLibraryMissing;
    }

    // As in the window, what the workers share lives until the process ends.
    auto *state = new ProcessState;
    state->g_programFolder = programFolder;
    state->g_tempFolder = TempFolder();
    IDeviceLibrary *library = loaded.release();
    auto *platform =
        new Platform{*new ProfileReaderWin, *new FileSystemWin, *new TextCodecWin, *new ClockWin};
    auto *gate = new WorkerGate;
    HWND hidden = CreateHiddenWindow();

    auto *recordFiles = new RecordFilesWin;
    // Lives until the process ends, as the threads it owns do.
    auto *workers = new WorkerThreads;
    StationServices services{
        *state,
        *library,
        *platform,
        *new ProcessRunnerWin,
        *new SystemInfoWin,
        *new JobRecordStoreWin,
        console,
        *gate,
        [workers](std::function<void()> body) { return workers->Start(std::move(body)); },
        [hidden](int mode, int code) {
            PostMessageW(hidden, WM_UPGRADE_RESULT, static_cast<WPARAM>(mode),
                         static_cast<LPARAM>(code));
        },
        PumpSentMessages,
        recordFiles,
        new QueueFilesWin,
        new JobIdSourceWin,
        [](const std::wstring &connection, const std::wstring &station) {
            return std::unique_ptr<IRecordDestination>(
                MakeDatabaseDestination(connection, station));
        },
        [workers](std::function<void()> task) { return workers->RunShortTask(std::move(task)); },
        [] { return g_stopRequested.load(); },
        NewQueueOwner()};
    auto *session = new StationSession(services, options);
    g_session = session;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    int code = session->LoadSettings();
    if (code != 0) return code;
    if (importing) return session->ImportCommand();
    if (recordsOnly) return session->RecordsCommand();
    library->SetMainWindowHwnd(hidden);
    code = session->Prepare(platform->clock.TickMs());
    if (code != 0) {
        session->Shutdown();
        return code;
    }

    while (!session->Finished()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kLoopPeriodMs, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        session->Tick(platform->clock.TickMs(), g_stopRequested.load());
    }
    session->Shutdown();
    return session->ExitCode();
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    int code;
    try {
        code = Run(argc, argv);
    } catch (...) {
        code = -7; // out of memory on the way: the job's "any other failure"
    }
    // Workers may still run (the watcher never ends by itself): end the
    // process without destructors under them, as the window does.
    ExitProcess(static_cast<UINT>(code));
}
