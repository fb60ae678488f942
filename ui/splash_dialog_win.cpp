#include "ui/splash_dialog_win.h"

#include <cwchar>

#include "base/process_state.h"
#include "res/resource.h"

namespace {
constexpr UINT_PTR kCloseTimer = 0;
constexpr int kPictureWidth = 353;
constexpr int kPictureHeight = 238;

void IgnoreClick(int) {}
} // namespace

CSplashDlg::CSplashDlg(HWND owner) : CDialog(IDD_SPLASH, owner) {}

CSplashDlg::~CSplashDlg() {
    m_overlay.Destroy();
}

BOOL CSplashDlg::OnInitDialog() {
    if (!m_picture.LoadFromFile(L"Startup.BMP"))
        ShowWindow(GetDlgItem(IDC_SPLASH_PICTURE), SW_SHOWNORMAL);

    wchar_t versionLine[100];
    swprintf(versionLine, 100, L"Version: %ls", kVersionText);
    OVERLAY_PARAMS overlay{};
    overlay.parent = m_hwnd;
    overlay.id = 0;
    overlay.x = 0;
    overlay.y = 190;
    overlay.width = 353;
    overlay.height = 30;
    overlay.faceName = L"MS Sans Serif";
    overlay.fontHeight = 20;
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

    SetWindowPos(m_hwnd, HWND_TOP, 0, 0, kPictureWidth, kPictureHeight, SWP_NOMOVE);
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
    BlitPicture(dc, m_picture.Handle(), 0, 0, kPictureWidth, kPictureHeight);
    EndPaint(m_hwnd, &paint);
    return true;
}

void CSplashDlg::OnDestroy() {
    KillTimer(m_hwnd, kCloseTimer);
    m_picture.Release();
}
