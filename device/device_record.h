// The device record is the library's: the program copies and clears it whole
// and reads nothing but identity and deviceType.
#pragma once

#include "base/QVAndroidDLL.h"

// Byte for byte, padding included: the library gets back exactly the record
// it filled. Its texts need not end in a zero, so a text of it that is ever
// shown or compared must be read with its field's size as the bound.
void CopyDeviceInfo(const DEVICE_INFO &source, DEVICE_INFO &target);

// Every number 0 and every character of the texts 0, so identity is 0.
void ClearDeviceInfo(DEVICE_INFO &record);
