// The programs' own threads (the device watcher, the jobs, the record's wait)
// and their short tasks (an image's digest). Every thread is the system's
// own, its handle kept until the thread has ended, and short tasks run on
// the system's thread pool: nothing is ever detached. A detached C++ thread
// that ends at the moment it is detached can corrupt the threading runtime's
// bookkeeping, and the next thread started may then never run.
//
// The programs never join their threads: they end with the process. The
// window only waits for them when it is destroyed within a process that goes
// on (a test), once the exit procedure has closed the gate that ends them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class WorkerThreads {
  public:
    WorkerThreads();
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads &) = delete;
    WorkerThreads &operator=(const WorkerThreads &) = delete;

    // Starts a thread at once; false when the system could not start it.
    // Threads that have finished are released first, so that a program that
    // runs job after job holds no more than the threads still running.
    bool Start(std::function<void()> body);

    // Runs a short task on the system's thread pool; false when the pool
    // refused it.
    bool RunShortTask(std::function<void()> task);

    // Waits up to the given time for every thread and task to end and
    // releases the threads that did. True when all ended.
    bool WaitAll(uint32_t timeoutMs);

    // Threads started and not yet seen to end, and tasks not yet ended.
    size_t Running();

  private:
    // Closes the handles of the threads that have ended. Holds m_guard.
    void ReleaseFinished();

    std::mutex m_guard; // the handles: started on one thread, waited on by another
    std::vector<void *> m_threads;
    // Shared with the tasks, which may outlive a window destroyed early.
    std::shared_ptr<std::atomic<int>> m_tasksRunning;
};
