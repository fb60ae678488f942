// What the hyperlink label decides without the window: whether a point hits
// the text, and what a mouse move does (start tracking, or pick a cursor).
#pragma once

#include <cstdint>

class HyperlinkHitState {
  public:
    enum class MoveAction {
        StartTracking, // first move since tracking ended: ask for a leave notice only
        ShowLinkCursor,
        ShowArrowCursor,
    };

    // A new text has not been measured yet: nothing is a hit until it is.
    void InvalidateExtent() { m_extentValid = false; }
    bool NeedsMeasure() const { return !m_extentValid; }
    void SetExtent(int32_t width, int32_t height);

    // True exactly when 0 <= x < width and 0 <= y < height of a measured text.
    bool HitTest(int32_t x, int32_t y) const;

    MoveAction OnMouseMove(int32_t x, int32_t y);
    // The leave notice has come: the next move asks for a new one.
    void OnMouseLeave() { m_tracking = false; }
    bool Tracking() const { return m_tracking; }

  private:
    int32_t m_width = 0;
    int32_t m_height = 0;
    bool m_tracking = false;
    bool m_extentValid = false;
};
