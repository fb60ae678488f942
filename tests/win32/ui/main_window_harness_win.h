// Runs the real main window inside a test: a test folder with setting.ini
// and a language file, a recording device library, scripted message boxes,
// and stages that run one after the other inside the window's own loop.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/process_state.h"
#include "device/worker_gate.h"
#include "ui/main_dialog_win.h"
#include "ui_test_support_win.h"

class MainWindowHarness {
  public:
    using Stage = std::function<void(CDeviceManagerDlg &window)>;

    MainWindowHarness();

    // [SYSTEM] keys of setting.ini, one "KEY=value" a line, and any further
    // sections.
    void WriteSettings(const std::wstring &systemKeys, const std::wstring &moreSections = L"");
    // The [String] section of the language file "Test".
    void WriteLanguage(const std::wstring &strings);

    // Runs the window until its stages are done, then closes it through the
    // exit procedure (answering Yes). Fails the test, and ends the window,
    // when it will not close.
    void Run(std::vector<Stage> stages);

    TempFolder folder;
    ProcessState state;
    RecordingLibrary library;
    TestPlatform platform;
    WorkerGate gate;
    ScriptedBoxes boxes;
    bool runSplash = false;
    // Set once the window has run.
    bool closedByExit = false;
    // The exit code the window asked the process to end with; -1: none.
    int endProcessCode = -1;
    // Whether the window must end through its exit procedure.
    bool expectExitProcedure = true;

  private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Step();

    CDeviceManagerDlg *m_window = nullptr;
    std::vector<Stage> m_stages;
    size_t m_next = 0;
    bool m_busy = false;
    bool m_started = false;
    DWORD m_closeRequested = 0;
};

// The language file texts every test starts from.
extern const wchar_t *const kTestStrings;
