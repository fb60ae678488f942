// The language keys of the station's own lines. Every other line is the
// window's text for the same event.
#pragma once

#include "device/job_record.h"

namespace station_text {
constexpr const wchar_t *kWaitingForDevice = L"IDS_200";
constexpr const wchar_t *kRemoveDevice = L"IDS_201";
constexpr const wchar_t *kFinishing = L"IDS_202";
constexpr const wchar_t *kStopped = L"IDS_203";
constexpr const wchar_t *kNoDeviceInTime = L"IDS_204"; // format: the seconds
constexpr const wchar_t *kDeclined = L"IDS_205";       // format: the flag
constexpr const wchar_t *kAnotherCopy = L"IDS_206";
constexpr const wchar_t *kRecordFailed = kRecordFailedTextKey; // format: the file and the reason
} // namespace station_text
