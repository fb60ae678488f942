// The hyperlink label on a real static control: attachment, measurement,
// cursor and click.
#include "controls/high_contrast_win.h"
#include "controls/hyperlink_win.h"
#include "test_window_win.h"

#include <gtest/gtest.h>

namespace {

class CountingLink : public CHyperLink {
  public:
    int opened = 0;
    std::wstring lastTarget;

  protected:
    void OpenTarget() override {
        ++opened;
        lastTarget = URL();
    }
};

LPARAM At(int x, int y) {
    return MAKELPARAM(x, y);
}

class HyperlinkWin : public ::testing::Test {
  protected:
    void SetUp() override {
        font = MakeTestFont();
        parent.SetFont(font);
        control = parent.AddStatic(L"Home page", 10, 10, 200, 16, 1029);
        ASSERT_TRUE(link.Attach(control));
        UpdateWindow(control); // the first paint makes the underline font
    }
    void TearDown() override {
        DestroyWindow(control);
        DeleteObject(font);
    }

    // Width of the text in the parent's font, underlined or not.
    int TextWidth(const wchar_t *text) {
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, font);
        SIZE size{};
        GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        return size.cx;
    }

    HFONT font = nullptr;
    TestParent parent;
    HWND control = nullptr;
    CountingLink link;
};

TEST_F(HyperlinkWin, AttachingTurnsOnNotifyAndTakesTheWindowText) {
    EXPECT_NE(GetWindowLongPtrW(control, GWL_STYLE) & SS_NOTIFY, 0);
    EXPECT_NE(GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP, 0);
    EXPECT_EQ(link.Text(), L"Home page");
    // Later window texts are not the link's.
    SetWindowTextW(control, L"Something else");
    EXPECT_EQ(link.Text(), L"Home page");
}

// The window text is the link's text: what a screen reader reads as its name.
TEST_F(HyperlinkWin, SetTextIsAlsoTheWindowText) {
    link.SetText(L"https://example.invalid/qv");
    wchar_t text[100] = L"";
    GetWindowTextW(control, text, 100);
    EXPECT_STREQ(text, L"https://example.invalid/qv");
}

// From the keyboard: Enter and Space open the target once per press; the
// dialog manager leaves Enter to the link while it has the focus.
TEST_F(HyperlinkWin, EnterAndSpaceOpenTheTarget) {
    link.SetURL(L"http://example.invalid/");
    SendMessageW(control, WM_KEYDOWN, VK_RETURN, 1);
    SendMessageW(control, WM_KEYDOWN, VK_SPACE, 1);
    EXPECT_EQ(link.opened, 2);
    SendMessageW(control, WM_KEYDOWN, VK_SPACE, 1 | (1 << 30)); // held down: repeats
    SendMessageW(control, WM_KEYDOWN, VK_TAB, 1);
    EXPECT_EQ(link.opened, 2);
    MSG enter{control, WM_KEYDOWN, VK_RETURN, 1, 0, {0, 0}};
    const LRESULT code =
        SendMessageW(control, WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&enter));
    EXPECT_NE(code & DLGC_WANTMESSAGE, 0);
}

