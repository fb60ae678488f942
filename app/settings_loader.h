// Start-up reading of setting.ini: the process-wide settings, the device
// library's set-up switches and the choice of the language file.
#pragma once

#include <string>

#include "base/ini_file.h"
#include "base/language_texts.h"
#include "base/main_view.h"
#include "base/platform.h"
#include "base/process_state.h"
#include "device/device_library.h"

enum class LoadSettingsResult { Loaded, SettingsUnavailable };

// Expects state.g_programFolder (ending in a backslash). On SettingsUnavailable
// the error box has been shown and dismissed, nothing else has been read or
// called, and the caller ends the process with exit code 1.
LoadSettingsResult LoadSettings(ProcessState &state, CIniFile &ini, const Platform &platform,
                                IDeviceLibrary &library, IMainView &view, ILanguageTexts &texts);

// LoadSettings in the form the main window takes it: true when loaded.
inline bool LoadWindowSettings(ProcessState &state, CIniFile &ini, const Platform &platform,
                               IDeviceLibrary &library, IMainView &view, ILanguageTexts &texts) {
    return LoadSettings(state, ini, platform, library, view, texts) == LoadSettingsResult::Loaded;
}

// Warns (ids::kConfiguredFirmwareMissing) and drops FIRMWARE when the configured file cannot be
// found. Only a failed attribute query counts, so a folder name passes.
void CheckConfiguredFirmware(ProcessState &state, IFileSystem &files, ILanguageTexts &texts,
                             IMainView &view);

// The settings file's name in the program folder.
inline constexpr const wchar_t *kSettingsFileName = L"setting.ini";
