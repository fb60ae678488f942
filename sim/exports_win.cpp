// The exports of the simulated QVAndroidDLL.dll: each forwards to one
// SimLibrary, which is given the bench folder, the ANSI path conversion and
// the window question of this platform.
#include <windows.h>

#define QVAPI __declspec(dllexport)
#include "base/QVAndroidDLL.h"
#include "sim/host.h"
#include "sim/sim_library.h"

#include <exception>
#include <string>

namespace {

std::filesystem::path LibraryFolder() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&LibraryFolder), &self);
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, &path[0], DWORD(path.size()));
        if (n == 0) return std::filesystem::path();
        if (n < path.size()) {
            path.resize(n);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

std::filesystem::path BenchFolder() {
    const auto value = qvsim::EnvironmentValue(qvsim::kBenchVariable);
    if (value && !value->empty()) return std::filesystem::u8path(*value);
    static const std::filesystem::path beside = LibraryFolder() / qvsim::kBenchFolderName;
    return beside;
}

std::filesystem::path FromAnsi(const char *text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 1) return std::filesystem::path();
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
    wide.resize(size_t(n - 1));
    return std::filesystem::path(wide);
}

// Sent, not posted: the operation waits inside the library until the window
// has answered, as the program expects.
int AskWindow(HWND window, int kind) {
    if (!window || !IsWindow(window)) return 0;
    int32_t answer = 0;
    SendMessageW(window, WM_DEVICE_PROMPT, WPARAM(kind), reinterpret_cast<LPARAM>(&answer));
    return answer;
}

qvsim::SimLibrary &Library() {
    // Never destroyed: a thread of the program may still be inside a call
    // while the process ends.
    static qvsim::SimLibrary *library =
        new qvsim::SimLibrary(qvsim::LibraryHost{BenchFolder, FromAnsi, AskWindow});
    return *library;
}

// No C++ exception may cross into the caller; a failure result instead.
template <typename Call> int Guarded(int failure, Call call) {
    try {
        return call(Library());
    } catch (...) {
        return failure;
    }
}

} // namespace

extern "C" {

int DllInitialize(void) {
    return Guarded(0, [](auto &lib) { return lib.DllInitialize(); });
}
int DllDeInitialize(void) {
    return Guarded(0, [](auto &lib) { return lib.DllDeInitialize(); });
}
int SetLogPath(const char *folder) {
    return Guarded(0, [=](auto &lib) { return lib.SetLogPath(folder); });
}
int SetLoaderRestoreFlag(int flag) {
    return Guarded(0, [=](auto &lib) { return lib.SetLoaderRestoreFlag(flag); });
}
int SetEraseUserSection(int flag) {
    return Guarded(0, [=](auto &lib) { return lib.SetEraseUserSection(flag); });
}
int SetMainWindowHwnd(HWND window) {
    return Guarded(0, [=](auto &lib) { return lib.SetMainWindowHwnd(window); });
}
int SetVidPid(uint16_t deviceVid, uint16_t devicePid, uint16_t mscVid, uint16_t mscPid,
              uint16_t adbVid, uint16_t adbPid) {
    return Guarded(0, [=](auto &lib) {
        return lib.SetVidPid(deviceVid, devicePid, mscVid, mscPid, adbVid, adbPid);
    });
}
int QV_FindDevice(DEVICE_INFO *device, int usb11) {
    return Guarded(0, [=](auto &lib) { return lib.QV_FindDevice(device, usb11); });
}
int QV_GetDeviceVersion(DEVICE_INFO *device, ANDROID_VERSION *version) {
    return Guarded(0, [=](auto &lib) { return lib.QV_GetDeviceVersion(device, version); });
}
int QV_GetImageSize(const char *image, uint32_t *size) {
    return Guarded(0, [=](auto &lib) { return lib.QV_GetImageSize(image, size); });
}
int QV_GetLoaderVersion(const char *image, uint16_t *version) {
    return Guarded(0, [=](auto &lib) { return lib.QV_GetLoaderVersion(image, version); });
}
int QV_GetSystemVersion(const char *image, uint32_t *version) {
    return Guarded(0, [=](auto &lib) { return lib.QV_GetSystemVersion(image, version); });
}
int ExtractLoaderFile(const char *image, const char *loaderFile) {
    return Guarded(0, [=](auto &lib) { return lib.ExtractLoaderFile(image, loaderFile); });
}
int QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11, const char *loaderFile) {
    return Guarded(0, [=](auto &lib) { return lib.QV_EraseIDB(device, count, usb11, loaderFile); });
}
int QV_Upgrade(DEVICE_INFO *device, uint32_t imageSize, uint32_t imageSizeLow16, uint32_t partition,
               const char *loaderFile, int mode, int reserved) {
    return Guarded(-1, [=](auto &lib) {
        return lib.QV_Upgrade(device, imageSize, imageSizeLow16, partition, loaderFile, mode,
                              reserved);
    });
}
int QV_ResetDevice(DEVICE_INFO *device) {
    return Guarded(0, [=](auto &lib) { return lib.QV_ResetDevice(device); });
}
int QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11) {
    return Guarded(0, [=](auto &lib) { return lib.QV_WaitDevice(device, kind, count, usb11); });
}
int QV_DownloadImage(DEVICE_INFO *device, const char *image) {
    return Guarded(0, [=](auto &lib) { return lib.QV_DownloadImage(device, image); });
}
int QV_SwitchVeskUsb(DEVICE_INFO *device) {
    return Guarded(0, [=](auto &lib) { return lib.QV_SwitchVeskUsb(device); });
}
int QVIsVeskUsbPlug(void) {
    return Guarded(0, [](auto &lib) { return lib.QVIsVeskUsbPlug(); });
}
int QVInstallDriver(const char *infFile) {
    return Guarded(-1, [=](auto &lib) { return lib.QVInstallDriver(infFile); });
}

} // extern "C"
