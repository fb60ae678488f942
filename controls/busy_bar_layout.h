// Geometry and drawing plan of the busy bar: where each block lies and how it
// looks for a given mode, position and progress range. No drawing here; the
// Win32 half turns the plan into GDI calls.
#pragma once

#include <cstdint>
#include <functional>

// Rectangle in client pixels, the same four edges as a Win32 RECT.
struct BarRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool operator==(const BarRect &o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

enum BusyBarMode : int32_t {
    kBusyBarModeBusy = 1,
    kBusyBarModeProgress = 2,
};

// Block size as the layout computes it: kept in double so that rounding does
// not pile up along the row.
struct BusyBarGeometry {
    double blockWidth = 0.0;
    double blockHeight = 0.0;
};

// (right - count * gap - left) / count and the rectangle's height. A count of
// zero or less has no blocks and so no block width.
BusyBarGeometry ComputeBusyBarGeometry(const BarRect &layout, int32_t blockCount, int32_t gap);

// Conversion toward zero, clamped to the int32 range; NaN gives 0.
int32_t TruncToInt(double value);

enum class BlockLook {
    Normal, // block fill and border colours
    Active, // the highlighted block, or a filled one in progress mode
};

struct PlannedBlock {
    BarRect rect;
    BlockLook look = BlockLook::Normal;
    int32_t partialWidth = 0; // progress mode: fill this many pixels of a normal block
};

struct BusyBarPlanInput {
    BusyBarGeometry geometry;
    int32_t blockCount = 0;
    int32_t gap = 1;
    int32_t mode = kBusyBarModeBusy;
    int32_t position = 0;
    int32_t progressBase = 0;
    int32_t progressTotal = 100;
};

// Hands the blocks to draw to `draw`, left to right: none when the count is
// zero or less, or when the mode has neither the busy nor the progress bit.
// Nothing is allocated, so a paint costs no heap traffic.
void PlanBusyBarBlocks(const BusyBarPlanInput &in,
                       const std::function<void(const PlannedBlock &)> &draw);

// Progress mode: how many blocks are full and how wide the front block's
// partial fill is. A total of 0 or a negative amount fills nothing.
struct ProgressFill {
    int32_t fullBlocks = 0;
    int32_t partialWidth = 0;
};
ProgressFill ComputeProgressFill(int32_t base, int32_t position, int32_t total, int32_t blockCount,
                                 double blockWidth);

// The partial fill stays inside the block's outline: 1 pixel in from the left,
// top and bottom, and at most up to 1 pixel before the right edge.
BarRect PartialFillRect(const BarRect &block, int32_t width);
