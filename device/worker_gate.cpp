#include "device/worker_gate.h"

#include <chrono>

namespace {
constexpr uint32_t kPumpSliceMs = 10;
}

bool WorkerGate::BeginWatchCycle(const std::atomic<int32_t> &jobActive) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed.load() || jobActive.load() != 0) return false;
    m_watchCycleRunning = true;
    return true;
}

void WorkerGate::EndWatchCycle() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_watchCycleRunning = false;
}

bool WorkerGate::Enter() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed.load()) return false;
    ++m_sectionsInside;
    return true;
}

void WorkerGate::Leave() {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_sectionsInside;
}

bool WorkerGate::WaitForWatchIdle(const Pump &pump, uint32_t timeoutMs) {
    // Measured on the clock, not in pump slices: a pump that handles the
    // window's messages may return early, or late.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed.load()) return false;
            if (!m_watchCycleRunning) return true;
        }
        if (Clock::now() >= deadline) return false;
        pump(kPumpSliceMs);
    }
}

bool WorkerGate::Close(const Pump &pump, uint32_t timeoutMs) {
    m_closed.store(true);
    for (uint32_t waited = 0;; waited += kPumpSliceMs) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_watchCycleRunning && m_sectionsInside == 0) return true;
        }
        if (waited >= timeoutMs) return false;
        pump(kPumpSliceMs);
    }
}
