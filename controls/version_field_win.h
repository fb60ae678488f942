// A boxed static that shows a version: right-aligned inside a margin, in the
// control's own font; a text longer than the field ends in an ellipsis and
// shows whole in a tooltip. The window text stays whole, so whoever reads
// it (a screen reader, a test robot) gets the version as the device gave it.
#pragma once

#include <string>

#include "controls/subclassed_window_win.h"

class CVersionField : public CSubclassedWindow {
  public:
    CVersionField() = default;
    ~CVersionField() override;

    // The space kept free between the field's edge and its text, in pixels
    // at the scale of the monitor the field is on.
    static int Margin(UINT dpi);
    // Whether the text fits the field whole at its current size and font.
    bool TextFits() const;
    // The tooltip's text: the whole version while it does not fit, else
    // empty (no tip).
    std::wstring TipText() const;

  protected:
    void OnAttached() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    std::wstring Text() const;
    void OnPaint();
    void UpdateTip();
    void DestroyTip();

    HWND m_tip = nullptr; // made when a text first does not fit
    std::wstring m_tipText;
};
