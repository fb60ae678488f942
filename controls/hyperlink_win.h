// A static-text control that draws its text underlined in blue, shows a
// pointing hand over the text and opens its target with the shell when the
// text is clicked, or when Enter or Space is pressed while it has the focus
// (it is a tab stop and draws a focus rectangle). It paints itself; the
// window text is read once, at attachment, and after that only SetText
// changes what it shows. SetText also makes the text the window text, which
// is the name a screen reader announces.
#pragma once

#include "controls/hyperlink_logic.h"
#include "controls/subclassed_window_win.h"

#include <string>

class CHyperLink : public CSubclassedWindow {
  public:
    CHyperLink();
    ~CHyperLink() override;

    // Attach (inherited) turns on SS_NOTIFY, without which a static control
    // gets no mouse input, and WS_TABSTOP, and takes the window text.
    // Shown at the next paint, which this does not request.
    void SetText(const std::wstring &text);
    void SetURL(const std::wstring &target);

    const std::wstring &Text() const { return m_text; }
    const std::wstring &URL() const { return m_target; }
    // Client-coordinate hit test of the drawn text (false until measured).
    bool HitTest(POINT point);

  protected:
    void OnAttached() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Opens the target; a failure of the shell is not reported.
    virtual void OpenTarget();

  private:
    void MakeUnderlineFont();
    void MeasureIfNeeded();
    void OnPaint();
    void OnMouseMove(POINT point);
    void OnMouseLeave();
    void OnLButtonDown(POINT point);
    bool OnKeyDown(WPARAM key, LPARAM flags);
    LRESULT OnGetDlgCode(const MSG *message);
    void ReleaseUnderlineFont();

    std::wstring m_text;
    std::wstring m_target;
    HFONT m_underlineFont = nullptr; // the parent's font, underlined; made at the first paint
    HyperlinkHitState m_hit;
    HCURSOR m_linkCursor = nullptr; // shared cursors: never destroyed
    HCURSOR m_arrowCursor = nullptr;
};
