// Start-up reading of setting.ini: the process-wide settings, the device
// library's set-up switches and the choice of the language file.
#pragma once

#include <string>

#include "app/ini_file.h"
#include "app/language_texts.h"
#include "app/platform.h"
#include "app/process_state.h"
#include "device/device_library.h"
#include "ui/main_view.h"

enum class LoadSettingsResult { Loaded, SettingsUnavailable };

// Expects state.programFolder (ending in a backslash). On SettingsUnavailable
// the error box has been shown and dismissed, nothing else has been read or
// called, and the caller ends the process with exit code 1.
LoadSettingsResult LoadSettings(ProcessState &state, CIniFile &ini, const Platform &platform,
                                IDeviceLibrary &library, IMainView &view, ILanguageTexts &texts);

// Warns (IDS_52) and drops FIRMWARE when the configured file cannot be found.
// Only a failed attribute query counts, so a folder name passes.
void CheckConfiguredFirmware(ProcessState &state, IFileSystem &files, ILanguageTexts &texts,
                             IMainView &view);

// The settings file's name in the program folder.
inline constexpr const wchar_t *kSettingsFileName = L"setting.ini";
