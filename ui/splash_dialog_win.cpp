#include "ui/splash_dialog_win.h"

#include <cwchar>

#include "base/process_state.h"
#include "controls/dpi_win.h"
#include "res/resource.h"

namespace {
constexpr UINT_PTR kCloseTimer = 0;
// At 96 dpi; scaled to the monitor's.
constexpr int kPictureWidth = 353;
constexpr int kPictureHeight = 238;
constexpr int kVersionTop = 190;
constexpr int kVersionHeight = 30;
constexpr int kVersionFontHeight = 20;

void IgnoreClick(int) {}
} // namespace

CSplashDlg::CSplashDlg(HWND owner) : CDialog(IDD_SPLASH, owner) {}

CSplashDlg::~CSplashDlg() {
    m_overlay.Destroy();
}

BOOL CSplashDlg::OnInitDialog() {
    if (!m_picture.LoadFromFile(L"Startup.BMP"))
        m_standIn.Show(GetDlgItem(IDC_SPLASH_PICTURE), IDB_STARTUP, DpiForWindow(m_hwnd));

    wchar_t versionLine[100];
    swprintf(versionLine, 100, L"Version: %ls", kVersionText);
    const UINT dpi = DpiForWindow(m_hwnd);
    OVERLAY_PARAMS overlay{};
    overlay.parent = m_hwnd;
    overlay.id = 0;
    overlay.x = 0;
    overlay.y = ScaleForDpi(kVersionTop, dpi);
    overlay.width = ScaleForDpi(kPictureWidth, dpi);
    overlay.height = ScaleForDpi(kVersionHeight, dpi);
    // The shell's dialog face scales and has the system's fallback fonts.
    overlay.faceName = L"MS Shell Dlg";
    overlay.fontHeight = ScaleForDpi(kVersionFontHeight, dpi);
    overlay.bold = true;
    overlay.underline = false;
    overlay.textColor = RGB(0, 0, 0);
    overlay.hoverColor = RGB(0, 0, 0);
    overlay.backgroundColor = RGB(0, 0, 0);
    overlay.opaque = false;
    overlay.ownCursor = false;
    overlay.cursor = nullptr;
    overlay.onClick = IgnoreClick;
    overlay.text = versionLine;
    m_overlay.Create(overlay); // a splash without its version line still shows

    // The client area holds the whole picture; the border goes round it.
    RECT frame{0, 0, ScaleForDpi(kPictureWidth, dpi), ScaleForDpi(kPictureHeight, dpi)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(m_hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(m_hwnd, GWL_EXSTYLE)));
    SetWindowPos(m_hwnd, HWND_TOP, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE);
    SetTimer(m_hwnd, kCloseTimer, kShowMs, nullptr);
    return TRUE;
}

// Escape leaves the splash as it is: the timer closes it, and the picture
// that the paint draws stays until the window goes.
void CSplashDlg::OnCancel() {}

bool CSplashDlg::OnTimer(UINT_PTR timerId) {
    if (timerId != kCloseTimer) return false;
    KillTimer(m_hwnd, kCloseTimer);
    EndDialog(IDCANCEL);
    return true;
}

bool CSplashDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hwnd, &paint);
    BlitPicture(dc, m_picture.Handle(), 0, 0, kPictureWidth, kPictureHeight, DpiForWindow(m_hwnd));
    EndPaint(m_hwnd, &paint);
    return true;
}

void CSplashDlg::OnDestroy() {
    KillTimer(m_hwnd, kCloseTimer);
    m_picture.Release();
    m_standIn.Release();
}
