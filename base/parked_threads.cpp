#include "base/parked_threads.h"

#include <mutex>
#include <vector>

void ParkThread(std::thread &thread) {
    if (!thread.joinable()) return;
#if defined(__MINGW32__)
    // Never destroyed: a joinable thread's destructor would end the process.
    static std::mutex *guard = new std::mutex;
    static std::vector<std::thread> *parked = new std::vector<std::thread>;
    std::lock_guard<std::mutex> lock(*guard);
    parked->push_back(std::move(thread));
#else
    thread.detach();
#endif
}
