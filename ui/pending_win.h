// TEMPORARY stand-in for the device library, used only until the real
// loader is wired in; this file then goes.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>

#include "app/language_texts.h"
#include "app/process_state.h"


#include "app/platform.h"
#include "device/device_library.h"

namespace pending {

class NullLibrary : public IDeviceLibrary {
public:
    int DllInitialize() override { return 1; }
    int DllDeInitialize() override { return 1; }
    int SetLogPath(const char *) override { return 1; }
    int SetLoaderRestoreFlag(int) override { return 1; }
    int SetEraseUserSection(int) override { return 1; }
    int SetMainWindowHwnd(HWND) override { return 1; }
    int SetVidPid(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) override { return 1; }
    int QV_FindDevice(DEVICE_INFO *, int) override { return 0; }
    int QV_GetDeviceVersion(DEVICE_INFO *, ANDROID_VERSION *) override { return 0; }
    int QV_GetImageSize(const char *, uint32_t *) override { return 0; }
    int QV_GetLoaderVersion(const char *, uint16_t *) override { return 0; }
    int QV_GetSystemVersion(const char *, uint32_t *) override { return 0; }
    int ExtractLoaderFile(const char *, const char *) override { return 0; }
    int QV_EraseIDB(DEVICE_INFO *, uint16_t, int, const char *) override { return 0; }
    int QV_Upgrade(DEVICE_INFO *, uint32_t, uint32_t, uint32_t, const char *, int, int) override {
        return -1;
    }
    int QV_ResetDevice(DEVICE_INFO *) override { return 0; }
    int QV_WaitDevice(DEVICE_INFO *, int, uint16_t, int) override { return 0; }
    int QV_DownloadImage(DEVICE_INFO *, const char *) override { return 0; }
    int QV_SwitchVeskUsb(DEVICE_INFO *) override { return 0; }
    int QVIsVeskUsbPlug() override { return 0; }
    int QVInstallDriver(const char *) override { return 0; }
};

} // namespace pending
