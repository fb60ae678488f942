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

int64_t ClockWin::LocalOffsetSeconds(int64_t utcSeconds) {
    // FILETIME counts 100 ns from 1601; the zone's rules of that date (its
    // summer time) give the local time, the difference the offset.
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
    constexpr int64_t kTicksPerSecond = 10000000LL;
    const uint64_t ticks = static_cast<uint64_t>(utcSeconds + kSecondsFrom1601To1970) *
                           static_cast<uint64_t>(kTicksPerSecond);
    FILETIME utc = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utcTime = {}, localTime = {};
    FILETIME local = {};
    if (!FileTimeToSystemTime(&utc, &utcTime) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &localTime) ||
        !SystemTimeToFileTime(&localTime, &local))
        return 0;
    const uint64_t localTicks =
        (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    return (static_cast<int64_t>(localTicks) - static_cast<int64_t>(ticks)) / kTicksPerSecond;
}
