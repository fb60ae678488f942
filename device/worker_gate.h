// Orders the worker threads against the UI thread.
//
// Hand-over: a command sets g_jobActive and then waits until a watcher cycle
// already under way has ended, so no cycle changes g_findResult or
// g_deviceInfo during its checks or the job.
//
// Shutdown: the exit procedure closes the gate; from then on no watcher cycle
// or job step starts, and the exit waits for those under way before it
// releases the device library and the window.
//
// The UI thread's waits go through a pump that keeps handling sent messages,
// because the workers write into the window synchronously: a plain wait there
// would deadlock.
//
// A command's wait is bounded: a search that blocks inside the library must
// not hold a click, and with it the window, for longer than a user waits for
// a button to answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

// How long a command waits for a watcher cycle under way before it gives the
// click up. A cycle normally lasts a few milliseconds.
inline constexpr uint32_t kWatchIdleWaitMs = 3000;

class WorkerGate {
  public:
    // Handles sent messages (or just waits) for at most the given time.
    using Pump = std::function<void(uint32_t milliseconds)>;

    // Watcher: false while jobActive is set or after Close.
    bool BeginWatchCycle(const std::atomic<int32_t> &jobActive);
    void EndWatchCycle();

    // A job step that touches the window, the process-wide values or the
    // library: false after Close, and the caller then ends without them.
    bool Enter();
    void Leave();

    // UI thread, after setting g_jobActive. True once no watcher cycle runs;
    // false when one still runs after timeoutMs, or the gate has been closed
    // meanwhile (the pump may run the exit procedure).
    bool WaitForWatchIdle(const Pump &pump, uint32_t timeoutMs);

    // UI thread, exit procedure. Returns whether every section has left
    // within the time (a step blocked inside the library may not).
    bool Close(const Pump &pump, uint32_t timeoutMs);
    bool IsClosed() const { return m_closed.load(); }

  private:
    std::mutex m_mutex; // guards the counters below and the check-then-begin
    bool m_watchCycleRunning = false;
    int m_sectionsInside = 0;
    std::atomic<bool> m_closed{false};
};

// RAII for WorkerGate::Enter / Leave.
class GateSection {
  public:
    explicit GateSection(WorkerGate &gate) : m_gate(gate), m_entered(gate.Enter()) {}
    ~GateSection() {
        if (m_entered) m_gate.Leave();
    }
    GateSection(const GateSection &) = delete;
    GateSection &operator=(const GateSection &) = delete;
    explicit operator bool() const { return m_entered; }

  private:
    WorkerGate &m_gate;
    bool m_entered;
};
