// A thread that did not end in time is left to run on and end with the
// process. With MinGW's threading runtime it is parked, never detached:
// detaching a thread at the moment it ends can corrupt that runtime's
// bookkeeping, and a thread started later may then never run. Elsewhere it
// is detached, which has no such race.
#pragma once

#include <thread>

// Takes the thread over; it runs on, and ends with the process.
void ParkThread(std::thread &thread);
