#include "app/application_win.h"

#include <windows.h>

#include <commctrl.h>

#include "app/settings_loader.h"
#include "base/crash_handler_win.h"
#include "base/platform_win.h"
#include "base/process_state.h"
#include "base/program_file_win.h"
#include "device/device_library_win.h"
#include "device/worker_gate.h"
#include "res/version.h"
#include "ui/main_dialog_win.h"

int CDeviceManagerApp::InitInstance() {
    m_instanceGuard = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) return 0; // another copy runs: end silently

    // Before anything that could fault: from here on a crash on any thread
    // leaves a report in the Log folder.
    CrashHandlerSetup crash;
    const std::wstring folder = ProgramFolder();
    const std::wstring caption = ApplicationName();
    crash.programFolder = folder.c_str();
    crash.caption = caption.c_str();
    crash.program = QV_FILE_NAME;
    crash.version = QV_VERSION_STRING;
    InstallCrashHandler(crash);

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    // Everything that the window and the worker threads share lives until
    // the process ends: the workers are not joined, so nothing here may be
    // destroyed under them. The objects are never deleted; the caller ends
    // the process.
    auto *state = new ProcessState;
    std::wstring error;
    std::unique_ptr<LoadedDeviceLibrary> loaded = LoadedDeviceLibrary::Load(ProgramFolder(), error);
    if (!loaded) {
        MessageBoxW(nullptr, error.c_str(), ApplicationName().c_str(), MB_OK | MB_ICONERROR);
        return 2;
    }
    IDeviceLibrary *library = loaded.release();
    auto *platform =
        new Platform{*new ProfileReaderWin, *new FileSystemWin, *new TextCodecWin, *new ClockWin};
    auto *gate = new WorkerGate;

    auto *window = new CDeviceManagerDlg(
        MainDialogServices(*state, *library, *platform, *gate, LoadWindowSettings));
    window->DoModal();

    if (m_instanceGuard) {
        CloseHandle(m_instanceGuard);
        m_instanceGuard = nullptr;
    }
    return 0;
}
