#include "controls/hyperlink_win.h"

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
    SetWindowLongPtrW(window, GWL_STYLE, style | SS_NOTIFY);
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
    ::SetTextColor(dc, kLinkColor);
    TextOutW(dc, 0, 0, m_text.c_str(), static_cast<int>(m_text.size()));
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
