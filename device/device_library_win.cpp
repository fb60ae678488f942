#include "device/device_library_win.h"

#include <cwchar>

const wchar_t *const LoadedDeviceLibrary::kFileName = L"QVAndroidDLL.dll";

const char *const LoadedDeviceLibrary::kExportNames[21] = {
    "DllInitialize",       "DllDeInitialize",   "SetLogPath",          "SetLoaderRestoreFlag",
    "SetEraseUserSection", "SetMainWindowHwnd", "SetVidPid",           "QV_FindDevice",
    "QV_GetDeviceVersion", "QV_GetImageSize",   "QV_GetLoaderVersion", "QV_GetSystemVersion",
    "ExtractLoaderFile",   "QV_EraseIDB",       "QV_Upgrade",          "QV_ResetDevice",
    "QV_WaitDevice",       "QV_DownloadImage",  "QV_SwitchVeskUsb",    "QVIsVeskUsbPlug",
    "QVInstallDriver"};

namespace {

std::wstring Widen(const char *ascii) {
    std::wstring wide;
    while (*ascii)
        wide += static_cast<wchar_t>(*ascii++);
    return wide;
}

// Resolves one export into its typed slot; the names of those missing are
// collected so that the message can name every one.
template <typename Function>
void Resolve(HMODULE module, const char *name, Function &slot, std::wstring &missing,
             int &missingCount) {
    const FARPROC address = GetProcAddress(module, name);
    if (!address) {
        if (!missing.empty()) missing += L", ";
        missing += Widen(name);
        ++missingCount;
        slot = nullptr;
        return;
    }
    // Through the generic function pointer type: a direct cast from FARPROC
    // draws a warning about incompatible function types.
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(address));
}

} // namespace

std::unique_ptr<LoadedDeviceLibrary> LoadedDeviceLibrary::Load(const std::wstring &programFolder,
                                                               std::wstring &error) {
    error.clear();
    std::wstring path = programFolder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += kFileName;

    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = L"The device library " + std::wstring(kFileName) +
                L" is missing: it was looked for at " + path + L".";
        return nullptr;
    }
    // By full path, and its own dependencies looked for beside it: a library
    // of the same name elsewhere on the search path is never picked up.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        error = L"The device library " + path + L" could not be loaded (system error " +
                std::to_wstring(GetLastError()) + L").";
        return nullptr;
    }

    Exports exports{};
    std::wstring missing;
    int missingCount = 0;
    // The same names as the header, resolved into the slots of the same name.
#define QV_RESOLVE(name) Resolve(module, #name, exports.name, missing, missingCount)
    QV_RESOLVE(DllInitialize);
    QV_RESOLVE(DllDeInitialize);
    QV_RESOLVE(SetLogPath);
    QV_RESOLVE(SetLoaderRestoreFlag);
    QV_RESOLVE(SetEraseUserSection);
    QV_RESOLVE(SetMainWindowHwnd);
    QV_RESOLVE(SetVidPid);
    QV_RESOLVE(QV_FindDevice);
    QV_RESOLVE(QV_GetDeviceVersion);
    QV_RESOLVE(QV_GetImageSize);
    QV_RESOLVE(QV_GetLoaderVersion);
    QV_RESOLVE(QV_GetSystemVersion);
    QV_RESOLVE(ExtractLoaderFile);
    QV_RESOLVE(QV_EraseIDB);
    QV_RESOLVE(QV_Upgrade);
    QV_RESOLVE(QV_ResetDevice);
    QV_RESOLVE(QV_WaitDevice);
    QV_RESOLVE(QV_DownloadImage);
    QV_RESOLVE(QV_SwitchVeskUsb);
    QV_RESOLVE(QVIsVeskUsbPlug);
    QV_RESOLVE(QVInstallDriver);
