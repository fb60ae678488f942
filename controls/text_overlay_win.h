// A child window that draws one text in its own font and colours over a
// transparent or solid background, changes colour while the pointer is over
// it, may show its own cursor and reports a left click. A plain object, not
// a control class: Create makes the window and takes over its procedure.
#pragma once

#include "controls/overlay_hover.h"

#include <windows.h>

#include <memory>

struct OVERLAY_PARAMS {
    HWND parent; // must be a window
    int id;      // child window id
    int x;       // position in the parent's client area
    int y;
    int width; // both > 0
    int height;
    const wchar_t *faceName; // must be given
    int fontHeight;          // CreateFontW height
    bool bold;               // weight 700, else 400
    bool underline;
    COLORREF textColor;       // pointer outside
    COLORREF hoverColor;      // pointer inside
    COLORREF backgroundColor; // used when opaque
    bool opaque;              // solid background, else transparent
    bool ownCursor;           // show `cursor` over the window
    HCURSOR cursor;           // not owned
    void (*onClick)(int);     // called with 0 on a left click; may be null
    const wchar_t *text;      // must be given
};

class CTextOverlay {
  public:
    CTextOverlay() = default;
    ~CTextOverlay(); // releases what Destroy would
    CTextOverlay(const CTextOverlay &) = delete;
    CTextOverlay &operator=(const CTextOverlay &) = delete;

    // False, having made nothing, unless the parent is a window, the size is
    // positive and a face name is given. A later failure keeps what was made
    // until Destroy. Creating again first releases the earlier window.
    bool Create(const OVERLAY_PARAMS &params);
    // Releases the font, brush, text and window; a second call does nothing.
    void Destroy();

    HWND Window() const { return m_window; }
    HFONT Font() const { return m_font; }
    HBRUSH BackgroundBrush() const { return m_backgroundBrush; }
    bool Hover() const { return m_hover.Hover(); }
    int PointerState() const { return m_hover.State(); }

    static LRESULT CALLBACK OverlayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnPaint();
    void UpdateHover();

    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    HBRUSH m_backgroundBrush = nullptr;
    HCURSOR m_cursor = nullptr;
    COLORREF m_textColor = 0;
    COLORREF m_hoverColor = 0;
    COLORREF m_backgroundColor = 0;
    void (*m_onClick)(int) = nullptr;
    bool m_opaque = false;
    bool m_ownCursor = false;
    std::unique_ptr<wchar_t[]> m_text;
    OverlayHover m_hover;
};
