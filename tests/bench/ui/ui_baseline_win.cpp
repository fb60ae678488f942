// The smallest GUI program: one window and a message loop. ui_session
// measures its working set beside the program's, because under Wine every
// process carries the emulator's own libraries in its working set.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HWND window = CreateWindowExW(0, L"STATIC", L"baseline", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    MSG message;
    while (IsWindow(window) && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_CLOSE || (message.hwnd == window && message.message == WM_CLOSE))
            break;
        DispatchMessageW(&message);
    }
    return 0;
}
