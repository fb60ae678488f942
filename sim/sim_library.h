// The simulated device library: every export of QVAndroidDLL.dll, acting on
// the bench of virtual devices. Plain C++, so the native tests drive it
// directly; the DLL's export layer (exports_win.cpp) only supplies the bench
// folder, ANSI path conversion and the window question.
//
// Results that only this library gives meaning to (docs/simulated-bench.md):
//   QV_Upgrade: 0 done; -1 the device is not there or not in a mode that takes
//   a loader, or the library was released; -2 the loader file is missing or
//   damaged; -3 the image size arguments disagree; -4 a question was answered
//   No; any value set by the upgrade-result fault.
//   QVInstallDriver: 1 installed; -1 no usable driver information file.
#pragma once

#include "device/device_library.h"
#include "sim/bench.h"
#include "sim/image_format.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace qvsim {

struct LibraryHost {
    // The bench the library works on, asked at every call so that a changed
    // environment takes effect at once.
    std::function<std::filesystem::path()> benchFolder;
    // The library's text arguments are in the system's ANSI code page.
    std::function<std::filesystem::path(const char *)> pathFromAnsi;
    // Puts a question of the given kind to the window; returns the answer
    // (1 go on, anything else stop). Absent: every question is answered No.
    std::function<int(HWND window, int kind)> ask;
};

class SimLibrary : public IDeviceLibrary {
  public:
    explicit SimLibrary(LibraryHost host);
    ~SimLibrary() override;

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

  private:
    class Operation;

    Bench CurrentBench() const;
    std::filesystem::path PathOf(const char *text) const;
    void Log(const std::string &line);
    // Sleeps, or returns false at once when the library is released.
    bool Pause(int64_t milliseconds);
    bool Released() const { return m_released.load(); }
    // The question, logged on both sides; true for "go on".
    bool Ask(Bench &bench, int kind, const std::string &why);
    // The device named by the record: plugged in and answering now.
    std::optional<DeviceRecord> Target(const Bench &bench, const DEVICE_INFO *device) const;
    void FillRecord(const DeviceRecord &device, DEVICE_INFO *record, int usb11,
                    const BenchSettings &settings) const;
    int InspectImage(const char *call, const char *image, ImageHeader &header, uint64_t &size);
    int Download(Bench &bench, const DeviceRecord &device, const std::filesystem::path &image);

    LibraryHost m_host;

    mutable std::mutex m_mutex; // guards the settings below and the operation count
    std::condition_variable m_changed;
    bool m_initialized = false;
    std::filesystem::path m_logFolder;
    HWND m_window = nullptr;
    int m_loaderRestore = 0;
    int m_eraseUserSection = 0;
    uint16_t m_deviceVid = 0, m_devicePid = 0, m_mscVid = 0, m_mscPid = 0;
    int m_lastFindLogged = -1000;
    int m_operations = 0;

    std::mutex m_logMutex; // one writer at a time in the log file
    std::atomic<bool> m_released{false};
};

} // namespace qvsim
