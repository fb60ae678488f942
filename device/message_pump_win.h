// The UI thread's way of waiting while workers write into its window with
// synchronous calls: it keeps handling sent messages, so they never deadlock
// on it. Posted messages stay queued for the message loop.
#pragma once

#include <cstdint>

// Returns after the time, or earlier once sent messages have been handled.
void PumpSentMessages(uint32_t milliseconds);
