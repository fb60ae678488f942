// What Windows the program runs on, for the choice of the USB driver.
#pragma once

#include "device/driver_platform.h"

class SystemInfoWin : public ISystemInfo {
  public:
    // The true version from ntdll's RtlGetVersion: GetVersionEx answers 6.2
    // on every later Windows to a program without a compatibility manifest.
    bool GetWindowsVersion(uint32_t &major, uint32_t &minor) override;
    // IsWow64Process, looked up by name (absent before XP SP2).
    bool IsWow64() override;
    bool ProcessIs64Bit() override;
};
