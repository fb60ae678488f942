#include "controls/version_field_win.h"

#include <commctrl.h>

#include "controls/dpi_scale.h"
#include "controls/dpi_win.h"

namespace {
// Two pixels at 96 dpi keep the last digit off the sunken edge and hold
// the part of a glyph that reaches past its advance ("3", "0").
constexpr int kMarginAt96Dpi = 2;
constexpr UINT_PTR kTipToolId = 1;
// Not clipped to the text's rectangle: the overhang goes into the margin,
// where clipping would cut the last digit's right side.
constexpr UINT kTextFormat = DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP;

HFONT FontOf(HWND window) {
    return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}
} // namespace

CVersionField::~CVersionField() {
    DestroyTip();
}

int CVersionField::Margin(UINT dpi) {
    return ScaleForDpi(kMarginAt96Dpi, dpi);
}

void CVersionField::OnAttached() {
    // Mouse messages reach the field (and with them its tooltip) only when
    // it notifies.
    const LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE);
    SetWindowLongPtrW(Handle(), GWL_STYLE, style | SS_NOTIFY);
    InvalidateRect(Handle(), nullptr, TRUE);
}

std::wstring CVersionField::Text() const {
    const int length = GetWindowTextLengthW(Handle());
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(Handle(), &text[0], length + 1)));
    return text;
}

bool CVersionField::TextFits() const {
    const std::wstring text = Text();
    if (text.empty()) return true;
    RECT client{};
    GetClientRect(Handle(), &client);
    HDC dc = GetDC(Handle());
    HGDIOBJ previous = SelectObject(dc, FontOf(Handle()));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(Handle(), dc);
    return extent.cx <= client.right - 2 * Margin(DpiForWindow(Handle()));
}

std::wstring CVersionField::TipText() const {
    return m_tipText;
}

LRESULT CVersionField::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETTEXT: {
        // The window keeps the text; the static's own handler would also
        // draw it at once, its way, over this field's drawing.
        const LRESULT result = DefWindowProcW(Handle(), message, wParam, lParam);
        InvalidateRect(Handle(), nullptr, TRUE);
        UpdateTip();
        return result;
    }
    case WM_SIZE:
    case WM_SETFONT: {
        const LRESULT result = DefaultProc(message, wParam, lParam);
        UpdateTip();
        return result;
    }
    case WM_ERASEBKGND:
        return 1; // the paint fills every pixel
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_NCDESTROY:
        DestroyTip();
        break;
    default:
        break;
    }
    return DefaultProc(message, wParam, lParam);
}

void CVersionField::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Handle(), &paint);
    if (dc == nullptr) return;
    RECT client{};
    GetClientRect(Handle(), &client);
    // The dialog chooses the colours, as for any static (high contrast too).
    HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(Handle()), WM_CTLCOLORSTATIC,
                                                         reinterpret_cast<WPARAM>(dc),
                                                         reinterpret_cast<LPARAM>(Handle())));
    FillRect(dc, &client, brush != nullptr ? brush : GetSysColorBrush(COLOR_BTNFACE));
    const std::wstring text = Text();
    HGDIOBJ previous = SelectObject(dc, FontOf(Handle()));
    SetBkMode(dc, TRANSPARENT);
    const int margin = Margin(DpiForWindow(Handle()));
    RECT inside{client.left + margin, client.top, client.right - margin, client.bottom};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inside,
              kTextFormat | DT_END_ELLIPSIS);
    SelectObject(dc, previous);
    EndPaint(Handle(), &paint);
}

// The tip carries the whole version only while the field cuts it.
void CVersionField::UpdateTip() {
    m_tipText = TextFits() ? std::wstring() : Text();
    if (m_tip == nullptr && m_tipText.empty()) return;
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = Handle();
    tool.uId = kTipToolId;
    GetClientRect(Handle(), &tool.rect);
    tool.lpszText = &m_tipText[0];
    if (m_tip == nullptr) {
        m_tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        if (m_tip == nullptr) return;
        tool.uFlags = TTF_SUBCLASS;
        SendMessageW(m_tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        return;
    }
    SendMessageW(m_tip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CVersionField::DestroyTip() {
    if (m_tip != nullptr && IsWindow(m_tip)) DestroyWindow(m_tip);
    m_tip = nullptr;
}
