#include "controls/busy_bar_layout.h"

#include <cmath>
#include <limits>

int32_t TruncToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

BusyBarGeometry ComputeBusyBarGeometry(const BarRect &layout, int32_t blockCount, int32_t gap) {
    BusyBarGeometry g;
    g.blockHeight = static_cast<double>(static_cast<int64_t>(layout.bottom) - layout.top);
    if (blockCount <= 0) return g;
    // 64-bit so that a large count times the gap cannot overflow.
    const int64_t room =
        static_cast<int64_t>(layout.right) - static_cast<int64_t>(blockCount) * gap - layout.left;
    g.blockWidth = static_cast<double>(room) / blockCount;
    return g;
}

ProgressFill ComputeProgressFill(int32_t base, int32_t position, int32_t total, int32_t blockCount,
                                 double blockWidth) {
    ProgressFill fill;
    if (total == 0 || blockCount <= 0) return fill;
    const double amount = static_cast<double>(static_cast<int64_t>(base) + position);
    const double b = amount / total * blockCount;
    if (!(b > 0.0)) return fill; // nothing, or a negative amount: no fill
    // Past the last block the count is all that matters; clamping keeps the
    // conversion defined for absurd positions.
    if (b >= static_cast<double>(blockCount)) {
        fill.fullBlocks = blockCount;
        return fill;
    }
    fill.fullBlocks = TruncToInt(b);
    fill.partialWidth = TruncToInt((b - fill.fullBlocks) * blockWidth);
    return fill;
}

BarRect PartialFillRect(const BarRect &block, int32_t width) {
    BarRect r{block.left + 1, block.top + 1, block.right - 1, block.bottom - 1};
    const int64_t end = static_cast<int64_t>(r.left) + width;
    r.right = end >= block.right ? block.right - 1 : static_cast<int32_t>(end);
    return r;
}

void PlanBusyBarBlocks(const BusyBarPlanInput &in,
                       const std::function<void(const PlannedBlock &)> &draw) {
    const bool busy = (in.mode & kBusyBarModeBusy) != 0;
    const bool progress = (in.mode & kBusyBarModeProgress) != 0;
    if (in.blockCount <= 0 || (!busy && !progress)) return;

    ProgressFill fill;
    if (!busy)
        fill = ComputeProgressFill(in.progressBase, in.position, in.progressTotal, in.blockCount,
                                   in.geometry.blockWidth);

    const int32_t width = TruncToInt(in.geometry.blockWidth);
    const int32_t height = TruncToInt(in.geometry.blockHeight);
    BarRect rect{0, 0, width, height};
    // The running sum stays in double so that the fractions of the block
    // width spread over the row instead of collecting at its end.
    double x = 0.0;
    for (int32_t i = 0; i < in.blockCount; ++i) {
        PlannedBlock block;
        block.rect = rect;
        if (busy) {
            block.look = i == in.position ? BlockLook::Active : BlockLook::Normal;
        } else if (i < fill.fullBlocks) {
            block.look = BlockLook::Active;
        } else if (i == fill.fullBlocks) {
            block.partialWidth = fill.partialWidth;
        }
        draw(block);
        x = in.gap + in.geometry.blockWidth + x;
        rect.left = TruncToInt(x);
        rect.right = TruncToInt(x + in.geometry.blockWidth);
    }
}
