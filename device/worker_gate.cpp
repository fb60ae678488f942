#include "device/worker_gate.h"

#include <chrono>

namespace {
constexpr uint32_t kPumpSliceMs = 10;
}

bool WorkerGate::BeginWatchCycle(const std::atomic<int32_t> &jobActive) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_.load() || jobActive.load() != 0) return false;
    watchCycleRunning_ = true;
    return true;
}

void WorkerGate::EndWatchCycle() {
    std::lock_guard<std::mutex> lock(mutex_);
    watchCycleRunning_ = false;
}

bool WorkerGate::Enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_.load()) return false;
    ++sectionsInside_;
    return true;
}

void WorkerGate::Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    --sectionsInside_;
}

bool WorkerGate::WaitForWatchIdle(const Pump &pump, uint32_t timeoutMs) {
    // Measured on the clock, not in pump slices: a pump that handles the
    // window's messages may return early, or late.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_.load()) return false;
            if (!watchCycleRunning_) return true;
        }
        if (Clock::now() >= deadline) return false;
        pump(kPumpSliceMs);
    }
}

bool WorkerGate::Close(const Pump &pump, uint32_t timeoutMs) {
    closed_.store(true);
    for (uint32_t waited = 0;; waited += kPumpSliceMs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!watchCycleRunning_ && sectionsInside_ == 0) return true;
        }
        if (waited >= timeoutMs) return false;
        pump(kPumpSliceMs);
    }
}
