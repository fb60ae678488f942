#include "controls/hyperlink_win.h"

#include "controls/accessible_name_win.h"
#include "controls/dpi_win.h"
#include "controls/high_contrast_win.h"
#include "res/resource.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

namespace {
constexpr COLORREF kLinkColor = RGB(0, 0, 255);

POINT PointFrom(LPARAM lParam) {
    return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}
} // namespace

CHyperLink::CHyperLink() {
    m_linkCursor = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_HAND_CURSOR));
    // A module without the program's cursor (a test, a tool) still gets a hand.
    if (m_linkCursor == nullptr) m_linkCursor = LoadCursorW(nullptr, IDC_HAND);
    m_arrowCursor = LoadCursorW(nullptr, IDC_ARROW);
}

CHyperLink::~CHyperLink() {
    Detach();
    ReleaseUnderlineFont();
}

void CHyperLink::ReleaseUnderlineFont() {
    if (m_underlineFont != nullptr) DeleteObject(m_underlineFont);
    m_underlineFont = nullptr;
}

void CHyperLink::OnAttached() {
    HWND window = Handle();
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, style | SS_NOTIFY | WS_TABSTOP);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    SetText(text);
}

void CHyperLink::SetText(const std::wstring &text) {
    m_text = text;
    m_hit.InvalidateExtent();
    // The static control keeps the text for whoever reads windows' texts; it
    // paints nothing of it. A screen reader hears it as a link's name.
    if (Handle() == nullptr) return;
    DefaultProc(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_text.c_str()));
    SetAccessibleName(Handle(), m_text, acc_role::kLink);
}

void CHyperLink::SetURL(const std::wstring &target) {
    m_target = target;
}

bool CHyperLink::HitTest(POINT point) {
    MeasureIfNeeded();
    return m_hit.HitTest(point.x, point.y);
}

void CHyperLink::MakeUnderlineFont() {
    HWND parent = GetParent(Handle());
    HFONT parentFont = parent != nullptr
                           ? reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0))
                           : nullptr;
    if (parentFont == nullptr) return; // tried again at the next paint
    LOGFONTW font{};
    if (GetObjectW(parentFont, sizeof(font), &font) == 0) return;
    font.lfUnderline = TRUE;
    m_underlineFont = CreateFontIndirectW(&font);
}

void CHyperLink::MeasureIfNeeded() {
    if (!m_hit.NeedsMeasure() || m_underlineFont == nullptr || Handle() == nullptr) return;
    HDC dc = GetDC(Handle());
    if (dc == nullptr) return;
    HGDIOBJ previous = SelectObject(dc, m_underlineFont);
    SIZE extent{};
    if (GetTextExtentPoint32W(dc, m_text.c_str(), static_cast<int>(m_text.size()), &extent))
        m_hit.SetExtent(extent.cx, extent.cy);
    SelectObject(dc, previous);
    ReleaseDC(Handle(), dc);
}

void CHyperLink::OnPaint() {
    if (m_underlineFont == nullptr) MakeUnderlineFont();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    if (dc == nullptr) return;
    HGDIOBJ previous = m_underlineFont != nullptr ? SelectObject(dc, m_underlineFont) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    // A high-contrast scheme has its own colour for links: hot-track.
    ::SetTextColor(dc, HighContrastOn() ? GetSysColor(COLOR_HOTLIGHT) : kLinkColor);
    TextOutW(dc, 0, 0, m_text.c_str(), static_cast<int>(m_text.size()));
    // The focus rectangle goes round the text, unless the window hides focus
    // until the keyboard is used.
    const LRESULT uiState = DefaultProc(WM_QUERYUISTATE, 0, 0);
    if (GetFocus() == Handle() && (uiState & UISF_HIDEFOCUS) == 0) {
        SIZE extent{};
        GetTextExtentPoint32W(dc, m_text.c_str(), static_cast<int>(m_text.size()), &extent);
        RECT client{};
        GetClientRect(Handle(), &client);
        RECT around{0, 0, extent.cx + 1, extent.cy};
        IntersectRect(&around, &around, &client);
        DrawFocusRect(dc, &around);
    }
    if (previous != nullptr) SelectObject(dc, previous);
    EndPaint(Handle(), &ps);
}

void CHyperLink::OnMouseMove(POINT point) {
    // The first move only asks to hear when the pointer leaves; the cursor
    // follows from the next one on.
    if (m_hit.Tracking()) MeasureIfNeeded();
    switch (m_hit.OnMouseMove(point.x, point.y)) {
    case HyperlinkHitState::MoveAction::StartTracking: {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = Handle();
        _TrackMouseEvent(&track);
        break;
    }
    case HyperlinkHitState::MoveAction::ShowLinkCursor:
        SetCursor(m_linkCursor);
        break;
    case HyperlinkHitState::MoveAction::ShowArrowCursor:
        SetCursor(m_arrowCursor);
        break;
    }
}

void CHyperLink::OnMouseLeave() {
    m_hit.OnMouseLeave();
    SetCursor(m_arrowCursor);
}

void CHyperLink::OnLButtonDown(POINT point) {
    if (HitTest(point)) OpenTarget();
}

// Enter and Space open the link as a click on its text does; a held key
// opens it once.
bool CHyperLink::OnKeyDown(WPARAM key, LPARAM flags) {
    constexpr LPARAM kKeyWasDown = 1 << 30;
    if (key != VK_RETURN && key != VK_SPACE) return false;
    if ((flags & kKeyWasDown) == 0 && !m_text.empty()) OpenTarget();
    return true;
}

// The dialog manager would take Enter for the default button: the link
// asks for it while it has the focus, and for the characters, so that Space
// is not a mnemonic search.
LRESULT CHyperLink::OnGetDlgCode(const MSG *message) {
    LRESULT code = DLGC_WANTCHARS;
    if (message != nullptr && message->message == WM_KEYDOWN && message->wParam == VK_RETURN)
        code |= DLGC_WANTMESSAGE;
    return code;
}

void CHyperLink::OpenTarget() {
    ShellExecuteW(nullptr, L"open", m_target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CHyperLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_MOUSEMOVE:
        OnMouseMove(PointFrom(lParam));
        break;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return 0;
    case WM_LBUTTONDOWN:
        OnLButtonDown(PointFrom(lParam));
        break;
    case WM_KEYDOWN:
        if (OnKeyDown(wParam, lParam)) return 0;
        break;
    case WM_GETDLGCODE:
        return OnGetDlgCode(reinterpret_cast<const MSG *>(lParam));
    case WM_DPICHANGED_AFTERPARENT:
        // The parent's font has changed with the scale: underline it anew.
        ReleaseUnderlineFont();
        m_hit.InvalidateExtent();
        InvalidateRect(Handle(), nullptr, TRUE);
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
        InvalidateRect(Handle(), nullptr, TRUE);
        break;
    case WM_DESTROY: {
        const LRESULT result = DefaultProc(message, wParam, lParam);
        ReleaseUnderlineFont();
        return result;
    }
    default:
        break;
    }
    return DefaultProc(message, wParam, lParam);
}
