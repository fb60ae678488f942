// A static-text control that picks its own text and background colours each
// time it paints. The text stays the window's own (SetWindowTextW). The
// parent must reflect WM_CTLCOLORSTATIC to it, see ReflectControlColor.
#pragma once

#include "controls/color_label_logic.h"
#include "controls/subclassed_window_win.h"

class CColorLabel : public CSubclassedWindow {
  public:
    CColorLabel();
    ~CColorLabel() override;

    // 0xFFFFFFFF (CLR_INVALID) stands for the system's button text colour.
    void SetTextColor(COLORREF color);

    // Blinking: the text and/or background alternate between two colours on
    // a timer; when a notification window is given, it is posted `message`
    // (wParam = this control's id) once per on-phase.
    void SetTextBlinkColors(bool blink, COLORREF phase0, COLORREF phase1);
    void SetBackgroundBlinkColors(bool blink, COLORREF phase0, COLORREF phase1);
    void SetBlinkNotification(HWND window, UINT message);
    // Needs the window; false without it. A period of 0 stops blinking.
    bool SetBlinkPeriod(UINT periodMs);

    // Answers the reflected colour notification: sets the text and background
    // colours on the device context and gives the brush to paint with.
    HBRUSH CtlColor(HDC dc);

  protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void OnBlinkTimer();
    void OnDestroy();
    void DeleteBrushes();

    static constexpr UINT_PTR kBlinkTimerId = 1;

    UINT_PTR m_blinkTimer = 0; // 0: no timer set
    ColorLabelColors m_colors;
    HBRUSH m_backgroundBrush = nullptr;
    HBRUSH m_blinkBrushes[2] = {nullptr, nullptr};
    HWND m_notifyWindow = nullptr;
    UINT m_notifyMessage = WM_USER;
};

// For a parent's window or dialog procedure: reflects a WM_CTLCOLOR*
// notification to the control that sent it (lParam) so that the control
// chooses its colours. True when the control answered; *result then holds
// the brush, which a dialog procedure returns as it stands. False leaves the
// message to the parent's usual handling.
bool ReflectControlColor(HWND parent, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);
