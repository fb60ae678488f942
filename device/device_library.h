// The device library as the logic sees it: one method per export of
// QVAndroidDLL.dll, with the same names, arguments and results. The program
// implements it over the loaded DLL; tests implement it with fakes.
#pragma once

#include <cstdint>

#include "base/QVAndroidDLL.h"

class IDeviceLibrary {
  public:
    virtual ~IDeviceLibrary() = default;

    virtual int DllInitialize() = 0;
    virtual int DllDeInitialize() = 0;
    virtual int SetLogPath(const char *folder) = 0;
    virtual int SetLoaderRestoreFlag(int flag) = 0;
    virtual int SetEraseUserSection(int flag) = 0;
    virtual int SetMainWindowHwnd(HWND window) = 0;
    virtual int SetVidPid(uint16_t deviceVid, uint16_t devicePid, uint16_t mscVid, uint16_t mscPid,
                          uint16_t adbVid, uint16_t adbPid) = 0;
    virtual int QV_FindDevice(DEVICE_INFO *device, int usb11) = 0;
    virtual int QV_GetDeviceVersion(DEVICE_INFO *device, ANDROID_VERSION *version) = 0;
    virtual int QV_GetImageSize(const char *image, uint32_t *size) = 0;
    virtual int QV_GetLoaderVersion(const char *image, uint16_t *version) = 0;
    virtual int QV_GetSystemVersion(const char *image, uint32_t *version) = 0;
    virtual int ExtractLoaderFile(const char *image, const char *loaderFile) = 0;
    virtual int QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11,
                            const char *loaderFile) = 0;
    virtual int QV_Upgrade(DEVICE_INFO *device, uint32_t imageSize, uint32_t imageSizeLow16,
                           uint32_t partition, const char *loaderFile, int mode, int reserved) = 0;
    virtual int QV_ResetDevice(DEVICE_INFO *device) = 0;
    virtual int QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11) = 0;
    virtual int QV_DownloadImage(DEVICE_INFO *device, const char *image) = 0;
    virtual int QV_SwitchVeskUsb(DEVICE_INFO *device) = 0;
    virtual int QVIsVeskUsbPlug() = 0;
    virtual int QVInstallDriver(const char *infFile) = 0;
};
