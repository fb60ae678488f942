#include "controls/overlay_hover.h"

OverlayHover::Outcome OverlayHover::Update(bool pointerInside) {
    Outcome out;
    const int now = pointerInside ? kInside : kOutside;
    out.capture = pointerInside;
    out.repaint = m_state != now;
    m_hover = pointerInside;
    m_state = now;
    return out;
}
