// A thread that did not end in time is parked until the process ends, never
// detached: with MinGW's threading runtime, detaching a thread at the moment
// it ends can corrupt the runtime's bookkeeping, and a thread started later
// may then never run.
#pragma once

#include <thread>

// Takes the thread over; it runs on, and ends with the process.
void ParkThread(std::thread &thread);
