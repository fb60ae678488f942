// One run of the station: the settings, the image, the device watcher, the
// checks and the job of the window's Upgrade and Repair commands, its
// verdict and its record, driven by the station loop. Portable: the Win32
// half gives it the platform, the threads and the hidden window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/ini_file.h"
#include "base/language.h"
#include "base/main_window_model.h"
#include "base/platform.h"
#include "base/process_state.h"
#include "commands/command_context.h"
#include "device/device_context.h"
#include "device/device_library.h"
#include "device/driver_platform.h"
#include "device/job_codes.h"
#include "device/job_events.h"
#include "device/job_watch.h"
#include "device/worker_gate.h"
#include "records/csv_record_sink.h"
#include "records/job_record.h"
#include "records/record_keeping.h"
#include "station/station_loop.h"
#include "station/station_options.h"
#include "station/station_view.h"

// What the session works with; the program passes the real ones, tests
// fakes. state.g_programFolder and state.g_tempFolder are set.
struct StationServices {
    ProcessState &state;
    IDeviceLibrary &library;
    const Platform &platform;
    IProcessRunner &runner;
    ISystemInfo &system;
    IJobRecordStore &store;
    IStationOutput &output;
    WorkerGate &gate;
    // Starts a worker thread; false when it could not be started.
    std::function<bool(std::function<void()>)> startThread;
    // Hands the job's result to the thread that runs the session (the
    // program posts it to its hidden window).
    std::function<void(int mode, int code)> postResult;
    // Handles sent messages while the session's thread waits on a worker.
    WorkerGate::Pump pump;
    // The record file and the records' queue; without them no line is kept.
    IRecordFile *recordFile = nullptr;
    IQueueFiles *queueFiles = nullptr;
    // Where job ids come from; none: the C++ library's random device.
    IJobIdSource *jobIds = nullptr;
    // Makes the fleet database's destination from its connection string and
    // the station's name; none, or null from it: no database.
    std::function<std::unique_ptr<IRecordDestination>(const std::wstring &connection,
                                                      const std::wstring &station)>
        makeDatabase;
    // Runs a short task (the image's digest) on the platform's pool; none:
    // on a thread of startThread's.
    std::function<bool(std::function<void()>)> startTask;
    // How many times Ctrl+C was pressed so far; the waits of the station's
    // end ask it. None: never.
    std::function<unsigned()> ctrlCPresses;
    // This program's token among those that share the records' queue.
    std::wstring queueOwner;
};

// The answer to a question of the device library, and the flag that would
// have said Yes when the answer is No.
struct PromptAnswer {
    int32_t answer = 0;
    const wchar_t *flag = nullptr;
};
PromptAnswer StationPromptAnswer(uint32_t kind, const StationOptions &options,
                                 bool loaderConfirmed);

class StationSession : public IStationActions, private ICommandHost, private IJobEventListener {
  public:
    StationSession(StationServices services, const StationOptions &options);

    // Reads setting.ini and chooses the language, as the window does at its
    // start. 0, or station_exit::kSettingsUnavailable (reported).
    int LoadSettings();
    // The record's file, the USB identities, the image (inspected as the
    // window inspects a chosen image) and the device watcher. 0, or the exit
    // code of what failed (reported).
    int Prepare(uint64_t nowMs);
    // --records and --resend-refused, after LoadSettings: the records'
    // queue listed (the refused ones sent again first); the exit code.
    int RecordsCommand();
    // --import-records, after LoadSettings: every line of the record file
    // sent to the fleet database, and what became of them; the exit code.
    int ImportCommand();

    // One round of the main loop: the loop's decision on what the watcher
    // found, and the record when it is due.
    void Tick(uint64_t nowMs, bool stopRequested);
    // WM_UPGRADE_RESULT, on the session's thread.
    void OnJobResult(int mode, int code, uint64_t nowMs, bool stopRequested);
    // WM_DEVICE_PROMPT, on the session's thread.
    void OnDevicePrompt(unsigned kind, int32_t *answer);

    bool Finished() const { return m_loop.Finished(); }
    int ExitCode() const { return m_loop.ExitCode(); }
    const StationLoop &Loop() const { return m_loop; }

