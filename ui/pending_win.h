// TEMPORARY stand-ins for the settings loader and the language texts, used
// only until the real ones are wired in; this file then goes.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>

#include "app/language_texts.h"
#include "app/process_state.h"

namespace pending {

inline std::wstring ReadProfile(const std::wstring &file, const wchar_t *section,
                                const wchar_t *key) {
    wchar_t buffer[1000] = L"";
    GetPrivateProfileStringW(section, key, L"", buffer, 1000, file.c_str());
    return buffer;
}

class LanguageTexts : public ILanguageTexts {
public:
    explicit LanguageTexts(const ProcessState &state) : m_state(state) {}
    std::wstring Text(const std::wstring &key) override {
        if (m_state.g_languageFile.empty()) return L"";
        return ReadProfile(m_state.g_languageFile, L"String", key.c_str());
    }

private:
    const ProcessState &m_state;
};

inline uint16_t Hex(const std::wstring &text) {
    return static_cast<uint16_t>(wcstoul(text.c_str(), nullptr, 16));
}

inline void LoadSettings(ProcessState &state) {
    const std::wstring file = state.programFolder + L"setting.ini";
    Settings &s = state.settings;
    s.DEVICE_ID_VID = Hex(ReadProfile(file, L"DEVICE_ID", L"VID"));
    s.DEVICE_ID_PID = Hex(ReadProfile(file, L"DEVICE_ID", L"PID"));
    s.APPTITLE = ReadProfile(file, L"SYSTEM", L"APPTITLE");
    s.HOMEPAGE = ReadProfile(file, L"SYSTEM", L"HOMEPAGE");
    s.FIRMWARE = ReadProfile(file, L"SYSTEM", L"FIRMWARE");
    std::wstring language = ReadProfile(file, L"SYSTEM", L"LANGUAGE");
    if (language.empty()) language = L"English";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((state.programFolder + L"Language\\*.ini").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring path = state.programFolder + L"Language\\" + found.cFileName;
        if (lstrcmpiW(ReadProfile(path, L"Setting", L"Language").c_str(), language.c_str()) == 0) {
            state.g_languageFile = path;
            break;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

inline void ApplyDialogTexts(HWND dialog, int templateId, const std::wstring &languageFile) {
    if (languageFile.empty()) return;
    const std::wstring title =
        ReadProfile(languageFile, L"String", (L"IDD" + std::to_wstring(templateId) + L"_TITLE").c_str());
    if (!title.empty()) SetWindowTextW(dialog, title.c_str());
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id == -1 || id == 0xFFFF) continue;
        wchar_t cls[256];
        GetClassNameW(child, cls, 256);
        if (lstrcmpiW(cls, L"Button") != 0 && lstrcmpiW(cls, L"Static") != 0) continue;
        const std::wstring text = ReadProfile(
            languageFile, L"String",
            (L"IDD" + std::to_wstring(templateId) + L"_" + std::to_wstring(id)).c_str());
        if (!text.empty()) SetWindowTextW(child, text.c_str());
    }
}

} // namespace pending

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

class NullProfile : public IProfileReader {
public:
    std::wstring GetString(const std::wstring &, const std::wstring &, const std::wstring &,
                           size_t) override {
        return L"";
    }
    int GetInt(const std::wstring &, const std::wstring &, const std::wstring &, int d) override {
        return d;
    }
};
class NullFiles : public IFileSystem {
public:
    bool OpenForAppend(const std::wstring &) override { return true; }
    bool PathExists(const std::wstring &p) override {
        return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool HasAttributes(const std::wstring &p) override { return PathExists(p); }
    bool DeleteFile(const std::wstring &p) override { return DeleteFileW(p.c_str()) != 0; }
    bool CreateDirectory(const std::wstring &) override { return false; }
    std::vector<FileEntry> FindFiles(const std::wstring &) override { return {}; }
};
class NullCodec : public ITextCodec {
public:
    bool ToAnsi(const std::wstring &, std::string &) override { return false; }
    std::wstring FromAnsi(const std::string &) override { return L""; }
};
class NullClock : public IClock {
public:
    void SleepMs(uint32_t ms) override { Sleep(ms); }
    int64_t NowSeconds() override { return static_cast<int64_t>(time(nullptr)); }
    uint64_t TickMs() override { return GetTickCount64(); }
};

} // namespace pending
