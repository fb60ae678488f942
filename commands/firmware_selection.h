// Browse (button 1028): the Open dialog's filter and what a chosen file does.
// The Win32 side shows the dialog; a cancelled dialog calls nothing here and
// so changes nothing.
#pragma once

#include <string>

#include "commands/command_context.h"

// The Open dialog's filter for the image extension (no dot): a firmware entry
// and an all-files entry, each a display text and a pattern separated by
// NUL, the list ended by a second NUL. Hand over filter.c_str().
std::wstring BuildFirmwareFilter(const std::wstring &extension);

// The user chose a file: inspect it; a usable image becomes the firmware, a
// refused one leaves no firmware chosen (the inspection has told the user).
void OnFirmwareChosen(CommandContext &ctx, const std::wstring &path);
