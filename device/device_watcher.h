// The device watcher: a worker thread that polls the device library every
// 200 ms, keeps the record of the one current device in g_deviceInfo, shows
// which device is connected and enables the job buttons accordingly.
#pragma once

#include <cstdint>
#include <string>

#include "device/device_context.h"

inline constexpr uint32_t kWatchPeriodMs = 200;
inline constexpr const wchar_t *kMaskRomName = L"QV70 MaskRom";

// One search and what follows from it. The caller holds the watch cycle of
// the gate. working is the watcher's own record, filled by each search.
void RunWatchCycle(DeviceContext &context, DEVICE_INFO &working);

// The thread body: a cycle (when the gate allows one) and a 200 ms sleep,
// until the exit procedure closes the gate.
void DeviceWatchThread(DeviceContext &context);

// The facts of a job about to start: the device held by the watcher (its
// versions only as the watcher read them from this device) and the image
// accepted. Called after the hand-over, so the watcher is idle.
JobStartedFacts JobStartFacts(DeviceContext &context, JobMode mode, const std::wstring &jobId);

// The name shown for a device of the given kind.
std::wstring DeviceNameForKind(const Settings &settings, int32_t deviceType);

// The loader version word of a device's loader version text: two decimal
// numbers separated by a point ("2.05"), each taken modulo 256. A text that
// does not start that way gives kNoLoaderVersion.
uint16_t ParseDeviceLoaderVersion(const char *text);
