// The busy bar as a real window: its pixels after painting, its messages and
// its animation driving repaints.
#include "controls/busy_progress_win.h"
#include "test_window_win.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kWidth = 204; // 12 blocks with gap 1: 16 pixels each, one every 17
constexpr int kHeight = 11;

// Renders the control into a 32-bit bitmap through WM_PRINTCLIENT.
class Snapshot {
  public:
    Snapshot(HWND window, int width, int height) : m_width(width) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void **>(&m_bits),
                                    nullptr, 0);
        m_previous = SelectObject(m_dc, m_bitmap);
        SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(m_dc), PRF_CLIENT);
        GdiFlush();
    }
    ~Snapshot() {
        SelectObject(m_dc, m_previous);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    COLORREF At(int x, int y) const {
        const DWORD p = m_bits[y * m_width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

  private:
    int m_width;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_previous = nullptr;
    DWORD *m_bits = nullptr;
};

int BlockCentre(int i) {
    return 17 * i + 8;
}

class BusyBar : public ::testing::Test {
  protected:
    void SetUp() override {
        control = parent.AddStatic(L"", 10, 10, kWidth, kHeight, 1004);
        ASSERT_TRUE(bar.Attach(control));
        bar.SetBlockCount(12);
    }

    TestParent parent;
    HWND control = nullptr;
    CBusyProgressCtrl bar{10, 0};
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
};

TEST_F(BusyBar, AttachingComputesTheLayoutFromTheClientArea) {
    EXPECT_DOUBLE_EQ(bar.GetGeometry().blockWidth, 16.0);
    EXPECT_DOUBLE_EQ(bar.GetGeometry().blockHeight, 11.0);
    bar.SetBlockGap(4); // (204 - 48) / 12
    EXPECT_DOUBLE_EQ(bar.GetGeometry().blockWidth, 13.0);
}

TEST_F(BusyBar, HighlightedBlockIsPaintedInTheActiveColoursAtItsPlace) {
    bar.SetPos(3);
    const Snapshot shot(control, kWidth, kHeight);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(shot.At(BlockCentre(i), 5),
                  i == 3 ? CBusyProgressCtrl::kActiveFill : CBusyProgressCtrl::kBlockFill)
            << i;
        EXPECT_EQ(shot.At(17 * i, 5), CBusyProgressCtrl::kBlockBorder) << i; // left outline
        EXPECT_EQ(shot.At(17 * i + 16, 5), background) << i;                 // the gap
    }
}

TEST_F(BusyBar, RealPaintGoesThroughTheOffscreenBitmapToTheScreen) {
    bar.SetPos(7);
    EXPECT_EQ(ScreenPixel(control, BlockCentre(7), 5), CBusyProgressCtrl::kActiveFill);
    EXPECT_EQ(ScreenPixel(control, BlockCentre(6), 5), CBusyProgressCtrl::kBlockFill);
    EXPECT_EQ(ScreenPixel(control, 16, 5), background);

    // A wider window gets a bitmap of the new size; the blocks keep their width.
    SetWindowPos(control, nullptr, 0, 0, 300, kHeight, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_DOUBLE_EQ(bar.GetGeometry().blockWidth, 16.0);
    EXPECT_EQ(ScreenPixel(control, 280, 5), background);
    EXPECT_EQ(ScreenPixel(control, BlockCentre(7), 5), CBusyProgressCtrl::kActiveFill);
}

TEST_F(BusyBar, ProgressModeFillsFullBlocksAndPartOfTheNext) {
    ASSERT_EQ(bar.SetMode(BPMODE_PROGRESS), BPMODE_PROGRESS);
    bar.SetProgressRange(0, 100);
    bar.SetPos(55); // 6.6 blocks: 6 full, then trunc(0.6 * 16) = 9 pixels
    const Snapshot shot(control, kWidth, kHeight);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(shot.At(BlockCentre(i), 5), CBusyProgressCtrl::kActiveFill);
    const int front = 17 * 6;
    EXPECT_EQ(shot.At(front, 5), CBusyProgressCtrl::kBlockBorder);     // outline kept
    EXPECT_EQ(shot.At(front + 5, 0), CBusyProgressCtrl::kBlockBorder); // top outline kept
    EXPECT_EQ(shot.At(front + 1, 5), CBusyProgressCtrl::kActiveFill);
    EXPECT_EQ(shot.At(front + 9, 5), CBusyProgressCtrl::kActiveFill);
    EXPECT_EQ(shot.At(front + 10, 5), CBusyProgressCtrl::kBlockFill);
    for (int i = 7; i < 12; ++i)
        EXPECT_EQ(shot.At(BlockCentre(i), 5), CBusyProgressCtrl::kBlockFill);
}

TEST_F(BusyBar, UnguardedRangesAndCountsDrawSafely) {
    bar.SetMode(BPMODE_PROGRESS);
    struct Case {
        int base, position, total;
    };
    for (const Case c : {Case{0, 50, 0}, Case{0, -40, 100}, Case{0, 0, 0}}) {
        bar.SetProgressRange(c.base, c.total);
        bar.SetPos(c.position);
        const Snapshot shot(control, kWidth, kHeight);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(shot.At(BlockCentre(i), 5), CBusyProgressCtrl::kBlockFill)
                << c.total << " " << i;
    }
    for (int count : {0, -3}) {
        bar.SetBlockCount(count);
        const Snapshot shot(control, kWidth, kHeight);
        for (int x : {0, 8, 100, 203})
            EXPECT_EQ(shot.At(x, 5), background) << count << " " << x;
    }
}

TEST_F(BusyBar, PaintingReleasesItsPensAndBrushes) {
    // A leak of even one object per paint would use up the process's
    // drawing objects well before the last of these paints.
    bar.SetMode(BPMODE_PROGRESS);
    bar.SetPos(55);
    for (int i = 0; i < 6000; ++i) {
        const Snapshot shot(control, kWidth, kHeight);
        if (i % 1000 == 0) {
            ASSERT_EQ(shot.At(BlockCentre(0), 5), CBusyProgressCtrl::kActiveFill) << i;
        }
    }
    const Snapshot last(control, kWidth, kHeight);
    EXPECT_EQ(last.At(BlockCentre(0), 5), CBusyProgressCtrl::kActiveFill);
    EXPECT_EQ(last.At(17 * 6 + 5, 5), CBusyProgressCtrl::kActiveFill);
}

TEST_F(BusyBar, MessagesDoWhatTheirOperationsDoAndAnswerAsDocumented) {
    EXPECT_NE(SendMessageW(control, BPM_SETBLOCKCOUNT, 6, 0), 0);
    EXPECT_EQ(bar.GetBlockCount(), 6);
    EXPECT_DOUBLE_EQ(bar.GetGeometry().blockWidth, (204 - 6) / 6.0);
    EXPECT_NE(SendMessageW(control, BPM_SETPOS, 4, 0), 0);
    EXPECT_EQ(bar.GetPos(), 4);
    EXPECT_NE(SendMessageW(control, BPM_SETGAP, 3, 0), 0);
    EXPECT_EQ(bar.GetBlockGap(), 3);
    EXPECT_DOUBLE_EQ(bar.GetGeometry().blockWidth, (204 - 18) / 6.0);
    EXPECT_EQ(SendMessageW(control, BPM_SETPERIOD, 40, 0), 40);
    EXPECT_EQ(bar.GetPeriod(), 40u);
    EXPECT_EQ(SendMessageW(control, BPM_SETRANGE, 10, 90), 10);
    EXPECT_EQ(SendMessageW(control, BPM_SETMODE, 3, 0), BPMODE_BUSY); // unknown: unchanged
    EXPECT_EQ(SendMessageW(control, BPM_SETMODE, BPMODE_PROGRESS, 0), BPMODE_PROGRESS);
    SendMessageW(control, BPM_START, 0, 0); // progress mode: no animation
    EXPECT_FALSE(bar.IsAnimating());
    EXPECT_NE(SendMessageW(control, BPM_STEPIT, 0, 0), 0); // still steps
    EXPECT_EQ(bar.GetPos(), 5);
    EXPECT_EQ(SendMessageW(control, BPM_SETMODE, BPMODE_BUSY, 0), BPMODE_BUSY);
    SendMessageW(control, BPM_START, 0, 0);
    EXPECT_TRUE(bar.IsAnimating());
    SendMessageW(control, BPM_STOP, 0, 0);
    EXPECT_FALSE(bar.IsAnimating());
}

TEST_F(BusyBar, AnimationMovesTheBlockThroughRepaintsAndStopsOnSetMode) {
    bar.SetPeriod(20);
    bar.StartAnimation();
    PumpMessages(300);
    EXPECT_TRUE(bar.IsAnimating());
    EXPECT_EQ(bar.SetMode(BPMODE_BUSY), BPMODE_BUSY);
    EXPECT_FALSE(bar.IsAnimating());
    const int stoppedAt = bar.GetPos();
    PumpMessages(60);
    EXPECT_EQ(bar.GetPos(), stoppedAt);
    // Whatever the position, the screen shows it.
    EXPECT_EQ(ScreenPixel(control, BlockCentre(stoppedAt), 5), CBusyProgressCtrl::kActiveFill);
}

TEST(BusyBarLifetime, TwoBarsKeepTheirOwnStateAndADestroyedBarStopsItsThread) {
    TestParent parent;
    RECT first{10, 10, 10 + kWidth, 10 + kHeight};
    RECT second{10, 40, 10 + kWidth, 40 + kHeight};
    CBusyProgressCtrl a(12, 2);
    auto b = std::make_unique<CBusyProgressCtrl>(12, 9);
    ASSERT_TRUE(a.Create(WS_CHILD | WS_VISIBLE, first, parent.Handle(), 1));
    ASSERT_TRUE(b->Create(WS_CHILD | WS_VISIBLE, second, parent.Handle(), 2));
    EXPECT_EQ(ScreenPixel(a.Handle(), BlockCentre(2), 5), CBusyProgressCtrl::kActiveFill);
    EXPECT_EQ(ScreenPixel(b->Handle(), BlockCentre(2), 5), CBusyProgressCtrl::kBlockFill);
    EXPECT_EQ(ScreenPixel(b->Handle(), BlockCentre(9), 5), CBusyProgressCtrl::kActiveFill);

    b->SetPeriod(10);
    b->StartAnimation();
    PumpMessages(50);
    HWND bWindow = b->Handle();
    b.reset(); // the owner forgot to stop it: the destructor does
    DestroyWindow(bWindow);
    PumpMessages(50);
    EXPECT_EQ(a.GetPos(), 2);
}

} // namespace
