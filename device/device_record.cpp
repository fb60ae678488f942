#include "device/device_record.h"

#include <cstring>

namespace {

template <size_t N> void CopyText(const char (&source)[N], char (&target)[N]) {
    const size_t length = strnlen(source, N - 1);
    std::memcpy(target, source, length);
    std::memset(target + length, 0, N - length);
}

} // namespace

void CopyDeviceInfo(const DEVICE_INFO &source, DEVICE_INFO &target) {
    if (&source == &target) return;
    target.usbVid = source.usbVid;
    target.usbPid = source.usbPid;
    CopyText(source.devicePath, target.devicePath);
    CopyText(source.serialNumber, target.serialNumber);
    target.identity = source.identity;
    target.deviceType = source.deviceType;
    target.busFlags = source.busFlags;
    target.location = source.location;
}

void ClearDeviceInfo(DEVICE_INFO &record) {
    // Padding included: the record goes back to the library as it came.
    std::memset(&record, 0, sizeof record);
}
