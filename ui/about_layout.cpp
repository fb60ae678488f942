#include "ui/about_layout.h"

#include <algorithm>

AboutBoxLayout LayOutAboutBox(const AboutBoxLayoutInput &in) {
    AboutBoxLayout out;
    // A text longer than the picture is wide widens the box rather than
    // being cut; the picture then leaves a strip, the lesser fault.
    int needed = in.pictureWidth;
    for (size_t i = 0; i < in.lines.size() && i < in.textWidths.size(); ++i)
        needed = std::max(needed, in.lines[i].left + in.textWidths[i] + in.margin);
    out.clientWidth = needed;
    const int inner = out.clientWidth - in.margin;

    out.separator = in.separator;
    out.separator.left = in.margin;
    out.separator.right = inner;

    out.ok = in.ok;
    const int okWidth = in.ok.right - in.ok.left;
    out.ok.right = inner;
    out.ok.left = inner - okWidth;

    for (const AboutBoxRect &line : in.lines) {
        AboutBoxRect placed = line;
        placed.right = inner;
        out.lines.push_back(placed);
    }
    return out;
}
