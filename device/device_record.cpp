#include "device/device_record.h"

#include <cstring>

void CopyDeviceInfo(const DEVICE_INFO &source, DEVICE_INFO &target) {
    // Every field but identity and deviceType is opaque: a text filled to its
    // last byte may be no text at all, and cutting it would hand the library
    // a record it never made.
    if (&source == &target) return;
    std::memcpy(&target, &source, sizeof target);
}

void ClearDeviceInfo(DEVICE_INFO &record) {
    // Padding included: the record goes back to the library as it came.
    std::memset(&record, 0, sizeof record);
}
