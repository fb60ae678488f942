#include "controls/high_contrast_win.h"

#include <atomic>

namespace {
constexpr int kAskTheSystem = -1;
std::atomic<int> g_override{kAskTheSystem};
} // namespace

void OverrideHighContrast(bool on) {
    g_override = on ? 1 : 0;
}

void UseSystemHighContrast() {
    g_override = kAskTheSystem;
}

// Asked at each paint, not remembered: the scheme can change while the
// program runs, and the windows repaint when it does.
bool HighContrastOn() {
    const int forced = g_override.load();
    if (forced != kAskTheSystem) return forced != 0;
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0)) return false;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}
