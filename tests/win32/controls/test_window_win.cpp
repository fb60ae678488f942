#include "test_window_win.h"

#include "controls/color_label_win.h"

namespace {
constexpr wchar_t kClassName[] = L"QvControlsTestParent";

void RegisterOnce() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
    registered = true;
}
// Destroying a top-level window costs Wine about two seconds; the test
// parents are children of one top-level host that lives as long as the
// process.
HWND Host() {
    static HWND host = nullptr;
    if (host == nullptr) {
        RegisterOnce();
        host = CreateWindowExW(0, kClassName, L"controls tests", WS_POPUP | WS_VISIBLE, 0, 0, 800,
                               600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    return host;
}
} // namespace

TestParent::TestParent(int width, int height) {
    m_window =
        CreateWindowExW(0, kClassName, L"controls test", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                        20, 20, width, height, Host(), nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc));
}

TestParent::~TestParent() {
    if (IsWindow(m_window)) DestroyWindow(m_window);
}

HWND TestParent::AddStatic(const wchar_t *text, int x, int y, int width, int height, int id,
                           DWORD style) {
    return CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                           m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

LRESULT CALLBACK TestParent::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto *self = reinterpret_cast<TestParent *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (message == self->m_watched && message != 0) self->m_seen.push_back(wParam);
        if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(self->m_font);
        LRESULT result = 0;
        if (ReflectControlColor(window, message, wParam, lParam, &result)) return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void PumpMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (ms != 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

COLORREF ScreenPixel(HWND window, int x, int y) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    HDC dc = GetDC(window);
    const COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return color;
}

HFONT MakeTestFont(int height) {
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}
