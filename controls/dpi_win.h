// The dots per inch a window is shown at. The program declares per-monitor
// awareness in its manifest, so every pixel constant of a picture, a font
// or a window size is scaled with ScaleForDpi to this.
#pragma once

#include <windows.h>

#include "controls/dpi_scale.h"

// Messages of per-monitor awareness, for headers that target an older system.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

// The window's own dpi where the system tells it (Windows 10 1607 and later,
// Wine), else the screen's.
UINT DpiForWindow(HWND window);

inline int ScaleForWindow(int pixels, HWND window) {
    return ScaleForDpi(pixels, DpiForWindow(window));
}
