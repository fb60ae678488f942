// The colour label's choice of colours each time it paints, and its blink
// phases. Colours are COLORREF values (0x00BBGGRR).
#pragma once

#include <cstdint>

using ColorValue = uint32_t;

class ColorLabelColors {
  public:
    // Which of the label's three brushes goes with the background.
    enum class Brush { Plain, Blink0, Blink1 };

    struct Choice {
        ColorValue text;
        ColorValue background;
        Brush brush;
    };

    struct TimerOutcome {
        bool repaint = false;
        bool notify = false; // a phase has just turned to 1
    };

    // Starts with the system's button text and button face colours.
    ColorLabelColors(ColorValue buttonText, ColorValue buttonFace);

    // 0xFFFFFFFF means "the system button text colour", read by the caller now.
    void SetTextColor(ColorValue color, ColorValue systemButtonText);
    ColorValue TextColor() const { return m_text; }
    ColorValue BackgroundColor() const { return m_background; }

    void SetTextBlink(bool on, ColorValue phase0, ColorValue phase1);
    void SetBackgroundBlink(bool on, ColorValue phase0, ColorValue phase1);
    ColorValue BlinkBackground(int phase) const { return m_blinkBackground[phase & 1]; }

    Choice Choose() const;
    // One blink timer tick: flips the phase of whatever blinks.
    TimerOutcome OnBlinkTick();

  private:
    ColorValue m_text;
    ColorValue m_blinkText[2];
    bool m_textBlinks = false;
    int m_textPhase = 0;
    ColorValue m_background;
    ColorValue m_blinkBackground[2];
    bool m_backgroundBlinks = false;
    int m_backgroundPhase = 0;
};
