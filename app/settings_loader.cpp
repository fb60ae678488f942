#include "app/settings_loader.h"

#include <cstdint>

#include "base/ansi_text.h"
#include "base/language.h"
#include "base/text_format.h"
#include "base/text_keys.h"

namespace {

uint16_t Low16(uint32_t value) {
    return static_cast<uint16_t>(value & 0xFFFFu);
}

// Integer switches are on only at exactly 1.
bool SwitchOn(CIniFile &ini, const wchar_t *section, const wchar_t *key) {
    return ini.GetInt(section, key) == 1;
}

void ReadIdentities(Settings &s, CIniFile &ini) {
    s.DEVICE_ID_VID = Low16(ini.GetHex(L"DEVICE_ID", L"VID"));
    s.DEVICE_ID_PID = Low16(ini.GetHex(L"DEVICE_ID", L"PID"));
    s.MSC_ID_VID = Low16(ini.GetHex(L"MSC_ID", L"VID"));
    s.MSC_ID_PID = Low16(ini.GetHex(L"MSC_ID", L"PID"));
    s.ADB_ID_VID = Low16(ini.GetHex(L"ADB_ID", L"VID"));
    s.ADB_ID_PID = Low16(ini.GetHex(L"ADB_ID", L"PID"));
}

void SetUpLibraryLog(ProcessState &state, const Platform &platform, IDeviceLibrary &library) {
    state.g_libraryInitialized = 1;
    const std::wstring logFolder = state.g_programFolder + L"Log";
    // A folder that cannot be made is the library's problem when it logs.
    if (!platform.files.PathExists(logFolder)) platform.files.MakeDirectory(logFolder);
    library.DllInitialize();
    AnsiBuffer ansi;
    if (WideToAnsi(platform.codec, logFolder, ansi)) library.SetLogPath(ansi.data());
}

// A value replaces the default only when it is not empty.
void TakeText(CIniFile &ini, const wchar_t *section, const wchar_t *key, std::wstring &value) {
    std::wstring text = ini.GetString(section, key);
    if (!text.empty()) value.swap(text);
}

void ReadTexts(Settings &s, CIniFile &ini) {
    TakeText(ini, L"SYSTEM", L"FIRMWARE", s.FIRMWARE);
    TakeText(ini, L"SYSTEM", L"PARTITION", s.PARTITION);
    TakeText(ini, L"SYSTEM", L"HOMEPAGE", s.HOMEPAGE);
    TakeText(ini, L"SYSTEM", L"IMAGE_EXT_NAME", s.IMAGE_EXT_NAME);
    TakeText(ini, L"DEVICE_ID", L"NAME", s.DEVICE_ID_NAME);
    TakeText(ini, L"MSC_ID", L"NAME", s.MSC_ID_NAME);
    TakeText(ini, L"SYSTEM", L"APPTITLE", s.APPTITLE);
}

void ChooseLanguageFile(ProcessState &state, CIniFile &ini, const Platform &platform) {
    std::wstring language = ini.GetString(L"SYSTEM", L"LANGUAGE", 100);
    if (language.empty()) language = L"English";

    LANGUAGE_INFO list[kLanguageListCapacity];
    const int count =
        ListLanguages(list, kLanguageListCapacity, state.g_programFolder + L"Language\\",
                      platform.files, platform.profile);
    const int chosen = FindLanguage(list, count, language);
    if (chosen >= 0) state.g_languageFile = list[chosen].path;
}

} // namespace

LoadSettingsResult LoadSettings(ProcessState &state, CIniFile &ini, const Platform &platform,
                                IDeviceLibrary &library, IMainView &view, ILanguageTexts &texts) {
    if (!ini.SetFile(state.g_programFolder + kSettingsFileName)) {
        // No language is chosen yet: this one text is the program's own.
        view.ShowMessage(L"Failure to Load setting!", std::wstring(L"ERROR"),
                         mb::kOk | mb::kIconError);
        return LoadSettingsResult::SettingsUnavailable;
    }

    Settings &s = state.g_settings;
    ReadIdentities(s, ini);

    if (SwitchOn(ini, L"DEBUG", L"PRINT_LOG")) {
        SetUpLibraryLog(state, platform, library);
    } else {
        state.g_libraryInitialized = 0;
    }

    state.g_supportUsb11 = SwitchOn(ini, L"SYSTEM", L"SUPPORTUSB11") ? 1 : 0;
    if (SwitchOn(ini, L"SYSTEM", L"REPAIR_LOADER")) library.SetLoaderRestoreFlag(1);
    library.SetEraseUserSection(SwitchOn(ini, L"SYSTEM", L"ERASEUSERSECTION") ? 1 : 0);

    ReadTexts(s, ini);
    ChooseLanguageFile(state, ini, platform);
    CheckConfiguredFirmware(state, platform.files, texts, view);
    return LoadSettingsResult::Loaded;
}

void CheckConfiguredFirmware(ProcessState &state, IFileSystem &files, ILanguageTexts &texts,
                             IMainView &view) {
    std::wstring &firmware = state.g_settings.FIRMWARE;
    if (firmware.empty() || files.HasAttributes(firmware)) return;
    view.ShowMessage(FormatLangText(texts.Text(ids::kConfiguredFirmwareMissing), firmware),
                     state.g_settings.APPTITLE, mb::kOk | mb::kIconExclamation);
    firmware.clear();
}
