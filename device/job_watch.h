// Watches a job from its owner's side (the window, the station): that its
// thread began, and that no step of it stays inside the device library far
// longer than such a step ever takes.
//
// The thread claims the job before its first step; an owner that has waited
// kJobThreadStartLimitMs for that claim takes the job back and ends it with
// a verdict. Whichever comes first decides, so a thread that starts after its
// job was ended leaves the device alone, and a job never ends in silence.
//
// A step that does not return is reported, never ended: the library owns the
// device, and a step cut off half-way could leave it unusable.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// How long a job's thread may take to begin once it was started. A thread
// begins within milliseconds even on a loaded computer.
inline constexpr uint64_t kJobThreadStartLimitMs = 10000;

// The step names the reports give, and how long each may take before it is
// reported: far above its normal time, on the slowest device and cable.
struct JobStepLimit {
    const wchar_t *step;
    uint64_t limitMs;
};
namespace job_step {
inline constexpr uint64_t kMinuteMs = 60000;
inline constexpr JobStepLimit kSwitch = {L"QV_SwitchVeskUsb", 5 * kMinuteMs};
inline constexpr JobStepLimit kWaitDevice = {L"QV_WaitDevice", 5 * kMinuteMs};
inline constexpr JobStepLimit kDriverCheck = {L"QVIsVeskUsbPlug", 5 * kMinuteMs};
inline constexpr JobStepLimit kInstallDriver = {L"QVInstallDriver", 10 * kMinuteMs};
inline constexpr JobStepLimit kEraseIdb = {L"QV_EraseIDB", 10 * kMinuteMs};
inline constexpr JobStepLimit kUpgrade = {L"QV_Upgrade", 15 * kMinuteMs};
inline constexpr JobStepLimit kReset = {L"QV_ResetDevice", 5 * kMinuteMs};
// A whole image over a slow USB 1.1 port: the longest step of all.
inline constexpr JobStepLimit kDownload = {L"QV_DownloadImage", 90 * kMinuteMs};
} // namespace job_step

// One job's claim: its thread's or, when the thread was too late, its
// owner's. Each job has its own, so a late thread never claims a later job.
class JobClaim {
  public:
    // Job's thread: true when it may run the job.
    bool ThreadBegins();
    // Owner: true when the thread had not begun and now never will.
    bool TakeBack();

  private:
    enum : int32_t { kStarting, kThread, kTakenBack };
    std::atomic<int32_t> m_state{kStarting};
};

class JobWatch {
  public:
    // What Check found.
    enum class Finding {
        None,
        ThreadNeverBegan, // the job was taken back: end it with a verdict now
        StepOverdue,      // a step passed its limit (told once per step)
    };
    struct Overdue {
        std::wstring step;
        uint64_t runningMs = 0;
    };

    // Owner: a job's thread is being started now; the thread asks the claim
    // before its first step.
    std::shared_ptr<JobClaim> JobStarting(uint64_t nowMs);
    // Job's thread, around each call into the device library.
    void StepBegins(const JobStepLimit &step, uint64_t nowMs);
    void StepEnds();
    // Owner: the job's result has arrived; nothing is watched any more.
    void JobEnded();

    // Owner, on its own clock: the job's thread late to begin, or a step past
    // its limit (once; overdue gets its name and time).
    Finding Check(uint64_t nowMs, Overdue &overdue);
    // The step that has passed its limit and still runs, if any.
    bool StepStillOverdue(uint64_t nowMs, Overdue &overdue) const;

  private:
    mutable std::mutex m_guard; // the fields below
    std::shared_ptr<JobClaim> m_claim;
    uint64_t m_startingMs = 0;
    const wchar_t *m_step = nullptr;
    uint64_t m_stepSinceMs = 0;
    uint64_t m_stepLimitMs = 0;
    bool m_stepReported = false;
};

// RAII around one library call of a job: nothing when there is no watch.
class WatchedStep {
  public:
    WatchedStep(JobWatch *watch, const JobStepLimit &step, uint64_t nowMs) : m_watch(watch) {
        if (m_watch) m_watch->StepBegins(step, nowMs);
    }
    ~WatchedStep() {
        if (m_watch) m_watch->StepEnds();
    }
    WatchedStep(const WatchedStep &) = delete;
    WatchedStep &operator=(const WatchedStep &) = delete;

  private:
    JobWatch *m_watch;
};

// Starts a job's thread armed on the watch: the job runs only when its
// thread claims it in time. False when no thread could be started (the watch
// is then disarmed).
bool StartWatchedJob(JobWatch &watch, uint64_t nowMs,
                     const std::function<bool(std::function<void()>)> &startThread,
                     std::function<void()> job);
