// The main window: template 102, run as a modal dialog for the whole life of
// the program. It is also the IMainView through which the logic and the
// worker threads reach the window: texts and enable states go through
// synchronous calls on window handles, which are safe from any thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "app/ini_file.h"
#include "app/language.h"
#include "app/language_texts.h"
#include "app/platform.h"
#include "app/process_state.h"
#include "controls/busy_progress_win.h"
#include "controls/color_label_win.h"
#include "controls/hyperlink_win.h"
#include "device/device_context.h"
#include "device/device_library.h"
#include "device/job_record.h"
#include "device/job_record_view.h"
#include "device/job_record_win.h"
#include "device/process_runner_win.h"
#include "device/system_info_win.h"
#include "device/worker_gate.h"
#include "ui/command_context.h"
#include "ui/dialog_win.h"
#include "ui/main_view.h"
#include "ui/main_window_model.h"
#include "ui/worker_threads_win.h"

// Shows a message box; tests answer it without a window.
using MessageBoxFunction = std::function<int(HWND owner, const std::wstring &text,
                                             const std::wstring &caption, unsigned style)>;

// What the window works with; the program passes the real ones, tests their
// own (a fake library, a test folder).
struct MainDialogServices {
    MainDialogServices(ProcessState &state_, IDeviceLibrary &library_, Platform &platform_,
                       WorkerGate &gate_)
        : state(state_), library(library_), platform(platform_), gate(gate_) {}

    ProcessState &state;
    IDeviceLibrary &library;
    Platform &platform;
    WorkerGate &gate;
    // Folder of setting.ini and Language\, ending in a backslash; empty: the
    // folder of the program file.
    std::wstring programFolder;
    bool runSplash = true;
    // Null: MessageBoxW.
    MessageBoxFunction messageBox;
    // Ends the process when the settings cannot be read; null: ExitProcess.
    std::function<void(int exitCode)> endProcess;
};

class CDeviceManagerDlg : public CDialog, public IMainView {
  public:
    explicit CDeviceManagerDlg(MainDialogServices services);
    ~CDeviceManagerDlg() override;

    // IMainView: callable from any thread.
    void SetItemText(int controlId, const std::wstring &text) override;
    void EnableItem(int controlId, bool enable) override;
    int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                    unsigned style) override;
    void StartBusy() override;
    void StopBusy() override;
    void ResetBusy() override;
    void StartTimer(int timerId, unsigned periodMs) override;
    void StopTimer(int timerId) override;
    void PostUpgradeResult(int mode, int resultCode) override;

    MainWindowModel &Model() { return m_model; }
    // The exit procedure: Exit button, WM_CLOSE.
    void OnExit();

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode, HWND control) override;
    // Neither Enter (IDOK) nor a stray IDCANCEL closes the window: the only
    // way out is the exit procedure with its confirmation.
    void OnOK() override {}
    void OnCancel() override {}
    bool OnTimer(UINT_PTR timerId) override;
    bool OnPaint() override;
    bool OnClose() override;
    bool PreTranslateMessage(MSG &message) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) override;

  private:
    void DoDataExchange();
    void OnSysCommand(WPARAM command);
    void OnUpgradeResult(WPARAM mode, LPARAM resultCode);
    void OnDevicePrompt(WPARAM kind, LPARAM answer);
    void OnBrowse();
    void AddAboutItem();
    void SetWindowTitle();
    std::wstring Text(const wchar_t *key) { return m_texts.Text(key); }

    MainDialogServices m_services;
    ProcessState &m_state;

    // Members in the order the window builds them.
    HBITMAP m_titlePicture = nullptr;
    CIniFile m_settingsFile;
    MainWindowModel m_model;
    CHyperLink m_homePageLink;
    CColorLabel m_deviceNameLabel;
    CColorLabel m_statusLine;
    CColorLabel m_detailLine;
    CBusyProgressCtrl m_busyBar{10, 0};
    HICON m_icon = nullptr;
    LanguageFileTexts m_texts;
    ProcessRunnerWin m_processRunner;
    SystemInfoWin m_systemInfo;
    // Every job's record; it listens to what the logic writes into the window.
    JobRecordStoreWin m_recordStore;
    JobRecorder m_recorder;
    JobRecordView m_recordView;
    DeviceContext m_device;
    CommandContext m_ctx;
    WorkerThreads m_workers;

    // The window handle as the worker threads see it: set before any worker
    // starts, cleared by the exit procedure before anything is released.
    std::atomic<HWND> m_viewWindow{nullptr};
};

// The one main window, for the parts of the program that need the window
// itself rather than the view.
extern std::atomic<CDeviceManagerDlg *> g_mainDlg;

// The program file's name without folder and extension: the caption of the
// boxes that have none of their own.
std::wstring ApplicationName();
// The folder of the program file, ending in a backslash.
std::wstring ProgramFolder();
