// Inspection of a firmware image on the UI thread: the image's versions and
// size are read, shown in the image group, and its loader is extracted into
// "QVBOOT.BIN" in the temporary folder, where the job takes it from.
#pragma once

#include <cstdint>
#include <string>

#include "device/device_context.h"

inline constexpr const wchar_t *kLoaderFileName = L"QVBOOT.BIN";
// What the window shows for an image version the library could not read.
inline constexpr const wchar_t *kVersionNotAvailable = L"N/A";

// True when the image is accepted. On refusal a message box has been shown
// and the caller empties the firmware path.
bool InspectFirmware(DeviceContext &context, const std::wstring &imagePath);

// "1.05": major and minor of a loader version word.
std::wstring FormatLoaderVersion(uint16_t version);
// "a.b.10": top byte, next byte and low 16 bits, in hexadecimal.
std::wstring FormatSystemVersion(uint32_t version);
