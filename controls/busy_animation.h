// The busy bar's moving block: the values the window thread and the
// animation thread share, one animation step, and the thread that steps it.
//
// The thread never draws: it steps the position and asks the window to
// repaint. Everything it touches is held by shared_ptr, so a thread that
// outlives a timed-out stop (or the control itself) still only touches live
// memory; it ends at its next wake-up.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Whole values read and written by both threads, each one atomic.
struct BusyBarShared {
    explicit BusyBarShared(int32_t blocks = 10, int32_t pos = 0)
        : blockCount(blocks), position(pos) {}

    std::atomic<int32_t> blockCount;
    std::atomic<int32_t> direction{1};
    std::atomic<int32_t> position;
    std::atomic<uint32_t> periodMs{100};
    std::atomic<int32_t> mode{1};
};

// One step: in busy mode the direction turns at the last block and then at
// block 0 (both tested on the position before the step, the end test first);
// the position moves by the direction in every mode.
void BusyAnimationStep(BusyBarShared &shared);

// Lets a stop cut a running animation's sleep short.
class StopSignal {
  public:
    void Request();
    bool Requested() const;
    // Waits up to `timeout`; true when a stop was requested.
    bool WaitFor(std::chrono::milliseconds timeout) const;

  private:
    mutable std::mutex m_mutex; // guards m_requested
    mutable std::condition_variable m_changed;
    bool m_requested = false;
};

class BusyAnimation {
  public:
    // Asks the window to repaint. Called on the animation thread: it must
    // hold no reference to the control object, only to the window.
    using Invalidate = std::function<void()>;
    // Sleeps one period; may return early once `stop` is requested.
    using PeriodWait = std::function<void(uint32_t periodMs, const StopSignal &stop)>;

    explicit BusyAnimation(std::shared_ptr<BusyBarShared> shared, PeriodWait wait = {});
    ~BusyAnimation(); // stops a running animation
    BusyAnimation(const BusyAnimation &) = delete;
    BusyAnimation &operator=(const BusyAnimation &) = delete;

    // Does nothing unless the mode has the busy bit; stops a running
    // animation first. The first step is taken as soon as the thread runs.
    void Start(Invalidate invalidate);
    // Asks the thread to end and waits at most two periods for it. A thread
    // that does not end in time is let go; it ends on its own.
    // Returns whether the thread was seen to end.
    bool Stop();
    bool HasThread() const { return m_thread.joinable(); }

  private:
    struct Run; // what one thread shares with the window thread

    std::shared_ptr<BusyBarShared> m_shared;
    PeriodWait m_wait;
    std::shared_ptr<Run> m_run;
    std::thread m_thread;
};
