#include "controls/color_label_logic.h"

ColorLabelColors::ColorLabelColors(ColorValue buttonText, ColorValue buttonFace)
    : m_text(buttonText), m_blinkText{buttonText, buttonText},
      m_background(buttonFace), m_blinkBackground{buttonFace, buttonFace} {}

void ColorLabelColors::SetTextColor(ColorValue color, ColorValue systemButtonText) {
    m_text = color == 0xFFFFFFFFu ? systemButtonText : color;
}

void ColorLabelColors::SetTextBlink(bool on, ColorValue phase0, ColorValue phase1) {
    m_textBlinks = on;
    m_blinkText[0] = phase0;
    m_blinkText[1] = phase1;
}

void ColorLabelColors::SetBackgroundBlink(bool on, ColorValue phase0, ColorValue phase1) {
    m_backgroundBlinks = on;
    m_blinkBackground[0] = phase0;
    m_blinkBackground[1] = phase1;
}

ColorLabelColors::Choice ColorLabelColors::Choose() const {
    Choice c{};
    c.text = m_textBlinks ? m_blinkText[m_textPhase] : m_text;
    if (m_backgroundBlinks) {
        c.background = m_blinkBackground[m_backgroundPhase];
        c.brush = m_backgroundPhase == 0 ? Brush::Blink0 : Brush::Blink1;
    } else {
        c.background = m_background;
        c.brush = Brush::Plain;
    }
    return c;
}

ColorLabelColors::TimerOutcome ColorLabelColors::OnBlinkTick() {
    TimerOutcome out;
    if (m_textBlinks) m_textPhase ^= 1;
    if (m_backgroundBlinks) m_backgroundPhase ^= 1;
    if (!m_textBlinks && !m_backgroundBlinks) return out;
    out.repaint = true;
    out.notify = m_textPhase == 1 || m_backgroundPhase == 1;
    return out;
}
