#include "controls/color_label_win.h"

#include "controls/high_contrast_win.h"

#include <initializer_list>

CColorLabel::CColorLabel() : m_colors(GetSysColor(COLOR_BTNTEXT), GetSysColor(COLOR_BTNFACE)) {
    m_backgroundBrush = CreateSolidBrush(m_colors.BackgroundColor());
    m_blinkBrushes[0] = CreateSolidBrush(m_colors.BlinkBackground(0));
    m_blinkBrushes[1] = CreateSolidBrush(m_colors.BlinkBackground(1));
}

CColorLabel::~CColorLabel() {
    if (m_blinkTimer != 0 && Handle() != nullptr) KillTimer(Handle(), m_blinkTimer);
    Detach();
    DeleteBrushes();
}

void CColorLabel::DeleteBrushes() {
    for (HBRUSH *brush : {&m_backgroundBrush, &m_blinkBrushes[0], &m_blinkBrushes[1]}) {
        if (*brush != nullptr) DeleteObject(*brush);
        *brush = nullptr;
    }
}

void CColorLabel::SetTextColor(COLORREF color) {
    m_colors.SetTextColor(color, GetSysColor(COLOR_BTNTEXT));
    if (Handle() != nullptr) InvalidateRect(Handle(), nullptr, TRUE);
}

void CColorLabel::SetTextBlinkColors(bool blink, COLORREF phase0, COLORREF phase1) {
    m_colors.SetTextBlink(blink, phase0, phase1);
}

void CColorLabel::SetBackgroundBlinkColors(bool blink, COLORREF phase0, COLORREF phase1) {
    m_colors.SetBackgroundBlink(blink, phase0, phase1);
    for (int phase = 0; phase < 2; ++phase) {
        if (m_blinkBrushes[phase] != nullptr) DeleteObject(m_blinkBrushes[phase]);
        m_blinkBrushes[phase] = CreateSolidBrush(m_colors.BlinkBackground(phase));
    }
}

void CColorLabel::SetBlinkNotification(HWND window, UINT message) {
    m_notifyWindow = window;
    m_notifyMessage = message;
}

bool CColorLabel::SetBlinkPeriod(UINT periodMs) {
    if (Handle() == nullptr) return false;
    if (periodMs == 0) {
        if (m_blinkTimer != 0) KillTimer(Handle(), m_blinkTimer);
        m_blinkTimer = 0;
        return true;
    }
    m_blinkTimer = SetTimer(Handle(), kBlinkTimerId, periodMs, nullptr);
    return m_blinkTimer != 0;
}

HBRUSH CColorLabel::CtlColor(HDC dc) {
    if (HighContrastOn()) {
        // The scheme's text on the dialog's own background, blinking or not.
        ::SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return GetSysColorBrush(COLOR_BTNFACE);
    }
    const ColorLabelColors::Choice choice = m_colors.Choose();
    ::SetTextColor(dc, choice.text);
    SetBkColor(dc, choice.background);
    switch (choice.brush) {
    case ColorLabelColors::Brush::Blink0:
        return m_blinkBrushes[0];
    case ColorLabelColors::Brush::Blink1:
        return m_blinkBrushes[1];
    case ColorLabelColors::Brush::Plain:
        break;
    }
    return m_backgroundBrush;
}

void CColorLabel::OnBlinkTimer() {
    const ColorLabelColors::TimerOutcome outcome = m_colors.OnBlinkTick();
    if (!outcome.repaint) return;
    InvalidateRect(Handle(), nullptr, TRUE);
    if (outcome.notify && m_notifyWindow != nullptr)
        PostMessageW(m_notifyWindow, m_notifyMessage, static_cast<WPARAM>(GetDlgCtrlID(Handle())),
                     0);
}

void CColorLabel::OnDestroy() {
    if (m_blinkTimer != 0) KillTimer(Handle(), m_blinkTimer);
    m_blinkTimer = 0;
    DeleteBrushes();
}

LRESULT CColorLabel::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kReflectedMessageBase + WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(CtlColor(reinterpret_cast<HDC>(wParam)));
    case WM_TIMER:
        // Only our own timer blinks; any other goes its usual way.
        if (m_blinkTimer == 0 || wParam != m_blinkTimer) break;
        OnBlinkTimer();
        return 0;
    case WM_DESTROY: {
        const LRESULT result = DefaultProc(message, wParam, lParam);
        OnDestroy();
        return result;
    }
    default:
        break;
    }
    return DefaultProc(message, wParam, lParam);
}

bool ReflectControlColor(HWND parent, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
    if (message < WM_CTLCOLORMSGBOX || message > WM_CTLCOLORSTATIC) return false;
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control == nullptr || GetParent(control) != parent) return false;
    const LRESULT answer = SendMessageW(control, kReflectedMessageBase + message, wParam, lParam);
    if (answer == 0) return false;
    if (result != nullptr) *result = answer;
    return true;
}
