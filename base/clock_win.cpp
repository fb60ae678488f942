#include <windows.h>

#include <ctime>

#include "base/platform_win.h"

void ClockWin::SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

int64_t ClockWin::NowSeconds() {
    return static_cast<int64_t>(time(nullptr));
}

uint64_t ClockWin::TickMs() {
    return GetTickCount64();
}