// With the focus (and focus rectangles shown) the text gets a dotted frame.
TEST_F(HyperlinkWin, DrawsAFocusRectangleWhileFocused) {
    SendMessageW(parent.Handle(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    auto framePixels = [&] {
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        HDC dc = GetDC(control);
        const COLORREF background = GetPixel(dc, 190, 8);
        int differing = 0;
        const int width = TextWidth(L"Home page");
        for (int x = 0; x < width; ++x)
            differing += GetPixel(dc, x, 0) != background ? 1 : 0;
        ReleaseDC(control, dc);
        return differing;
    };
    SetFocus(parent.Handle());
    const int unfocused = framePixels();
    SetFocus(control);
    const int focused = framePixels();
    EXPECT_GT(focused, unfocused + 5);
}

TEST_F(HyperlinkWin, HitAreaIsTheMeasuredTextAndFollowsSetText) {
    const int width = TextWidth(L"Home page");
    ASSERT_GT(width, 10);
    EXPECT_TRUE(link.HitTest(POINT{0, 0}));
    EXPECT_TRUE(link.HitTest(POINT{width - 1, 5}));
    EXPECT_FALSE(link.HitTest(POINT{width, 5}));
    EXPECT_FALSE(link.HitTest(POINT{5, 40}));

    link.SetText(L"A much longer home page text");
    EXPECT_TRUE(link.HitTest(POINT{width + 5, 5}));
    link.SetText(L"");
    EXPECT_FALSE(link.HitTest(POINT{0, 0}));
}

TEST_F(HyperlinkWin, FirstMoveOnlyStartsTrackingThenTheHandShowsOverTheText) {
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND); // this test program has no cursor 135
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    SetCursor(arrow);
    SendMessageW(control, WM_MOUSEMOVE, 0, At(3, 3));
    EXPECT_EQ(GetCursor(), arrow);
    SendMessageW(control, WM_MOUSEMOVE, 0, At(3, 3));
    EXPECT_EQ(GetCursor(), hand);
    SendMessageW(control, WM_MOUSEMOVE, 0, At(190, 3)); // right of the text
    EXPECT_EQ(GetCursor(), arrow);
    SendMessageW(control, WM_MOUSEMOVE, 0, At(3, 3));
    EXPECT_EQ(GetCursor(), hand);

    // Leaving shows the arrow, and the next move only re-arms tracking.
    EXPECT_EQ(SendMessageW(control, WM_MOUSELEAVE, 0, 0), 0);
    EXPECT_EQ(GetCursor(), arrow);
    SendMessageW(control, WM_MOUSEMOVE, 0, At(3, 3));
    EXPECT_EQ(GetCursor(), arrow);
    SendMessageW(control, WM_MOUSEMOVE, 0, At(3, 3));
    EXPECT_EQ(GetCursor(), hand);
}

TEST_F(HyperlinkWin, AClickOnTheTextOpensTheTargetAndElsewhereNothing) {
    link.SetURL(L"http://example.invalid/");
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, At(190, 3));
    EXPECT_EQ(link.opened, 0);
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, At(2, 2));
    EXPECT_EQ(link.opened, 1);
    EXPECT_EQ(link.lastTarget, L"http://example.invalid/");
}

TEST_F(HyperlinkWin, DrawsTheTextInBlue) {
    // Some pixel of the text's first letter is the link colour.
    ScreenPixel(control, 0, 0); // paints
    HDC dc = GetDC(control);
    bool blue = false;
    for (int y = 0; y < 16 && !blue; ++y)
        for (int x = 0; x < 12 && !blue; ++x)
            blue = GetPixel(dc, x, y) == RGB(0, 0, 255);
    ReleaseDC(control, dc);
    EXPECT_TRUE(blue);
}

TEST(HyperlinkWinNoFont, AParentWithoutAFontMeansNoHitAreaAndNoClick) {
    TestParent parent; // answers WM_GETFONT with none
    HWND control = parent.AddStatic(L"Home page", 10, 10, 200, 16, 1029);
    CountingLink link;
    ASSERT_TRUE(link.Attach(control));
    UpdateWindow(control);
    EXPECT_FALSE(link.HitTest(POINT{0, 0}));
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, At(1, 1));
    EXPECT_EQ(link.opened, 0);
}

// In a high-contrast scheme the link takes the scheme's hot-track colour.
TEST_F(HyperlinkWin, HighContrastDrawsInTheHotTrackColour) {
    OverrideHighContrast(true);
    const COLORREF hot = GetSysColor(COLOR_HOTLIGHT);
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = GetDC(control);
    bool hotSeen = false, blueSeen = false;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 12; ++x) {
            const COLORREF c = GetPixel(dc, x, y);
            hotSeen = hotSeen || c == hot;
            blueSeen = blueSeen || (c == RGB(0, 0, 255) && hot != RGB(0, 0, 255));
        }
    ReleaseDC(control, dc);
    UseSystemHighContrast();
    EXPECT_TRUE(hotSeen);
    EXPECT_FALSE(blueSeen);
}

} // namespace