#undef QV_RESOLVE
    if (missingCount) {
        FreeLibrary(module); // nobody has called into it yet
        error = L"The device library " + path +
                (missingCount == 1 ? L" lacks the export " : L" lacks the exports ") + missing +
                L".";
        return nullptr;
    }
    return std::unique_ptr<LoadedDeviceLibrary>(new LoadedDeviceLibrary(module, exports));
}

int LoadedDeviceLibrary::DllInitialize() {
    return m_exports.DllInitialize();
}
int LoadedDeviceLibrary::DllDeInitialize() {
    return m_exports.DllDeInitialize();
}
int LoadedDeviceLibrary::SetLogPath(const char *folder) {
    return m_exports.SetLogPath(folder);
}
int LoadedDeviceLibrary::SetLoaderRestoreFlag(int flag) {
    return m_exports.SetLoaderRestoreFlag(flag);
}
int LoadedDeviceLibrary::SetEraseUserSection(int flag) {
    return m_exports.SetEraseUserSection(flag);
}
int LoadedDeviceLibrary::SetMainWindowHwnd(HWND window) {
    return m_exports.SetMainWindowHwnd(window);
}
int LoadedDeviceLibrary::SetVidPid(uint16_t deviceVid, uint16_t devicePid, uint16_t mscVid,
                                   uint16_t mscPid, uint16_t adbVid, uint16_t adbPid) {
    return m_exports.SetVidPid(deviceVid, devicePid, mscVid, mscPid, adbVid, adbPid);
}
int LoadedDeviceLibrary::QV_FindDevice(DEVICE_INFO *device, int usb11) {
    return m_exports.QV_FindDevice(device, usb11);
}
int LoadedDeviceLibrary::QV_GetDeviceVersion(DEVICE_INFO *device, ANDROID_VERSION *version) {
    return m_exports.QV_GetDeviceVersion(device, version);
}
int LoadedDeviceLibrary::QV_GetImageSize(const char *image, uint32_t *size) {
    return m_exports.QV_GetImageSize(image, size);
}
int LoadedDeviceLibrary::QV_GetLoaderVersion(const char *image, uint16_t *version) {
    return m_exports.QV_GetLoaderVersion(image, version);
}
int LoadedDeviceLibrary::QV_GetSystemVersion(const char *image, uint32_t *version) {
    return m_exports.QV_GetSystemVersion(image, version);
}
int LoadedDeviceLibrary::ExtractLoaderFile(const char *image, const char *loaderFile) {
    return m_exports.ExtractLoaderFile(image, loaderFile);
}
int LoadedDeviceLibrary::QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11,
                                     const char *loaderFile) {
    return m_exports.QV_EraseIDB(device, count, usb11, loaderFile);
}
int LoadedDeviceLibrary::QV_Upgrade(DEVICE_INFO *device, uint32_t imageSize,
                                    uint32_t imageSizeLow16, uint32_t partition,
                                    const char *loaderFile, int mode, int reserved) {
    return m_exports.QV_Upgrade(device, imageSize, imageSizeLow16, partition, loaderFile, mode,
                                reserved);
}
int LoadedDeviceLibrary::QV_ResetDevice(DEVICE_INFO *device) {
    return m_exports.QV_ResetDevice(device);
}
int LoadedDeviceLibrary::QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11) {
    return m_exports.QV_WaitDevice(device, kind, count, usb11);
}
int LoadedDeviceLibrary::QV_DownloadImage(DEVICE_INFO *device, const char *image) {
    return m_exports.QV_DownloadImage(device, image);
}
int LoadedDeviceLibrary::QV_SwitchVeskUsb(DEVICE_INFO *device) {
    return m_exports.QV_SwitchVeskUsb(device);
}
int LoadedDeviceLibrary::QVIsVeskUsbPlug() {
    return m_exports.QVIsVeskUsbPlug();
}
int LoadedDeviceLibrary::QVInstallDriver(const char *infFile) {
    return m_exports.QVInstallDriver(infFile);
}
