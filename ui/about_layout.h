// Where the About box's controls go once its picture is known: the box is
// as wide as the picture at the box's scale (or as its widest text needs),
// the separator runs from margin to margin, and OK stands at the right
// margin, as a dialog's commit button does. Pixels of the box's client area.
#pragma once

#include <vector>

struct AboutBoxRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct AboutBoxLayoutInput {
    int pictureWidth = 0; // the picture as shown, at the box's scale
    int margin = 0;       // the dialog's margin at the box's scale
    AboutBoxRect separator;
    AboutBoxRect ok;
    // The text lines as the template placed them, and how wide each text is
    // in its own font.
    std::vector<AboutBoxRect> lines;
    std::vector<int> textWidths;
};

struct AboutBoxLayout {
    int clientWidth = 0;
    AboutBoxRect separator;
    AboutBoxRect ok;
    std::vector<AboutBoxRect> lines;
};

AboutBoxLayout LayOutAboutBox(const AboutBoxLayoutInput &in);
