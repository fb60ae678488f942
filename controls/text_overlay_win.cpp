#include "controls/text_overlay_win.h"

#include <cwchar>
#include <new>

namespace {
constexpr wchar_t kObjectProperty[] = L"CLASSPOINTER";
} // namespace

CTextOverlay::~CTextOverlay() {
    Destroy();
}

bool CTextOverlay::Create(const OVERLAY_PARAMS &params) {
    if (!IsWindow(params.parent) || params.width <= 0 || params.height <= 0 ||
        params.faceName == nullptr)
        return false;
    Destroy(); // a second Create must not strand the first window's font and brush

    m_window = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, params.x, params.y,
                               params.width, params.height, params.parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(params.id)),
                               GetModuleHandleW(nullptr), nullptr);
    if (m_window == nullptr) return false;
    if (!SetPropW(m_window, kObjectProperty, this)) return false;
    // The static class's drawing must never run: its procedure is not kept.
    SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OverlayWndProc));

    m_font = CreateFontW(params.fontHeight, 0, 0, 0, params.bold ? FW_BOLD : FW_NORMAL, FALSE,
                         params.underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, params.faceName);
    if (m_font == nullptr) return false;

    m_opaque = params.opaque;
    if (m_opaque) m_backgroundBrush = CreateSolidBrush(params.backgroundColor);
    m_ownCursor = params.ownCursor;
    if (m_ownCursor) m_cursor = params.cursor;
    m_textColor = params.textColor;
    m_hoverColor = params.hoverColor;
    m_backgroundColor = params.backgroundColor;
    m_onClick = params.onClick;

    const size_t length = params.text != nullptr ? std::wcslen(params.text) : 0;
    m_text.reset(new (std::nothrow) wchar_t[length + 1]());
    if (!m_text) return false;
    if (length != 0) std::wmemcpy(m_text.get(), params.text, length);

    m_hover.Reset();
    return true;
}

void CTextOverlay::Destroy() {
    if (m_window != nullptr) {
        RemovePropW(m_window, kObjectProperty);
        DestroyWindow(m_window);
        m_window = nullptr;
    }
    // The window is gone first, so no paint can still have the font selected.
    if (m_font != nullptr) DeleteObject(m_font);
    m_font = nullptr;
    if (m_backgroundBrush != nullptr) DeleteObject(m_backgroundBrush);
    m_backgroundBrush = nullptr;
    m_text.reset();
}

void CTextOverlay::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_window, &ps);
    if (dc == nullptr) return;
    RECT client;
    GetClientRect(m_window, &client);
    if (m_opaque) {
        FillRect(dc, &client, m_backgroundBrush);
        SetBkColor(dc, m_backgroundColor);
    } else {
        SetBkMode(dc, TRANSPARENT);
    }
    HGDIOBJ previousFont = SelectObject(dc, m_font);
    ::SetTextColor(dc, m_hover.Hover() ? m_hoverColor : m_textColor);
    // Not single-line: every line is centred, starting at the top.
    if (m_text) DrawTextExW(dc, m_text.get(), -1, &client, DT_CENTER | DT_VCENTER, nullptr);
    SelectObject(dc, previousFont);
    EndPaint(m_window, &ps);
}

void CTextOverlay::UpdateHover() {
    POINT cursor{};
    RECT bounds{};
    GetCursorPos(&cursor);
    GetWindowRect(m_window, &bounds);
    const OverlayHover::Outcome outcome = m_hover.Update(PtInRect(&bounds, cursor) != FALSE);
    // Holding the capture while inside is what brings the move that leaves.
    if (outcome.capture) {
        if (GetCapture() != m_window) SetCapture(m_window);
    } else if (GetCapture() == m_window) {
        ReleaseCapture();
    }
    if (outcome.repaint) {
        InvalidateRect(m_window, nullptr, TRUE);
        UpdateWindow(m_window);
    }
}

LRESULT CTextOverlay::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        break;
    case WM_SETCURSOR:
        // Without a cursor of our own, leave whichever cursor shows: no
        // default processing either.
        if (!m_ownCursor) return FALSE;
        SetCursor(m_cursor);
        return TRUE;
    case WM_MOUSEMOVE:
        UpdateHover();
        break;
    case WM_CAPTURECHANGED:
        UpdateHover();
        break;
    case WM_LBUTTONDOWN:
        if (m_onClick != nullptr) m_onClick(0);
        break;
    case WM_NCDESTROY: {
        // The parent went first: forget the window so that Destroy cannot
        // reach a later window that got the same handle.
        HWND window = m_window;
        RemovePropW(window, kObjectProperty);
        m_window = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

LRESULT CALLBACK CTextOverlay::OverlayWndProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto *self = static_cast<CTextOverlay *>(GetPropW(window, kObjectProperty));
    if (self == nullptr || self->m_window != window)
        return DefWindowProcW(window, message, wParam, lParam);
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
