// The small decisions of the hyperlink, the colour label and the text
// overlay, without windows.
#include "controls/color_label_logic.h"
#include "controls/hyperlink_logic.h"
#include "controls/overlay_hover.h"

#include <gtest/gtest.h>

namespace {

using Move = HyperlinkHitState::MoveAction;

TEST(HyperlinkHit, OnlyPointsInsideTheMeasuredTextHit) {
    HyperlinkHitState link;
    link.SetExtent(40, 13);
    struct Case {
        int x, y;
        bool hit;
    };
    const Case cases[] = {
        {0, 0, true},   {39, 12, true}, {40, 0, false}, {0, 13, false},
        {-1, 0, false}, {0, -1, false}, {20, 6, true},  {40, 13, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(link.HitTest(c.x, c.y), c.hit) << c.x << "," << c.y;
}

TEST(HyperlinkHit, NothingHitsBeforeMeasuringOrWithAnEmptyText) {
    HyperlinkHitState link;
    EXPECT_TRUE(link.NeedsMeasure());
    EXPECT_FALSE(link.HitTest(0, 0));

    link.SetExtent(0, 13); // empty text: no width
    EXPECT_FALSE(link.HitTest(0, 0));

    link.SetExtent(40, 13);
    link.InvalidateExtent(); // a new text waits for its own measurement
    EXPECT_TRUE(link.NeedsMeasure());
    EXPECT_FALSE(link.HitTest(5, 5));
}

TEST(HyperlinkHit, FirstMoveOnlyStartsTrackingAndLeavingRearmsIt) {
    HyperlinkHitState link;
    link.SetExtent(40, 13);
    EXPECT_EQ(link.OnMouseMove(5, 5), Move::StartTracking);
    EXPECT_EQ(link.OnMouseMove(5, 5), Move::ShowLinkCursor);
    EXPECT_EQ(link.OnMouseMove(45, 5), Move::ShowArrowCursor);
    link.OnMouseLeave();
    EXPECT_FALSE(link.Tracking());
    EXPECT_EQ(link.OnMouseMove(5, 5), Move::StartTracking);
    EXPECT_EQ(link.OnMouseMove(5, 5), Move::ShowLinkCursor);
}

constexpr ColorValue kButtonText = 0x00121212;
constexpr ColorValue kButtonFace = 0x00F0F0F0;
constexpr ColorValue kBlue = 0x00FF0000;
constexpr ColorValue kRed = 0x000000FF;

TEST(ColorLabel, StartsInTheButtonColoursWithThePlainBrush) {
    const ColorLabelColors label(kButtonText, kButtonFace);
    const auto choice = label.Choose();
    EXPECT_EQ(choice.text, kButtonText);
    EXPECT_EQ(choice.background, kButtonFace);
    EXPECT_EQ(choice.brush, ColorLabelColors::Brush::Plain);
}

TEST(ColorLabel, TextColourIsKeptAndMinusOneMeansTheSystemColourOfNow) {
    ColorLabelColors label(kButtonText, kButtonFace);
    label.SetTextColor(kBlue, kButtonText);
    EXPECT_EQ(label.Choose().text, kBlue);
    label.SetTextColor(0xFFFFFFFF, 0x00333333); // the system colour may have changed
    EXPECT_EQ(label.Choose().text, 0x00333333u);
    EXPECT_EQ(label.Choose().background, kButtonFace);
}

TEST(ColorLabel, WithoutBlinkingATickChangesNothing) {
    ColorLabelColors label(kButtonText, kButtonFace);
    label.SetTextColor(kBlue, kButtonText);
    for (int i = 0; i < 3; ++i) {
        const auto outcome = label.OnBlinkTick();
        EXPECT_FALSE(outcome.repaint);
        EXPECT_FALSE(outcome.notify);
    }
    EXPECT_EQ(label.Choose().text, kBlue);
    EXPECT_EQ(label.Choose().brush, ColorLabelColors::Brush::Plain);
}

TEST(ColorLabel, BlinkingAlternatesPhasesAndNotifiesOncePerOnPhase) {
    ColorLabelColors label(kButtonText, kButtonFace);
    label.SetTextBlink(true, kBlue, kRed);
    label.SetBackgroundBlink(true, kButtonFace, kBlue);
    EXPECT_EQ(label.Choose().text, kBlue);
    EXPECT_EQ(label.Choose().brush, ColorLabelColors::Brush::Blink0);

    auto outcome = label.OnBlinkTick();
    EXPECT_TRUE(outcome.repaint);
    EXPECT_TRUE(outcome.notify);
    EXPECT_EQ(label.Choose().text, kRed);
    EXPECT_EQ(label.Choose().background, kBlue);
    EXPECT_EQ(label.Choose().brush, ColorLabelColors::Brush::Blink1);

    outcome = label.OnBlinkTick();
    EXPECT_TRUE(outcome.repaint);
    EXPECT_FALSE(outcome.notify);
    EXPECT_EQ(label.Choose().text, kBlue);

    // The text alone blinking leaves the plain background and brush.
    ColorLabelColors textOnly(kButtonText, kButtonFace);
    textOnly.SetTextBlink(true, kBlue, kRed);
    textOnly.OnBlinkTick();
    EXPECT_EQ(textOnly.Choose().text, kRed);
    EXPECT_EQ(textOnly.Choose().brush, ColorLabelColors::Brush::Plain);
}

TEST(OverlayHover, RepaintsOnlyWhenThePointerCrossesTheEdgeOrAtTheFirstLook) {
    for (bool firstInside : {true, false}) {
        OverlayHover hover;
        hover.Reset();
        EXPECT_EQ(hover.State(), -1);
        auto outcome = hover.Update(firstInside);
        EXPECT_TRUE(outcome.repaint) << firstInside; // undetermined before: always
        EXPECT_EQ(outcome.capture, firstInside);
        EXPECT_EQ(hover.Hover(), firstInside);
        EXPECT_EQ(hover.State(), firstInside ? 0 : 1);

        EXPECT_FALSE(hover.Update(firstInside).repaint); // no crossing
        outcome = hover.Update(!firstInside);
        EXPECT_TRUE(outcome.repaint);
        EXPECT_EQ(outcome.capture, !firstInside);
        EXPECT_EQ(hover.Hover(), !firstInside);
    }
}

} // namespace
