// The main window: template 102, run as a modal dialog for the whole life of
// the program. It is also the IMainView through which the logic and the
// worker threads reach the window: texts and enable states go through
// synchronous calls on window handles, which are safe from any thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/ini_file.h"
#include "base/language.h"
#include "base/language_texts.h"
#include "base/main_view.h"
#include "base/main_window_model.h"
#include "base/platform.h"
#include "base/process_state.h"
#include "base/worker_threads_win.h"
#include "commands/command_context.h"
#include "controls/busy_progress_win.h"
#include "controls/color_label_win.h"
#include "controls/hyperlink_win.h"
#include "controls/version_field_win.h"
#include "device/device_context.h"
#include "device/device_library.h"
#include "device/job_events.h"
#include "device/job_facts_win.h"
#include "device/process_runner_win.h"
#include "device/system_info_win.h"
#include "device/worker_gate.h"
#include "records/job_database_win.h"
#include "records/job_record.h"
#include "records/queue_files_win.h"
#include "records/record_files_win.h"
#include "records/record_keeping.h"
#include "ui/dialog_win.h"
#include "ui/picture_win.h"

// Shows a message box; tests answer it without a window.
using MessageBoxFunction = std::function<int(HWND owner, const std::wstring &text,
                                             const std::wstring &caption, unsigned style)>;

// Reads setting.ini as the window opens: the settings, the device library's
// set-up and the language file. False when the settings cannot be read: the
// box has been shown and nothing of the program may run on. The start-up
// passes its settings loader; the window itself stands below it.
using SettingsLoader = bool (*)(ProcessState &state, CIniFile &settingsFile,
                                const Platform &platform, IDeviceLibrary &library, IMainView &view,
                                ILanguageTexts &texts);

// What the window works with; the program passes the real ones, tests their
// own (a fake library, a test folder).
struct MainDialogServices {
    MainDialogServices(ProcessState &processState, IDeviceLibrary &deviceLibrary,
                       Platform &services, WorkerGate &workerGate, SettingsLoader loader)
        : state(processState), library(deviceLibrary), platform(services), gate(workerGate),
          loadSettings(loader) {}

    ProcessState &state;
    IDeviceLibrary &library;
    Platform &platform;
    WorkerGate &gate;
    SettingsLoader loadSettings;
    // Folder of setting.ini and Language\, ending in a backslash; empty: the
    // folder of the program file.
    std::wstring programFolder;
    bool runSplash = true;
    // Null: MessageBoxW.
    MessageBoxFunction messageBox;
    // Ends the process when the settings cannot be read; null: ExitProcess.
    std::function<void(int exitCode)> endProcess;
};

class CDeviceManagerDlg : public CDialog, public IMainView, private ICommandHost {
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
    // ICommandHost: on the UI thread.
    bool StartJob(JobMode mode) override;
    bool StartWatcher() override;
    bool InspectImage(const std::wstring &path) override;

    void DoDataExchange();
    void OnSysCommand(WPARAM command);
    void OnUpgradeResult(WPARAM mode, LPARAM resultCode);
    void OnDevicePrompt(WPARAM kind, LPARAM answer);
    void OnBrowse();
    // A job's start disables the button that had the focus: the focus goes
    // to the path field, which stays enabled, and back after the verdict.
    void NameControlsForScreenReaders();
    void OnDpiChanged(const RECT *proposed);
    void RunJobButton(bool (*command)(CommandContext &));
    void RestoreFocusAfterJob();
    void AddAboutItem();
    void SetWindowTitle();
    // The record's sink over the file the settings name, its thread started.
    void OpenRecord(const std::wstring &path);
    void OpenDatabase(const std::wstring &connection);
    // The detail line says how many lines wait while the file refuses them,
    // and is cleared when all are written. From any thread.
    void ShowRecordState(size_t waiting);
    std::wstring Text(const wchar_t *key) { return m_texts.Text(key); }
    // Built once, in the constructor, after the members it refers to.
    CommandContext MakeCommandContext();

    MainDialogServices m_services;
    ProcessState &m_state;

    // Members in the order the window builds them.
    HBITMAP m_titlePicture = nullptr;
    CStandInPicture m_titleStandIn; // when Title.BMP is missing
    int m_focusBeforeJob = 0;       // control id; 0: no job moved the focus
    CIniFile m_settingsFile;
    MainWindowModel m_model;
    CHyperLink m_homePageLink;
    CColorLabel m_deviceNameLabel;
    CColorLabel m_statusLine;
    CColorLabel m_detailLine;
    CBusyProgressCtrl m_busyBar{10, 0};
    // Image software and loader, device software and loader.
    CVersionField m_versionFields[4];
    HICON m_icon = nullptr;
    LanguageFileTexts m_texts;
    ProcessRunnerWin m_processRunner;
    SystemInfoWin m_systemInfo;
    // What the watcher, the inspection and the jobs tell; every job's record
    // listens to it.
    JobEventHub m_events;
    JobRecordStoreWin m_recordStore;
    JobIdSourceWin m_jobIds;
    JobRecorder m_recorder;
    // The record file behind its outbox, when the settings name one; its
    // delivery thread writes the lines that wait.
    RecordFilesWin m_recordFiles;
    // The lines of the record files that wait.
    size_t RecordLinesWaiting();
    std::wstring m_recordPath;      // as the settings name it; empty: no record
    std::mutex m_recordLineGuard;   // the two below
    std::wstring m_recordProblem;   // the delivery's failure, while lines wait
    std::wstring m_recordLineShown; // what the detail line was given last
    // The fleet database behind its own outbox, when JOB_DATABASE names one.
    std::unique_ptr<DatabaseRecordDestination> m_database;
    // The queues of the record file, the database and the record paths set
    // before; all wait in this computer's Log folder.
    QueueFilesWin m_queueFiles;
    std::unique_ptr<RecordKeeping> m_records;
    // The job's thread and library calls, looked at on the elapsed-time tick.
    JobWatch m_jobWatch;
    // What the commands, the watcher and the job work on.
    CommandContext m_ctx;
    WorkerThreads m_workers;

    // The window handle as the worker threads see it: set before any worker
    // starts, cleared by the exit procedure before anything is released.
    std::atomic<HWND> m_viewWindow{nullptr};
};
