#include "ui/about_dialog_win.h"

#include <utility>

#include "base/process_state.h"
#include "controls/dpi_win.h"
#include "res/resource.h"

namespace {
// The same block as the splash, at 96 dpi: a larger picture is cut.
constexpr int kBlockWidth = 353;
constexpr int kBlockHeight = 238;
} // namespace

CAboutDlg::CAboutDlg(HWND owner, std::wstring appTitle, std::wstring aboutTitle,
                     std::wstring versionLabel)
    : CDialog(IDD_ABOUTBOX, owner), m_appTitle(std::move(appTitle)),
      m_aboutTitle(std::move(aboutTitle)), m_versionLabel(std::move(versionLabel)) {}

BOOL CAboutDlg::OnInitDialog() {
    SetWindowTextW(m_hwnd, (m_aboutTitle + m_appTitle).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ABOUT_TITLE, m_appTitle.c_str());
    SetDlgItemTextW(m_hwnd, IDC_ABOUT_VERSION, (m_versionLabel + kVersionText).c_str());
    if (!m_picture.LoadFromFile(L"AboutTitle.BMP"))
        m_standIn.Show(GetDlgItem(IDC_ABOUT_PICTURE), IDB_ABOUTTITLE, DpiForWindow(m_hwnd));
    // The box keeps its template's size, which follows the dialog font and
    // with it the monitor's scale.
    return TRUE;
}

bool CAboutDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hwnd, &paint);
    BlitPicture(dc, m_picture.Handle(), 0, 0, kBlockWidth, kBlockHeight, DpiForWindow(m_hwnd));
    EndPaint(m_hwnd, &paint);
    return true;
}

bool CAboutDlg::OnMessage(UINT message, WPARAM /*wParam*/, LPARAM lParam, INT_PTR &result) {
    if (message != WM_DPICHANGED) return false;
    if (const auto *proposed = reinterpret_cast<const RECT *>(lParam))
        SetWindowPos(m_hwnd, nullptr, proposed->left, proposed->top,
                     proposed->right - proposed->left, proposed->bottom - proposed->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    HWND standIn = GetDlgItem(IDC_ABOUT_PICTURE);
    if (IsWindowVisible(standIn)) m_standIn.Show(standIn, IDB_ABOUTTITLE, DpiForWindow(m_hwnd));
    InvalidateRect(m_hwnd, nullptr, TRUE);
    result = 0;
    return true;
}

// Each opening loads the file anew; the picture goes with the box.
void CAboutDlg::OnDestroy() {
    m_picture.Release();
    m_standIn.Release();
}
