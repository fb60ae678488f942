#include "ui/about_dialog_win.h"

#include <utility>

#include "base/process_state.h"
#include "controls/dpi_win.h"
#include "res/resource.h"
#include "ui/about_layout.h"

namespace {
// The same block as the splash, at 96 dpi: a larger picture is cut.
constexpr int kBlockWidth = 353;
constexpr int kBlockHeight = 238;
// The margin Windows' dialogs keep between their edge and their controls.
constexpr int kDialogMarginDu = 7;
constexpr int kTextLines[] = {IDC_ABOUT_TITLE, IDC_ABOUT_VERSION, IDC_ABOUT_NOTICE};

AboutBoxRect RectOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT *>(&r), 2);
    return AboutBoxRect{r.left, r.top, r.right, r.bottom};
}

void Place(HWND control, const AboutBoxRect &r) {
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

int TextWidth(HWND control) {
    wchar_t text[512] = L"";
    const int length = GetWindowTextW(control, text, 512);
    HDC dc = GetDC(control);
    HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT extent{0, 0, 0, 0};
    DrawTextW(dc, text, length, &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return extent.right - extent.left;
}
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
    LayOut();
    return TRUE;
}

// The picture's width as drawn: a picture file's, cut to the block, or the
// built-in one's as its control shows it, both at the box's scale.
int CAboutDlg::ShownPictureWidth() const {
    const UINT dpi = DpiForWindow(m_hwnd);
    BITMAP facts{};
    if (m_picture) {
        if (GetObjectW(m_picture.Handle(), sizeof(facts), &facts) == 0) return 0;
        return ScaleForDpi(facts.bmWidth < kBlockWidth ? facts.bmWidth : kBlockWidth, dpi);
    }
    RECT shown{};
    GetClientRect(GetDlgItem(IDC_ABOUT_PICTURE), &shown);
    return shown.right;
}

// The template's units follow the dialog font, the picture the monitor's
// scale; the two never quite agree, so the box takes the picture's width.
void CAboutDlg::LayOut() {
    RECT margin{kDialogMarginDu, 0, 0, 0};
    MapDialogRect(m_hwnd, &margin);
    AboutBoxLayoutInput in;
    in.pictureWidth = ShownPictureWidth();
    in.margin = margin.left;
    in.separator = RectOf(GetDlgItem(IDC_ABOUT_SEPARATOR));
    in.ok = RectOf(GetDlgItem(IDOK));
    for (int id : kTextLines) {
        in.lines.push_back(RectOf(GetDlgItem(id)));
        in.textWidths.push_back(TextWidth(GetDlgItem(id)));
    }
    const AboutBoxLayout layout = LayOutAboutBox(in);

    RECT window{}, client{};
    GetWindowRect(m_hwnd, &window);
    GetClientRect(m_hwnd, &client);
    const int frame = (window.right - window.left) - client.right;
    SetWindowPos(m_hwnd, nullptr, 0, 0, layout.clientWidth + frame, window.bottom - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Place(GetDlgItem(IDC_ABOUT_SEPARATOR), layout.separator);
    Place(GetDlgItem(IDOK), layout.ok);
    for (size_t i = 0; i < layout.lines.size(); ++i)
        Place(GetDlgItem(kTextLines[i]), layout.lines[i]);
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
    LayOut();
    InvalidateRect(m_hwnd, nullptr, TRUE);
    result = 0;
    return true;
}

// Each opening loads the file anew; the picture goes with the box.
void CAboutDlg::OnDestroy() {
    m_picture.Release();
    m_standIn.Release();
}
