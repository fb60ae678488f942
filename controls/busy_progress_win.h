// A row of blocks: in busy mode one highlighted block runs to the end of the
// row and back, moved by the control's own animation thread; in progress
// mode blocks fill from the left in proportion to a position. Drawn through
// an off-screen bitmap kept between paints. Steered by the member
// operations or by the BPM_ messages.
#pragma once

#include "controls/busy_animation.h"
#include "controls/busy_bar_layout.h"
#include "controls/subclassed_window_win.h"

#include <memory>

constexpr UINT BPM_SETBLOCKCOUNT = WM_USER + 1; // wParam count; returns nonzero
constexpr UINT BPM_SETPOS = WM_USER + 2;        // wParam position; returns nonzero
constexpr UINT BPM_SETGAP = WM_USER + 3;        // wParam gap in pixels; returns nonzero
constexpr UINT BPM_SETPERIOD = WM_USER + 4;     // wParam ms; returns the new period
constexpr UINT BPM_SETRANGE = WM_USER + 5;      // wParam base, lParam total; returns the base
constexpr UINT BPM_SETMODE = WM_USER + 6;       // wParam mode; returns the mode in effect
constexpr UINT BPM_START = WM_USER + 7;
constexpr UINT BPM_STOP = WM_USER + 8;
constexpr UINT BPM_STEPIT = WM_USER + 9; // returns nonzero

constexpr int BPMODE_BUSY = 1;
constexpr int BPMODE_PROGRESS = 2;

class CBusyProgressCtrl : public CSubclassedWindow {
  public:
    CBusyProgressCtrl(int blockCount, int position);
    // Stops the animation (waiting at most two periods) and releases the
    // off-screen bitmap.
    ~CBusyProgressCtrl() override;

    // A "STATIC" child window; the layout is computed from its client area.
    virtual bool Create(DWORD style, const RECT &rect, HWND parent, UINT id);

    void SetBlockCount(int count); // recomputes the layout and repaints
    // Block width and height from the layout rectangle, which is taken from
    // the client area when still empty.
    void RecalcLayout();
    void SetPos(int position); // repaints
    void SetBlockGap(int gap); // recomputes the layout and repaints
    // A running animation sleeps the new period from its next sleep on.
    UINT SetPeriod(UINT periodMs);
    int SetProgressRange(int base, int total); // no repaint; returns the base
    // Stops the animation; modes other than BPMODE_BUSY and BPMODE_PROGRESS
    // are ignored. Returns the mode in effect.
    int SetMode(int mode);
    // Busy mode only; a running animation is stopped first.
    void StartAnimation();
    // Waits at most two periods for the thread.
    void StopAnimation();
    void StepIt();

    int GetPos() const { return m_shared->position.load(); }
    int GetBlockCount() const { return m_shared->blockCount.load(); }
    int GetMode() const { return m_shared->mode.load(); }
    UINT GetPeriod() const { return m_shared->periodMs.load(); }
    int GetBlockGap() const { return m_gap; }
    BusyBarGeometry GetGeometry() const { return m_geometry; }
    bool IsAnimating() const { return m_animation.HasThread(); }

    // The block colours.
    static constexpr COLORREF kBlockFill = RGB(160, 190, 220);
    static constexpr COLORREF kBlockBorder = RGB(50, 90, 135);
    static constexpr COLORREF kActiveFill = RGB(190, 220, 255);
    static constexpr COLORREF kActiveBorder = RGB(50, 90, 135);

  protected:
    void OnAttached() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    virtual void DrawBackground(HDC dc, const RECT &rect);
    virtual void DrawBlock(HDC dc, const RECT &rect);
    virtual void DrawActiveBlock(HDC dc, const RECT &rect);
    virtual void DrawPartialBlock(HDC dc, const RECT &rect, int width);

  private:
    void DrawBlocks(HDC dc);
    void OnPaint();
    void OnSize();
    void ReleaseOffscreen();
    void Invalidate();
    LRESULT OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam);

    std::shared_ptr<BusyBarShared> m_shared;
    BarRect m_layout;
    int m_gap = 1;
    BusyBarGeometry m_geometry;
    int m_progressBase = 0;
    int m_progressTotal = 100;
    COLORREF m_background;
    HDC m_offscreenDC = nullptr;
    HBITMAP m_offscreenBitmap = nullptr;
    HGDIOBJ m_previousBitmap = nullptr;
    BusyAnimation m_animation;
};