    // The end: the record of the last job written (a one-job run waits for
    // the device's return, as long as the record waits), then the window's
    // exit procedure: the workers stopped, the loader file removed, the
    // library released.
    void Shutdown();

    // The fleet database's ODBC connection string for this run (--database,
    // else [SYSTEM] JOB_DATABASE), known after Prepare; empty: none.
    const std::wstring &DatabaseConnection() const { return m_database; }

    // The job's thread and library calls, as the loop's ticks look at them.
    JobWatch &Watch() { return m_watch; }

    // A text of the language file in use.
    std::wstring Text(const wchar_t *key) { return m_texts.Text(key); }
    // The verdict in the station's words, on one line: the window's, except
    // where the window's would send the operator to the window or to a
    // question nobody is asked.
    std::wstring StationVerdictText(const JobEndedFacts &job);

    // IStationActions
    JobStart CheckAndStartJob() override;
    void Notify(StationNotice notice) override;

    // What the watcher works on (tests run its cycles one by one).
    DeviceContext &Device() { return m_ctx; }

  private:
    // The record's sink over the file named, its delivery thread started.
    void OpenRecord(const std::wstring &path);
    void OpenDatabase();
    StationObservation Observe(uint64_t nowMs, bool stopRequested);
    // ICommandHost: the station's threads and its image.
    bool StartJob(JobMode mode) override;
    bool StartWatcher() override;
    bool InspectImage(const std::wstring &path) override;
    // IJobEventListener. The station's printer: the device of the job's lines, and its verdict
    // line.
    void OnJobStarted(const JobStartedFacts &job) override;
    void OnJobEnded(const JobEndedFacts &job) override;
    // A device refused by the checks leaves a line saying why.
    void RecordRefusal(const std::wstring &refusalKey);
    // --skip-done: true, said and recorded, when the device shown has a
    // verified pass of the image in the record file.
    bool SkipDoneDevice();
    // The line of a device met but not written.
    void RecordWithoutJob(int32_t code, const std::wstring &key, const std::wstring &text,
                          const std::wstring &sha256);
    // The text key of the refusal shown (its text as the language gives it).
    std::wstring RefusalKey(const std::wstring &refusal);

    // The record file's and the database's queues, as the settings and the
    // flags name them.
    void OpenRecords();
    // Each destination tried at the start: what cannot work is said before
    // the first device (the lines then wait in the queue).
    void ProbeRecords();
    // Waits for the device's return after a one-job run's verdict, said
    // beforehand; Ctrl+C ends it and the line is written as it stands.
    void WaitForReturnAndWrite();
    // The last try of a destination's queue, said beforehand when lines wait.
    void LastDelivery(RecordOutbox &outbox);
    unsigned CtrlCPresses() const;
    // The figures so far (after a device) or of the whole run (at its end).
    void PrintProgress();
    void PrintSummary();
    // False, said with its full path, when the image is missing or a folder.
    bool ImageThere();

    StationServices m_services;
    StationOptions m_options;
    JobWatch m_watch;
    ProcessState &m_state;
    MainWindowModel m_model;
    LanguageFileTexts m_texts;
    CIniFile m_settingsFile;
    StationView m_view;
    JobEventHub m_events;
    RandomJobIdSource m_ownJobIds;
    JobRecorder m_recorder;
    CommandContext m_ctx;
    StationLoop m_loop;
    std::wstring m_stationName; // the database rows' station
    std::wstring m_computer;
    std::wstring m_database;
    std::wstring m_recordPath; // the record file of this run; empty: none
    // [SYSTEM] VERIFY_VERSION: a pass is compared with the image's version.
    bool m_verifyVersion = true;
    // The fleet database behind its own outbox, when one is named.
    std::unique_ptr<IRecordDestination> m_databaseDestination;
    // The record file's and the database's queues, and those of record
    // paths set before; none without the files.
    std::unique_ptr<RecordKeeping> m_records;
    // The job under way: its device as the lines show it (from its start's
    // facts), and the flag that would have said Yes to a question answered
    // No.
    std::wstring m_jobDevice;
    // The verdict line's parts known at the job's start.
    VerdictLineParts m_verdictParts;
    std::wstring m_declinedBy; // written by the session's thread only
};
