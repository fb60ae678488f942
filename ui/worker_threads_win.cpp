#include "ui/worker_threads_win.h"

#include <chrono>
#include <system_error>

WorkerThreads::~WorkerThreads() {
    // Never wait here: a thread still running is left to the process's end.
    std::lock_guard<std::mutex> lock(m_guard);
    for (Worker &worker : m_workers) {
        if (worker.thread.joinable()) worker.thread.detach();
    }
}

bool WorkerThreads::Start(std::function<void()> body) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(m_guard);
    ReleaseFinished();
    try {
        std::thread thread([body = std::move(body), done] {
            try {
                body();
            } catch (...) {
                // Nothing may unwind out of a thread.
            }
            done->store(true);
        });
        m_workers.push_back({std::move(thread), done});
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void WorkerThreads::ReleaseFinished() {
    for (auto worker = m_workers.begin(); worker != m_workers.end();) {
        // Done is the body's last act: the join waits at most for the
        // thread's own return.
        if (worker->done->load()) {
            if (worker->thread.joinable()) worker->thread.join();
            worker = m_workers.erase(worker);
        } else {
            ++worker;
        }
    }
}

bool WorkerThreads::WaitAll(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::lock_guard<std::mutex> lock(m_guard);
    bool allEnded = true;
    for (Worker &worker : m_workers) {
        if (!worker.thread.joinable()) continue;
        while (!worker.done->load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (worker.done->load()) {
            worker.thread.join();
        } else {
            worker.thread.detach();
            allEnded = false;
        }
    }
    m_workers.clear();
    return allEnded;
}
