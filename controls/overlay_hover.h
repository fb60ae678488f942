// The text overlay's pointer tracking: whether the pointer is over the
// window, whether to hold the mouse capture, and when to repaint. It repaints
// only when the pointer crosses the edge, and at the first look after
// creation, when the state is not yet known.
#pragma once

class OverlayHover {
  public:
    struct Outcome {
        bool capture = false; // hold the capture (inside) or release it (outside)
        bool repaint = false;
    };

    // After creation: neither inside nor outside yet.
    void Reset() {
        m_state = kUndetermined;
        m_hover = false;
    }
    Outcome Update(bool pointerInside);

    bool Hover() const { return m_hover; }
    // -1 undetermined, 0 inside, 1 outside.
    int State() const { return m_state; }

  private:
    static constexpr int kUndetermined = -1;
    static constexpr int kInside = 0;
    static constexpr int kOutside = 1;

    int m_state = kInside; // until creation makes it undetermined
    bool m_hover = false;
};
