// The text overlay: what Create refuses, the window it makes, its cursor and
// click, hover tracking and paint, and release in either order.
#include "controls/text_overlay_win.h"
#include "test_window_win.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

int g_clicks = 0;
int g_lastClickArg = -1;
void CountClick(int arg) {
    ++g_clicks;
    g_lastClickArg = arg;
}

OVERLAY_PARAMS Params(HWND parent) {
    OVERLAY_PARAMS p{};
    p.parent = parent;
    p.id = 0;
    p.x = 0;
    p.y = 100;
    p.width = 200;
    p.height = 80;
    p.faceName = L"Tahoma";
    p.fontHeight = 20;
    p.bold = true;
    p.textColor = RGB(0, 0, 255);
    p.hoverColor = RGB(0, 0, 255);
    p.backgroundColor = RGB(255, 255, 255);
    p.opaque = true;
    p.onClick = CountClick;
    p.text = L"Version";
    return p;
}

TEST(TextOverlay, CreateRefusesBadParametersAndMakesNothing) {
    TestParent parent;
    struct Case {
        const char *what;
        void (*spoil)(OVERLAY_PARAMS &);
    };
    const Case cases[] = {
        {"width 0", [](OVERLAY_PARAMS &p) { p.width = 0; }},
        {"negative width", [](OVERLAY_PARAMS &p) { p.width = -5; }},
        {"height 0", [](OVERLAY_PARAMS &p) { p.height = 0; }},
        {"no face name", [](OVERLAY_PARAMS &p) { p.faceName = nullptr; }},
        {"no parent", [](OVERLAY_PARAMS &p) { p.parent = nullptr; }},
        {"parent not a window",
         [](OVERLAY_PARAMS &p) {
             p.parent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
         }},
    };
    for (const Case &c : cases) {
        OVERLAY_PARAMS p = Params(parent.Handle());
        c.spoil(p);
        CTextOverlay overlay;
        EXPECT_FALSE(overlay.Create(p)) << c.what;
        EXPECT_EQ(overlay.Window(), nullptr) << c.what;
        EXPECT_EQ(GetWindow(parent.Handle(), GW_CHILD), nullptr) << c.what;
    }
}

TEST(TextOverlay, CreateLinksTheObjectAndTakesOverTheWindowProcedure) {
    TestParent parent;
    CTextOverlay overlay;
    ASSERT_TRUE(overlay.Create(Params(parent.Handle())));
    HWND window = overlay.Window();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), parent.Handle());
    EXPECT_EQ(GetPropW(window, L"CLASSPOINTER"), &overlay);
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC),
              reinterpret_cast<LONG_PTR>(&CTextOverlay::OverlayWndProc));
    EXPECT_EQ(overlay.PointerState(), -1);

    HFONT font = overlay.Font();
    HBRUSH brush = overlay.BackgroundBrush();
    EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
    EXPECT_EQ(GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));
    overlay.Destroy();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GetObjectType(font), 0u); // released, not leaked
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(overlay.Window(), nullptr);
    overlay.Destroy(); // nothing left to release
}

