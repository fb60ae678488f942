// The upgrade and repair job: writes the selected firmware image to the
// current device on a worker thread and posts its result code to the main
// window (WM_UPGRADE_RESULT), exactly once.
#pragma once

#include <cstdint>
#include <string>

#include "device/device_context.h"
#include "device/driver_install.h"
#include "device/driver_platform.h"
#include "device/job_codes.h"

inline constexpr uint32_t kSettleAfterResetMs = 1000;

// The partition number of a PARTITION text: the decimal number before the
// first colon (leading blanks and a sign allowed, no digits giving 0), taken
// modulo 65536 (a negative number wraps to its 16-bit value).
uint32_t ParsePartitionNumber(const std::wstring &partition);

// The result code for a non-zero return of QV_Upgrade.
JobResult UpgradeFailureCode(int upgradeResult);

// [SYSTEM] ERASE_IDB of setting.ini, read afresh, so a change in the file
// counts from the next repair on. False when the file cannot be opened.
bool RepairErasesIdb(DeviceContext &context);

// The job's steps up to its result code (any but kJobNotCompleted and
// kJobThreadNotStarted), or kJobStoppedAtExit when the exit procedure closed
// the gate on the way.
// times, when given, gets how long each phase the job began took.
JobResult RunUpgradeJob(DeviceContext &context, IProcessRunner &runner, ISystemInfo &system,
                        JobMode mode, const DriverInstallTimes &times = DriverInstallTimes(),
                        JobPhaseTimes *phases = nullptr);

// The thread body: runs the job, tells its phase times to context.events and
// posts its result, unless the window has gone. Nothing escapes it.
void UpgradeThread(DeviceContext &context, IProcessRunner &runner, ISystemInfo &system,
                   JobMode mode);
