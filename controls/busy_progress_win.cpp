#include "controls/busy_progress_win.h"

namespace {

RECT ToRect(const BarRect &r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

BarRect FromRect(const RECT &r) {
    return BarRect{r.left, r.top, r.right, r.bottom};
}

void FillSolid(HDC dc, const RECT &rect, COLORREF color) {
    SetBkColor(dc, color);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

} // namespace

CBusyProgressCtrl::CBusyProgressCtrl(int blockCount, int position)
    : m_shared(std::make_shared<BusyBarShared>(blockCount, position)),
      m_background(GetSysColor(COLOR_BTNFACE)), m_animation(m_shared) {}

CBusyProgressCtrl::~CBusyProgressCtrl() {
    // The owner should have stopped it; if not, the thread must not outlive us.
    m_animation.Stop();
    ReleaseOffscreen();
    Detach();
}

bool CBusyProgressCtrl::Create(DWORD style, const RECT &rect, HWND parent, UINT id) {
    HWND window = CreateWindowExW(0, L"STATIC", L"BusyProgressCtrl", style, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, parent,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                  GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) return false;
    if (!Attach(window)) {
        DestroyWindow(window);
        return false;
    }
    return true;
}

void CBusyProgressCtrl::OnAttached() {
    RecalcLayout();
}

void CBusyProgressCtrl::RecalcLayout() {
    if (m_layout.IsEmpty() && Handle() != nullptr) {
        RECT client{};
        GetClientRect(Handle(), &client);
        m_layout = FromRect(client);
    }
    m_geometry = ComputeBusyBarGeometry(m_layout, m_shared->blockCount.load(), m_gap);
}

void CBusyProgressCtrl::Invalidate() {
    if (Handle() != nullptr) InvalidateRect(Handle(), nullptr, TRUE);
}

void CBusyProgressCtrl::SetBlockCount(int count) {
    m_shared->blockCount = count;
    RecalcLayout();
    Invalidate();
}

void CBusyProgressCtrl::SetPos(int position) {
    m_shared->position = position;
    Invalidate();
}

void CBusyProgressCtrl::SetBlockGap(int gap) {
    m_gap = gap;
    RecalcLayout();
    Invalidate();
}

UINT CBusyProgressCtrl::SetPeriod(UINT periodMs) {
    m_shared->periodMs = periodMs;
    return periodMs;
}

int CBusyProgressCtrl::SetProgressRange(int base, int total) {
    m_progressBase = base;
    m_progressTotal = total;
    return base;
}

int CBusyProgressCtrl::SetMode(int mode) {
    StopAnimation();
    if (mode == BPMODE_BUSY || mode == BPMODE_PROGRESS) m_shared->mode = mode;
    return m_shared->mode.load();
}

void CBusyProgressCtrl::StartAnimation() {
    // The thread may only mark the window for repainting; it holds the
    // handle, never this object.
    HWND window = Handle();
    m_animation.Start([window] {
        if (window != nullptr) InvalidateRect(window, nullptr, TRUE);
    });
}

void CBusyProgressCtrl::StopAnimation() {
    m_animation.Stop();
}

void CBusyProgressCtrl::StepIt() {
    BusyAnimationStep(*m_shared);
    Invalidate();
}

void CBusyProgressCtrl::ReleaseOffscreen() {
    if (m_offscreenDC == nullptr) return;
    SelectObject(m_offscreenDC, m_previousBitmap);
    if (m_offscreenBitmap != nullptr) DeleteObject(m_offscreenBitmap);
    DeleteDC(m_offscreenDC);
    m_offscreenDC = nullptr;
    m_offscreenBitmap = nullptr;
    m_previousBitmap = nullptr;
}

void CBusyProgressCtrl::DrawBackground(HDC dc, const RECT &rect) {
    FillSolid(dc, rect, m_background);
}

void CBusyProgressCtrl::DrawBlock(HDC dc, const RECT &rect) {
    Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
}

void CBusyProgressCtrl::DrawActiveBlock(HDC dc, const RECT &rect) {
    HPEN pen = CreatePen(PS_SOLID, 0, kActiveBorder);
    HBRUSH brush = CreateSolidBrush(kActiveFill);
    HGDIOBJ previousPen = SelectObject(dc, pen);
    HGDIOBJ previousBrush = SelectObject(dc, brush);
    Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

void CBusyProgressCtrl::DrawPartialBlock(HDC dc, const RECT &rect, int width) {
    FillSolid(dc, ToRect(PartialFillRect(FromRect(rect), width)), kActiveFill);
}

void CBusyProgressCtrl::DrawBlocks(HDC dc) {
    HPEN pen = CreatePen(PS_SOLID, 0, kBlockBorder);
    HBRUSH brush = CreateSolidBrush(kBlockFill);
    HGDIOBJ previousPen = SelectObject(dc, pen);
    HGDIOBJ previousBrush = SelectObject(dc, brush);

    BusyBarPlanInput plan;
    plan.geometry = m_geometry;
    plan.blockCount = m_shared->blockCount.load();
    plan.gap = m_gap;
    plan.mode = m_shared->mode.load();
    plan.position = m_shared->position.load();
    plan.progressBase = m_progressBase;
    plan.progressTotal = m_progressTotal;
    PlanBusyBarBlocks(plan, [&](const PlannedBlock &block) {
        const RECT rect = ToRect(block.rect);
        if (block.look == BlockLook::Active) {
            DrawActiveBlock(dc, rect);
            return;
        }
        DrawBlock(dc, rect);
        if (block.partialWidth != 0) DrawPartialBlock(dc, rect, block.partialWidth);
    });

    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

void CBusyProgressCtrl::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    if (dc == nullptr) return;
    const int width = m_layout.right - m_layout.left;
    const int height = m_layout.bottom - m_layout.top;
    if (m_offscreenDC == nullptr) {
        m_offscreenDC = CreateCompatibleDC(dc);
        m_offscreenBitmap = CreateCompatibleBitmap(dc, width, height);
        m_previousBitmap = SelectObject(m_offscreenDC, m_offscreenBitmap);
    }
    const RECT layout = ToRect(m_layout);
    DrawBackground(m_offscreenDC, layout);
    DrawBlocks(m_offscreenDC);
    BitBlt(dc, 0, 0, width, height, m_offscreenDC, 0, 0, SRCCOPY);
    EndPaint(Handle(), &ps);
}

void CBusyProgressCtrl::OnSize() {
    RECT client{};
    GetClientRect(Handle(), &client);
    m_layout = FromRect(client);
    // The next paint makes a bitmap of the new size. The blocks keep their
    // width until the count or the gap is set again.
    ReleaseOffscreen();
}

LRESULT CBusyProgressCtrl::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case BPM_SETBLOCKCOUNT:
        SetBlockCount(static_cast<int>(wParam));
        return TRUE;
    case BPM_SETPOS:
        SetPos(static_cast<int>(wParam));
        return TRUE;
    case BPM_SETGAP:
        SetBlockGap(static_cast<int>(wParam));
        return TRUE;
    case BPM_SETPERIOD:
        return SetPeriod(static_cast<UINT>(wParam));
    case BPM_SETRANGE:
        return SetProgressRange(static_cast<int>(wParam), static_cast<int>(lParam));
    case BPM_SETMODE:
        return SetMode(static_cast<int>(wParam));
    case BPM_START:
        StartAnimation();
        return 0;
    case BPM_STOP:
        StopAnimation();
        return 0;
    case BPM_STEPIT:
        StepIt();
        return TRUE;
    default:
        return 0;
    }
}

LRESULT CBusyProgressCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_PRINTCLIENT: {
        // Drawn straight into the caller's device context: the kept
        // off-screen bitmap belongs to the screen's format.
        HDC dc = reinterpret_cast<HDC>(wParam);
        DrawBackground(dc, ToRect(m_layout));
        DrawBlocks(dc);
        return 0;
    }
    case WM_ERASEBKGND:
        return TRUE; // every pixel is painted: no flicker
    case WM_SIZE: {
        const LRESULT result = DefaultProc(message, wParam, lParam);
        OnSize();
        return result;
    }
    default:
        break;
    }
    if (message >= BPM_SETBLOCKCOUNT && message <= BPM_STEPIT)
        return OnControlMessage(message, wParam, lParam);
    return DefaultProc(message, wParam, lParam);
}
