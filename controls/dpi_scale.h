// Pixel sizes designed at the platform's default 96 dots per inch, scaled to
// the dots per inch of the monitor a window is shown on.
#pragma once

#include <cstdint>

constexpr uint32_t kDefaultDpi = 96; // USER_DEFAULT_SCREEN_DPI

// Rounds half away from zero, as MulDiv does; a dpi of 0 (unknown) keeps the
// designed size.
constexpr int32_t ScaleForDpi(int32_t pixels, uint32_t dpi) {
    if (dpi == 0) return pixels;
    const int64_t product = static_cast<int64_t>(pixels) * dpi;
    const int64_t half = kDefaultDpi / 2;
    return static_cast<int32_t>(product >= 0 ? (product + half) / kDefaultDpi
                                             : -((-product + half) / kDefaultDpi));
}
