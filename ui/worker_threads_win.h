// The window's worker threads (the device watcher and the jobs). The program
// never joins them: they end with the process. The window only waits for
// them when it is destroyed within a process that goes on (a test), once the
// exit procedure has closed the gate that ends them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class WorkerThreads {
  public:
    WorkerThreads() = default;
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads &) = delete;
    WorkerThreads &operator=(const WorkerThreads &) = delete;

    // Starts a thread at once; false when the system could not start it.
    // Threads that have finished are released first, so that a window that
    // runs job after job holds no more than the threads still running.
    bool Start(std::function<void()> body);

    // Waits up to the given time for every thread to end and joins those
    // that did; the others are detached. True when all ended.
    bool WaitAll(uint32_t timeoutMs);

  private:
    // Joins and forgets the threads that have finished. Holds m_guard.
    void ReleaseFinished();

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_guard; // the list: started on the UI thread, waited on by its destructor
    std::vector<Worker> m_workers;
};
