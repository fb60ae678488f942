// Switching a mass-storage device (kind 4) into VeskUsb mode at the start of
// a job, installing the USB driver shipped beside the program when the
// device is plugged in but does not come back for lack of it.
#pragma once

#include <cstdint>
#include <string>

#include "device/device_context.h"
#include "device/driver_platform.h"
#include "device/job_codes.h"

struct DriverFolder {
    std::wstring folder; // relative to the program folder; empty when unknown
    bool windows64 = false;
};

// "Windows is 64-bit" is true for a 64-bit program as well as for a 32-bit
// one under WOW64: asking WOW64 alone would pick the x86 driver for this
// program on every 64-bit system.
DriverFolder GetDriverFolder(ISystemInfo &system);

inline constexpr const wchar_t *kDriverInfFileName = L"qv70usb.inf";
inline constexpr const wchar_t *kDriverSetupFileName = L"DriverSetup.Exe";

// The installer's waits. The product uses these values; only tests shorten
// them.
struct DriverInstallTimes {
    uint32_t beforeSwitchMs = 2000;
    uint32_t installerWaitMs = 30000;
    uint32_t exitCodeRetryMs = 200;
    int exitCodeReads = 10;
};

// "\"<program folder>DriverSetup.Exe\" -i qv70 \"<inf path>\""
std::wstring DriverSetupCommandLine(const std::wstring &programFolder, const std::wstring &infPath);

// Runs on the job thread. kJobFinished when the device is in VeskUsb mode,
// else kJobSwitchFailed, kJobNoVeskUsbDevice or a driver failure (-11 to -13,
// -15 to -17); kJobStoppedAtExit when the exit procedure closed the gate on
// the way.
JobResult EnterVeskUsbMode(DeviceContext &context, IProcessRunner &runner, ISystemInfo &system,
                           const DriverInstallTimes &times = DriverInstallTimes());