TEST(TextOverlay, SetsNoCursorUnlessItHasItsOwn) {
    TestParent parent;
    HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    CTextOverlay plain;
    ASSERT_TRUE(plain.Create(Params(parent.Handle())));
    SetCursor(arrow);
    EXPECT_EQ(SendMessageW(plain.Window(), WM_SETCURSOR, reinterpret_cast<WPARAM>(plain.Window()),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              FALSE);
    EXPECT_EQ(GetCursor(), arrow);

    OVERLAY_PARAMS p = Params(parent.Handle());
    p.ownCursor = true;
    p.cursor = cross;
    CTextOverlay own;
    ASSERT_TRUE(own.Create(p));
    EXPECT_EQ(SendMessageW(own.Window(), WM_SETCURSOR, reinterpret_cast<WPARAM>(own.Window()),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), cross);
}

TEST(TextOverlay, AClickCallsTheFunctionWithZero) {
    TestParent parent;
    CTextOverlay overlay;
    ASSERT_TRUE(overlay.Create(Params(parent.Handle())));
    g_clicks = 0;
    SendMessageW(overlay.Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(g_clicks, 1);
    EXPECT_EQ(g_lastClickArg, 0);

    OVERLAY_PARAMS p = Params(parent.Handle());
    p.onClick = nullptr;
    CTextOverlay silent;
    ASSERT_TRUE(silent.Create(p));
    SendMessageW(silent.Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(g_clicks, 1);
}

TEST(TextOverlay, PointerInsideTakesTheCaptureAndLeavingReleasesIt) {
    TestParent parent;
    OVERLAY_PARAMS p = Params(parent.Handle());
    p.hoverColor = RGB(255, 0, 0);
    CTextOverlay overlay;
    ASSERT_TRUE(overlay.Create(p));
    RECT bounds;
    GetWindowRect(overlay.Window(), &bounds);

    SetCursorPos(bounds.left + 10, bounds.top + 10);
    SendMessageW(overlay.Window(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    EXPECT_TRUE(overlay.Hover());
    EXPECT_EQ(overlay.PointerState(), 0);
    EXPECT_EQ(GetCapture(), overlay.Window());

    SetCursorPos(bounds.right + 30, bounds.bottom + 30);
    SendMessageW(overlay.Window(), WM_MOUSEMOVE, 0, MAKELPARAM(230, 110));
    EXPECT_FALSE(overlay.Hover());
    EXPECT_EQ(overlay.PointerState(), 1);
    EXPECT_NE(GetCapture(), overlay.Window());
}

TEST(TextOverlay, TwoLinesAreDrawnCentredFromTheTopOverTheBackground) {
    TestParent parent(400, 300);
    OVERLAY_PARAMS p = Params(parent.Handle());
    p.text = L"Line one\nLine two";
    p.height = 120;
    CTextOverlay overlay;
    ASSERT_TRUE(overlay.Create(p));
    ScreenPixel(overlay.Window(), 0, 0); // paints
    HDC dc = GetDC(overlay.Window());
    int top = -1, bottom = -1, left = 1000, right = -1;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 200; ++x)
            if (GetPixel(dc, x, y) == RGB(0, 0, 255)) {
                if (top < 0) top = y;
                bottom = y;
                left = x < left ? x : left;
                right = x > right ? x : right;
            }
    EXPECT_EQ(GetPixel(dc, 199, 119), RGB(255, 255, 255)); // opaque background
    ReleaseDC(overlay.Window(), dc);
    ASSERT_GE(top, 0);
    EXPECT_LT(top, 10);    // starts at the top, not in the middle
    EXPECT_GT(bottom, 22); // a second line
    EXPECT_LT(bottom, 50);
    // Centred: the ink's middle is off the advance box's middle by the
    // glyphs' side bearings, some pixels with Wine's own Tahoma.
    EXPECT_NEAR((left + right) / 2.0, 100, 8);
}

TEST(TextOverlay, ParentGoingFirstLeavesDestroyNothingToDoButRelease) {
    auto parent = std::make_unique<TestParent>();
    CTextOverlay overlay;
    ASSERT_TRUE(overlay.Create(Params(parent->Handle())));
    HFONT font = overlay.Font();
    parent.reset();
    EXPECT_EQ(overlay.Window(), nullptr);
    overlay.Destroy();
    EXPECT_EQ(GetObjectType(font), 0u);
}

TEST(TextOverlay, CreatingAgainReleasesTheFirstWindowAndFont) {
    TestParent parent;
    CTextOverlay overlay;
    ASSERT_TRUE(overlay.Create(Params(parent.Handle())));
    HWND firstWindow = overlay.Window();
    HFONT firstFont = overlay.Font();
    ASSERT_TRUE(overlay.Create(Params(parent.Handle())));
    EXPECT_FALSE(IsWindow(firstWindow));
    EXPECT_EQ(GetObjectType(firstFont), 0u);
    EXPECT_TRUE(IsWindow(overlay.Window()));
}

} // namespace
