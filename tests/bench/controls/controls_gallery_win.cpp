// A window with each of the program's own controls, to look at:
//   wine controls_gallery.exe [seconds]
// It closes by itself after the given time (5 s by default).
#include "controls/busy_progress_win.h"
#include "controls/color_label_win.h"
#include "controls/hyperlink_win.h"
#include "controls/text_overlay_win.h"

#include <cstdlib>

namespace {

HFONT g_font = nullptr;

LRESULT CALLBACK GalleryProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ReflectControlColor(window, message, wParam, lParam, &result)) return result;
    switch (message) {
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(g_font);
    case WM_TIMER:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND AddStatic(HWND parent, const wchar_t *text, int x, int y, int w, int h, int id, DWORD style) {
    HWND control = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                                   parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), FALSE);
    return control;
}

void NoClick(int) {}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const int seconds = __argc > 1 ? std::atoi(__argv[1]) : 5;
    g_font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
    WNDCLASSW wc{};
    wc.lpfnWndProc = GalleryProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"ControlsGallery";
    RegisterClassW(&wc);
    HWND window =
        CreateWindowExW(0, wc.lpszClassName, L"Controls", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                        340, 260, nullptr, nullptr, instance, nullptr);

    CColorLabel device, status, detail;
    device.Attach(AddStatic(window, L"QV70 MaskRom", 90, 12, 150, 18, 1011,
                            SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN));
    device.SetTextColor(RGB(0, 127, 0));
    status.Attach(AddStatic(window, L"Found one device", 20, 40, 290, 18, 1010,
                            SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN));
    status.SetTextColor(RGB(0, 0, 255));
    detail.Attach(
        AddStatic(window, L"Downloading image...\nPlease wait", 20, 64, 290, 32, 1009, SS_CENTER));
    detail.SetTextColor(RGB(0, 0, 255));

    CBusyProgressCtrl busy(10, 0), progress(12, 55);
    busy.Attach(AddStatic(window, L"", 60, 104, 210, 18, 1004, 0));
    busy.SetBlockCount(12);
    busy.SetPeriod(100);
    busy.SetPos(4);
    RECT progressRect{60, 128, 270, 146};
    progress.Create(WS_CHILD | WS_VISIBLE, progressRect, window, 1040);
    progress.SetMode(BPMODE_PROGRESS);

    CHyperLink link;
    link.Attach(AddStatic(window, L"", 20, 200, 200, 14, 1029, 0));
    link.SetText(L"http://www.example.com/");
    link.SetURL(L"http://www.example.com/");

    CTextOverlay overlay;
    OVERLAY_PARAMS params{};
    params.parent = window;
    params.x = 0;
    params.y = 156;
    params.width = 330;
    params.height = 30;
    params.faceName = L"MS Sans Serif";
    params.fontHeight = 20;
    params.bold = true;
    params.textColor = params.hoverColor = params.backgroundColor = RGB(0, 0, 0);
    params.onClick = NoClick;
    params.text = L"Version: v1.2";
    overlay.Create(params);

    if (seconds > 0) SetTimer(window, 1, static_cast<UINT>(seconds) * 1000, nullptr);
    busy.StartAnimation();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    busy.StopAnimation();
    overlay.Destroy();
    DestroyWindow(window);
    DeleteObject(g_font);
    return 0;
}
