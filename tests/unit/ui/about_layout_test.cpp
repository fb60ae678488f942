#include "ui/about_layout.h"

#include <gtest/gtest.h>

namespace {

// The About box at 96 dpi as its template places it: a 300-pixel picture,
// a 10-pixel margin, three text lines from x = 30.
AboutBoxLayoutInput At96Dpi() {
    AboutBoxLayoutInput in;
    in.pictureWidth = 300;
    in.margin = 10;
    in.separator = {0, 200, 352, 201};
    in.ok = {210, 210, 285, 234};
    in.lines = {{30, 128, 226, 141}, {30, 152, 243, 165}, {30, 175, 285, 188}};
    in.textWidths = {120, 60, 230};
    return in;
}

TEST(AboutBoxLayout, BoxIsAsWideAsItsPicture) {
    const AboutBoxLayout layout = LayOutAboutBox(At96Dpi());
    EXPECT_EQ(layout.clientWidth, 300);
}

TEST(AboutBoxLayout, SeparatorRunsFromMarginToMargin) {
    const AboutBoxLayout layout = LayOutAboutBox(At96Dpi());
    EXPECT_EQ(layout.separator.left, 10);
    EXPECT_EQ(layout.separator.right, 290);
    EXPECT_EQ(layout.separator.top, 200);
    EXPECT_EQ(layout.separator.bottom, 201);
}

TEST(AboutBoxLayout, OkKeepsItsSizeAtTheRightMargin) {
    const AboutBoxLayout layout = LayOutAboutBox(At96Dpi());
    EXPECT_EQ(layout.ok.right, 290);
    EXPECT_EQ(layout.ok.right - layout.ok.left, 75);
    EXPECT_EQ(layout.ok.top, 210);
    EXPECT_EQ(layout.ok.bottom, 234);
}

TEST(AboutBoxLayout, TextLinesReachTheRightMarginAndNoFurther) {
    const AboutBoxLayout layout = LayOutAboutBox(At96Dpi());
    ASSERT_EQ(layout.lines.size(), 3u);
    for (const AboutBoxRect &line : layout.lines) {
        EXPECT_EQ(line.left, 30);
        EXPECT_EQ(line.right, 290);
    }
}

TEST(AboutBoxLayout, LargerScaleScalesTheBoxWithThePicture) {
    AboutBoxLayoutInput in = At96Dpi();
    in.pictureWidth = 450;
    in.margin = 15;
    const AboutBoxLayout layout = LayOutAboutBox(in);
    EXPECT_EQ(layout.clientWidth, 450);
    EXPECT_EQ(layout.ok.right, 435);
    EXPECT_EQ(layout.separator.right, 435);
}

// A text wider than the picture (a long application title) widens the box
// rather than being cut.
TEST(AboutBoxLayout, TextWiderThanThePictureWidensTheBox) {
    AboutBoxLayoutInput in = At96Dpi();
    in.textWidths[0] = 400;
    const AboutBoxLayout layout = LayOutAboutBox(in);
    EXPECT_EQ(layout.clientWidth, 30 + 400 + 10);
    EXPECT_EQ(layout.lines[0].right, 430);
    EXPECT_EQ(layout.ok.right, 430);
}

} // namespace
