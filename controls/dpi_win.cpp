#include "controls/dpi_win.h"

#include <cstring>

namespace {
using GetDpiForWindowFunction = UINT(WINAPI *)(HWND);

// Looked up once: the program also runs on systems without it.
GetDpiForWindowFunction SystemGetDpiForWindow() {
    static const GetDpiForWindowFunction function = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        FARPROC found = user32 != nullptr ? GetProcAddress(user32, "GetDpiForWindow") : nullptr;
        GetDpiForWindowFunction typed = nullptr;
        static_assert(sizeof(typed) == sizeof(found), "function pointers of one size");
        memcpy(&typed, &found, sizeof(typed));
        return typed;
    }();
    return function;
}
} // namespace

UINT DpiForWindow(HWND window) {
    if (const GetDpiForWindowFunction function = SystemGetDpiForWindow()) {
        if (window != nullptr) {
            const UINT dpi = function(window);
            if (dpi != 0) return dpi;
        }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}
