// The station's course from device to device, as a state machine over what
// the device watcher has found. It decides; the caller observes (the
// watcher's last search, its announcements, Ctrl+C, the clock) and acts
// (the checks and the job, the lines printed). The same machine runs one job
// and the station loop.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "station/station_figures.h"

enum class StationState {
    WaitingForDevice,
    SeveralDevices,    // refused as the window refuses; waits until one is left
    JobRunning,        // the job thread runs; Ctrl+C waits for its verdict
    WaitingForReturn,  // the verdict is out; the device reboots after its job (another is taken)
    WaitingForRemoval, // the device is back (or was refused): take it away (another is taken)
    Finished,
};

// What the station tells the operator besides the watcher's and the job's
// own lines.
enum class StationNotice {
    WaitingForDevice,
    RemoveDevice,
    Finishing, // Ctrl+C during a job: it ends after its verdict
    Stopped,   // Ctrl+C between jobs
    NoDeviceInTime,
    // Ctrl+C during a job one of whose library calls is long past its
    // limit: the run ends without the job's verdict.
    StepNotReturned,
    // Two or more devices were still connected when the wait ran out.
    SeveralStayed,
    // A device of the loop is done (taken away): the figures so far.
    Progress,
    // The loop ends: the figures of the run.
    Summary,
};

// How the checks before a job ended.
enum class JobStart {
    Started,
    SeveralDevices, // the refusal for two or more devices
    NoDevice,       // the device went before the checks saw it
    Refused,        // any other refusal (a mask-ROM device, the loader question answered No)
    Busy,           // a watcher cycle blocked in the library: nothing was shown; try again
    AlreadyDone,    // --skip-done: a verified pass of this image; nothing done to it
};

class IStationActions {
  public:
    virtual ~IStationActions() = default;
    // The checks of the Upgrade or Repair command and, when they pass, the
    // job thread. A refusal has been reported when this returns.
    virtual JobStart CheckAndStartJob() = 0;
    virtual void Notify(StationNotice notice) = 0;
};

struct StationObservation {
    int32_t findResult = 0;     // the watcher's last search: 1 one device, 2 or more several
    unsigned announcements = 0; // the watcher's finished announcements of a device so far
    // The identity of the device the watcher shows (serial number, or device
    // path and location); empty when none is shown.
    std::wstring device;
    bool stopRequested = false; // Ctrl+C
    uint64_t nowMs = 0;
    // A library call of the running job is long past its limit.
    bool stepOverdue = false;
};

// After two or more devices, the one left is taken once the watcher has
// found it alone for this long (two searches), so that its versions are
// read again first.
inline constexpr uint64_t kSettleAfterSeveralMs = 400;
// How long the station waits for a device to come back after its job: the
// minute the verdict tells the user to wait. Another device is taken at once.
inline constexpr uint64_t kReturnAfterJobMs = 60000;

class StationLoop {
  public:
    // loop: device after device; otherwise one job. waitMs: 0 waits for ever.
    // count: the loop ends once this many devices have passed and the last
    // of them was taken away; 0 never.
    StationLoop(IStationActions &actions, bool loop, uint64_t waitMs, uint64_t nowMs,
                int count = 0);

    // The wait for the first device begins (again) now.
    void Start(uint64_t nowMs);
    void Tick(const StationObservation &seen);
    // The job's verdict has been shown.
    void JobEnded(int32_t code, const StationObservation &seen);
    // A job that succeeded turned out not verified once its device came
    // back (possibly after the end): it counts as not done.
    void JobNotVerified();
    // The device the job under way (or the refusal) is about.
    void SetJobDevice(const std::wstring &identity) { m_jobDevice = identity; }

    StationState State() const { return m_state; }
    bool Finished() const { return m_state == StationState::Finished; }
    int ExitCode() const { return m_exitCode; }
    int JobsRun() const { return m_jobsRun; }
    int JobsFailed() const { return m_jobsFailed; }
    int DevicesRefused() const { return m_refused; }
    const StationTally &Tally() const { return m_tally; }
    StationTally &Tally() { return m_tally; }
    int DevicesAlreadyDone() const { return m_alreadyDone; }

  private:
    void Enter(StationState state, const StationObservation &seen);
    void TryJob(const StationObservation &seen);
    // What the watcher found, for the devices already done: one no longer
    // there after it came back is free again.
    void Track(const StationObservation &seen);
    // A new announcement of one device: a device done and back is to be taken
    // away; any other gets its job.
    void Announced(const StationObservation &seen);
    // Forgets the devices of failed jobs that never came back.
    void ForgetFailedNeverBack();
    void Finish(int exitCode, uint64_t nowMs);
    int LoopExitCode() const;
    // The open cycle ends now, its device done: the progress line.
    void EndCycle(uint64_t nowMs);
    bool CountReached() const { return m_count > 0 && m_tally.Passed() >= m_count; }

    IStationActions &m_actions;
    bool m_loop;
    uint64_t m_waitMs;
    StationState m_state = StationState::WaitingForDevice;
    uint64_t m_enteredMs;        // when the current state began
    uint64_t m_waitStartMs;      // when the wait for a device began
    uint64_t m_aloneSinceMs = 0; // SeveralDevices: since when one device is found alone
    bool m_alone = false;
    unsigned m_announcementsSeen = 0;
    // A device done (a job or a refusal), remembered by identity until it
    // is taken away after coming back. A failed job's device that never came
    // back is forgotten once its minute is over or another device's job
    // starts: its verdict tells the user to connect it again and start
    // again, and it may have been taken away unseen. A device whose job
    // succeeded is never written twice, however late it comes back.
    struct DoneDevice {
        bool back = false;
        bool failed = false;
        uint64_t endedMs = 0;
    };
    std::map<std::wstring, DoneDevice> m_done;
    std::wstring m_jobDevice;
    int m_refused = 0;
    int m_alreadyDone = 0;
    bool m_stopAfterJob = false;
    int m_exitCode = 0;
    int m_jobsRun = 0;
    int m_jobsFailed = 0;
    int m_count = 0;
    StationTally m_tally;
};
