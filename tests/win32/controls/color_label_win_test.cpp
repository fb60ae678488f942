// The colour label's answer to the colour notification its parent reflects,
// and its paint in those colours.
#include "controls/color_label_win.h"
#include "controls/high_contrast_win.h"
#include "test_window_win.h"

#include <gtest/gtest.h>

namespace {

struct Answer {
    LRESULT brush;
    COLORREF text;
    COLORREF background;
};

// Sends the notification as the static control would while painting.
Answer AskColours(HWND parent, HWND label) {
    HDC dc = GetDC(label);
    ::SetTextColor(dc, RGB(1, 2, 3));
    SetBkColor(dc, RGB(4, 5, 6));
    Answer a{SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(label)),
             GetTextColor(dc), GetBkColor(dc)};
    ReleaseDC(label, dc);
    return a;
}

TEST(ColorLabelWin, AnswersTheReflectedNotificationWithItsColoursAndBrush) {
    TestParent parent;
    HWND control = parent.AddStatic(L"Status", 10, 10, 200, 20, 1010);
    CColorLabel label;
    ASSERT_TRUE(label.Attach(control));

    Answer a = AskColours(parent.Handle(), control);
    EXPECT_NE(a.brush, 0);
    EXPECT_EQ(a.text, GetSysColor(COLOR_BTNTEXT)); // never set: the button colours
    EXPECT_EQ(a.background, GetSysColor(COLOR_BTNFACE));
    LOGBRUSH brush{};
    ASSERT_NE(GetObjectW(reinterpret_cast<HBRUSH>(a.brush), sizeof(brush), &brush), 0);
    EXPECT_EQ(brush.lbColor, GetSysColor(COLOR_BTNFACE));

    label.SetTextColor(RGB(0, 0, 255));
    EXPECT_EQ(AskColours(parent.Handle(), control).text, RGB(0, 0, 255));
    label.SetTextColor(CLR_INVALID);
    EXPECT_EQ(AskColours(parent.Handle(), control).text, GetSysColor(COLOR_BTNTEXT));
}

// Turns the high-contrast scheme on for the life of the object: the
// system's setting where it keeps one (Windows), else the program's own
// answer (Wine keeps none).
class HighContrastScheme {
  public:
    HighContrastScheme() {
        HIGHCONTRASTW contrast{sizeof(contrast), HCF_HIGHCONTRASTON, nullptr};
        if (!SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(contrast), &contrast, 0) ||
            !HighContrastOn())
            OverrideHighContrast(true);
    }
    ~HighContrastScheme() {
        UseSystemHighContrast();
        HIGHCONTRASTW contrast{sizeof(contrast), 0, nullptr};
        SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(contrast), &contrast, 0);
    }
};

TEST(ColorLabelWin, HighContrastTakesTheSchemesColours) {
    TestParent parent;
    HWND control = parent.AddStatic(L"Status", 10, 10, 200, 20, 1010);
    CColorLabel label;
    ASSERT_TRUE(label.Attach(control));
    label.SetTextColor(RGB(0, 0, 255));
    {
        HighContrastScheme scheme;
        ASSERT_TRUE(HighContrastOn());
        const Answer a = AskColours(parent.Handle(), control);
        EXPECT_EQ(a.text, GetSysColor(COLOR_WINDOWTEXT));
        EXPECT_EQ(a.background, GetSysColor(COLOR_BTNFACE));
        EXPECT_EQ(a.brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
    }
    EXPECT_FALSE(HighContrastOn());
    EXPECT_EQ(AskColours(parent.Handle(), control).text, RGB(0, 0, 255));
}

TEST(ColorLabelWin, AnOrdinaryStaticIsLeftToTheParentsUsualHandling) {
    TestParent parent;
    HWND plain = parent.AddStatic(L"Plain", 10, 40, 200, 20, 1011);
    HDC dc = GetDC(plain);
    LRESULT result = 0;
    EXPECT_FALSE(ReflectControlColor(parent.Handle(), WM_CTLCOLORSTATIC,
                                     reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(plain),
                                     &result));
    // Not a colour notification at all.
    EXPECT_FALSE(ReflectControlColor(parent.Handle(), WM_PAINT, 0, 0, &result));
    ReleaseDC(plain, dc);
}

TEST(ColorLabelWin, PaintsItsBackgroundWithTheChosenBrush) {
    TestParent parent;
    HWND control = parent.AddStatic(L"", 10, 10, 100, 20, 1009);
    CColorLabel label;
    ASSERT_TRUE(label.Attach(control));
    EXPECT_EQ(ScreenPixel(control, 50, 10), GetSysColor(COLOR_BTNFACE));
    label.SetBackgroundBlinkColors(true, RGB(255, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(ScreenPixel(control, 50, 10), RGB(255, 0, 0));
}

TEST(ColorLabelWin, BlinkTimerFlipsColoursAndTellsTheOwnerOnTheOnPhase) {
    TestParent parent;
    constexpr UINT kBlinked = WM_APP + 7;
    parent.Watch(kBlinked);
    HWND control = parent.AddStatic(L"Blink", 10, 10, 100, 20, 1009);
    CColorLabel label;
    ASSERT_TRUE(label.Attach(control));
    label.SetTextBlinkColors(true, RGB(0, 0, 255), RGB(255, 0, 0));
    label.SetBlinkNotification(parent.Handle(), kBlinked);

    // A timer that is not ours changes nothing.
    SendMessageW(control, WM_TIMER, 77, 0);
    EXPECT_EQ(AskColours(parent.Handle(), control).text, RGB(0, 0, 255));
    PumpMessages(20);
    EXPECT_TRUE(parent.Seen().empty());

    ASSERT_TRUE(label.SetBlinkPeriod(15));
    PumpMessages(200);
    ASSERT_TRUE(label.SetBlinkPeriod(0));
    PumpMessages(20);
    ASSERT_FALSE(parent.Seen().empty());
    for (WPARAM id : parent.Seen())
        EXPECT_EQ(id, 1009u);
    const size_t told = parent.Seen().size();
    PumpMessages(60);
    EXPECT_EQ(parent.Seen().size(), told); // stopped
}

} // namespace
