// Whether the user has a high-contrast scheme on. While one is, the
// program's own colours give way to the scheme's: a fixed blue or green on
// its black is hard to read, and the user chose those colours for a reason.
#pragma once

#include <windows.h>

bool HighContrastOn();

// For tests on a system that keeps no high-contrast setting (Wine): the
// answer HighContrastOn gives until UseSystemHighContrast.
void OverrideHighContrast(bool on);
void UseSystemHighContrast();
