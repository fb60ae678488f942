#include "base/worker_threads_win.h"

#include <windows.h>

#include <process.h>

#include <chrono>
#include <thread>

namespace {

// How often a wait for the threads and tasks looks again.
constexpr DWORD kWaitSliceMs = 5;

struct ThreadStart {
    std::function<void()> body;
};

unsigned __stdcall ThreadMain(void *argument) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(argument));
    try {
        start->body();
    } catch (...) {
        // Nothing may unwind out of a thread.
    }
    return 0;
}

struct TaskStart {
    std::function<void()> task;
    std::shared_ptr<std::atomic<int>> running;
};

VOID CALLBACK TaskMain(PTP_CALLBACK_INSTANCE, PVOID argument) {
    std::unique_ptr<TaskStart> start(static_cast<TaskStart *>(argument));
    try {
        start->task();
    } catch (...) {
    }
    start->running->fetch_sub(1);
}

bool HasEnded(void *thread) {
    return WaitForSingleObject(static_cast<HANDLE>(thread), 0) == WAIT_OBJECT_0;
}

} // namespace

WorkerThreads::WorkerThreads() : m_tasksRunning(std::make_shared<std::atomic<int>>(0)) {}

WorkerThreads::~WorkerThreads() {
    // Never wait here: a thread still running is left to the process's end,
    // its handle with it.
    std::lock_guard<std::mutex> lock(m_guard);
    ReleaseFinished();
}

bool WorkerThreads::Start(std::function<void()> body) {
    auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body)});
    std::lock_guard<std::mutex> lock(m_guard);
    ReleaseFinished();
    // The C runtime's own start, so that the thread may use all of it.
    const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadMain, start.get(), 0, nullptr);
    if (thread == 0) return false;
    start.release(); // the thread's now
    m_threads.push_back(reinterpret_cast<void *>(thread));
    return true;
}

bool WorkerThreads::RunShortTask(std::function<void()> task) {
    auto start = std::make_unique<TaskStart>(TaskStart{std::move(task), m_tasksRunning});
    m_tasksRunning->fetch_add(1);
    if (!TrySubmitThreadpoolCallback(TaskMain, start.get(), nullptr)) {
        m_tasksRunning->fetch_sub(1);
        return false;
    }
    start.release(); // the task's now
    return true;
}

void WorkerThreads::ReleaseFinished() {
    for (auto thread = m_threads.begin(); thread != m_threads.end();) {
        if (HasEnded(*thread)) {
            CloseHandle(static_cast<HANDLE>(*thread));
            thread = m_threads.erase(thread);
        } else {
            ++thread;
        }
    }
}

bool WorkerThreads::WaitAll(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (Running() == 0) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(kWaitSliceMs);
    }
}

size_t WorkerThreads::Running() {
    std::lock_guard<std::mutex> lock(m_guard);
    ReleaseFinished();
    return m_threads.size() + static_cast<size_t>(m_tasksRunning->load());
}
