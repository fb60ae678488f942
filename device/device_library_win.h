// The device library loaded from the program's folder: QVAndroidDLL.dll by
// its full path, never through the DLL search path, with every export
// resolved by name before the program relies on any.
#pragma once

#include "device/device_library.h"

#include <windows.h>

#include <memory>
#include <string>

class LoadedDeviceLibrary : public IDeviceLibrary {
  public:
    // programFolder ends with a backslash. On failure returns null and error
    // is an English sentence naming the missing file or export.
    static std::unique_ptr<LoadedDeviceLibrary> Load(const std::wstring &programFolder,
                                                     std::wstring &error);

    // The module stays loaded until the process ends: a worker may still be
    // inside one of its calls when this object goes away.
    ~LoadedDeviceLibrary() override = default;

    int DllInitialize() override;
    int DllDeInitialize() override;
    int SetLogPath(const char *folder) override;
    int SetLoaderRestoreFlag(int flag) override;
    int SetEraseUserSection(int flag) override;
    int SetMainWindowHwnd(HWND window) override;
    int SetVidPid(uint16_t deviceVid, uint16_t devicePid, uint16_t mscVid, uint16_t mscPid,
                  uint16_t adbVid, uint16_t adbPid) override;
    int QV_FindDevice(DEVICE_INFO *device, int usb11) override;
    int QV_GetDeviceVersion(DEVICE_INFO *device, ANDROID_VERSION *version) override;
    int QV_GetImageSize(const char *image, uint32_t *size) override;
    int QV_GetLoaderVersion(const char *image, uint16_t *version) override;
    int QV_GetSystemVersion(const char *image, uint32_t *version) override;
    int ExtractLoaderFile(const char *image, const char *loaderFile) override;
    int QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11,
                    const char *loaderFile) override;
    int QV_Upgrade(DEVICE_INFO *device, uint32_t imageSize, uint32_t imageSizeLow16,
                   uint32_t partition, const char *loaderFile, int mode, int reserved) override;
    int QV_ResetDevice(DEVICE_INFO *device) override;
    int QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11) override;
    int QV_DownloadImage(DEVICE_INFO *device, const char *image) override;
    int QV_SwitchVeskUsb(DEVICE_INFO *device) override;
    int QVIsVeskUsbPlug() override;
    int QVInstallDriver(const char *infFile) override;

    HMODULE Module() const { return m_module; }

    // The library's file name and the export names, in header order.
    static const wchar_t *const kFileName;
    static const char *const kExportNames[21];

  private:
    struct Exports {
        decltype(&::DllInitialize) DllInitialize;
        decltype(&::DllDeInitialize) DllDeInitialize;
        decltype(&::SetLogPath) SetLogPath;
        decltype(&::SetLoaderRestoreFlag) SetLoaderRestoreFlag;
        decltype(&::SetEraseUserSection) SetEraseUserSection;
        decltype(&::SetMainWindowHwnd) SetMainWindowHwnd;
        decltype(&::SetVidPid) SetVidPid;
        decltype(&::QV_FindDevice) QV_FindDevice;
        decltype(&::QV_GetDeviceVersion) QV_GetDeviceVersion;
        decltype(&::QV_GetImageSize) QV_GetImageSize;
        decltype(&::QV_GetLoaderVersion) QV_GetLoaderVersion;
        decltype(&::QV_GetSystemVersion) QV_GetSystemVersion;
        decltype(&::ExtractLoaderFile) ExtractLoaderFile;
        decltype(&::QV_EraseIDB) QV_EraseIDB;
        decltype(&::QV_Upgrade) QV_Upgrade;
        decltype(&::QV_ResetDevice) QV_ResetDevice;
        decltype(&::QV_WaitDevice) QV_WaitDevice;
        decltype(&::QV_DownloadImage) QV_DownloadImage;
        decltype(&::QV_SwitchVeskUsb) QV_SwitchVeskUsb;
        decltype(&::QVIsVeskUsbPlug) QVIsVeskUsbPlug;
        decltype(&::QVInstallDriver) QVInstallDriver;
    };

    LoadedDeviceLibrary(HMODULE module, const Exports &exports)
        : m_module(module), m_exports(exports) {}

    HMODULE m_module;
    Exports m_exports;
};
