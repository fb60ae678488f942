// The device record is the library's: the program copies and clears it whole
// and reads nothing but identity and deviceType.
#pragma once

#include "base/QVAndroidDLL.h"

// Every field; the two texts as terminated strings (a text the library left
// unterminated is cut at its last byte, never read past).
void CopyDeviceInfo(const DEVICE_INFO &source, DEVICE_INFO &target);

// Every number 0 and every character of the texts 0, so identity is 0.
void ClearDeviceInfo(DEVICE_INFO &record);
