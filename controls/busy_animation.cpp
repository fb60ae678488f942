#include "controls/busy_animation.h"

#include "base/parked_threads.h"

#include <system_error>

void BusyAnimationStep(BusyBarShared &shared) {
    const int32_t position = shared.position.load();
    if ((shared.mode.load() & 1) != 0) {
        if (position == shared.blockCount.load() - 1) shared.direction = -1;
        if (position == 0) shared.direction = 1;
    }
    // Wrapping arithmetic: a one-block bar keeps counting up for as long as
    // it runs, and that must stay defined.
    const uint32_t next =
        static_cast<uint32_t>(position) + static_cast<uint32_t>(shared.direction.load());
    shared.position = static_cast<int32_t>(next);
}

void StopSignal::Request() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requested = true;
    }
    m_changed.notify_all();
}

bool StopSignal::Requested() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requested;
}

bool StopSignal::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_requested; });
}

struct BusyAnimation::Run {
    StopSignal stop;
    std::mutex doneMutex; // guards done
    std::condition_variable doneChanged;
    bool done = false;

    void MarkDone() {
        {
            std::lock_guard<std::mutex> lock(doneMutex);
            done = true;
        }
        doneChanged.notify_all();
    }
    bool WaitDone(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(doneMutex);
        return doneChanged.wait_for(lock, timeout, [this] { return done; });
    }
};

namespace {

void DefaultPeriodWait(uint32_t periodMs, const StopSignal &stop) {
    stop.WaitFor(std::chrono::milliseconds(periodMs));
}

// The animation loop. Step first, then sleep, then look at the stop request,
// so that a thread started and stopped at once still takes its first step.
void BusyAnimationThread(BusyBarShared &shared, const StopSignal &stop,
                         const BusyAnimation::PeriodWait &wait,
                         const BusyAnimation::Invalidate &invalidate) {
    try {
        do {
            BusyAnimationStep(shared);
            invalidate();
            wait(shared.periodMs.load(), stop);
        } while (!stop.Requested());
    } catch (...) {
        // Nothing may unwind out of a thread; the animation just ends.
    }
}

} // namespace

BusyAnimation::BusyAnimation(std::shared_ptr<BusyBarShared> shared, PeriodWait wait)
    : m_shared(std::move(shared)), m_wait(wait ? std::move(wait) : PeriodWait(DefaultPeriodWait)) {}

BusyAnimation::~BusyAnimation() {
    Stop();
}

void BusyAnimation::Start(Invalidate invalidate) {
    if ((m_shared->mode.load() & 1) == 0) return;
    if (m_thread.joinable()) Stop();

    auto run = std::make_shared<Run>();
    try {
        // The thread owns copies of everything it uses; none points back
        // into this object.
        m_thread = std::thread(
            [shared = m_shared, run, wait = m_wait, invalidate = std::move(invalidate)] {
                BusyAnimationThread(*shared, run->stop, wait, invalidate);
                run->MarkDone();
            });
        m_run = std::move(run);
    } catch (const std::system_error &) {
        // No thread could be had: the bar simply stays still.
    }
}

bool BusyAnimation::Stop() {
    if (!m_thread.joinable()) return true;
    m_run->stop.Request();
    const auto limit = std::chrono::milliseconds(2ull * m_shared->periodMs.load());
    const bool ended = m_run->WaitDone(limit);
    if (ended)
        m_thread.join();
    else
        ParkThread(m_thread);
    m_run.reset();
    return ended;
}
