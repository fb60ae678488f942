#include "controls/hyperlink_logic.h"

void HyperlinkHitState::SetExtent(int32_t width, int32_t height) {
    m_width = width;
    m_height = height;
    m_extentValid = true;
}

bool HyperlinkHitState::HitTest(int32_t x, int32_t y) const {
    if (!m_extentValid) return false;
    return x >= 0 && x < m_width && y >= 0 && y < m_height;
}

HyperlinkHitState::MoveAction HyperlinkHitState::OnMouseMove(int32_t x, int32_t y) {
    if (!m_tracking) {
        m_tracking = true;
        return MoveAction::StartTracking;
    }
    return HitTest(x, y) ? MoveAction::ShowLinkCursor : MoveAction::ShowArrowCursor;
}
