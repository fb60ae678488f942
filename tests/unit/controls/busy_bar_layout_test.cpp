#include "controls/busy_bar_layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace {

std::vector<PlannedBlock> Plan(const BusyBarPlanInput &in) {
    std::vector<PlannedBlock> blocks;
    PlanBusyBarBlocks(in, [&](const PlannedBlock &b) { blocks.push_back(b); });
    return blocks;
}

BusyBarPlanInput Bar(int width, int blocks, int mode, int position) {
    BusyBarPlanInput in;
    in.blockCount = blocks;
    in.gap = 1;
    in.geometry = ComputeBusyBarGeometry(BarRect{0, 0, width, 11}, blocks, 1);
    in.mode = mode;
    in.position = position;
    return in;
}

TEST(BusyBarGeometry, WidthLeavesRoomForTheGapsAndHeightIsTheRectangle) {
    const BusyBarGeometry g = ComputeBusyBarGeometry(BarRect{0, 0, 210, 18}, 12, 1);
    EXPECT_DOUBLE_EQ(g.blockWidth, (210.0 - 12) / 12); // 16.5: kept fractional
    EXPECT_DOUBLE_EQ(g.blockHeight, 18.0);
    // The left edge counts too, and the gap is per block.
    EXPECT_DOUBLE_EQ(ComputeBusyBarGeometry(BarRect{10, 2, 110, 12}, 4, 3).blockWidth,
                     (110 - 4 * 3 - 10) / 4.0);
}

TEST(BusyBarGeometry, NoBlocksMeansNoWidthInsteadOfADivisionByZero) {
    for (int count : {0, -1, INT_MIN}) {
        const BusyBarGeometry g = ComputeBusyBarGeometry(BarRect{0, 0, 100, 10}, count, 1);
        EXPECT_EQ(g.blockWidth, 0.0) << count;
        EXPECT_TRUE(Plan(Bar(100, count, kBusyBarModeBusy, 0)).empty()) << count;
    }
    // A count so large that count * gap overflows 32 bits still gives a finite width.
    EXPECT_TRUE(
        std::isfinite(ComputeBusyBarGeometry(BarRect{0, 0, 100, 10}, INT_MAX, 2).blockWidth));
}

TEST(BusyBarGeometry, BlocksStartAtTheRunningSumOfGapAndWidth) {
    // 204 pixels, 12 blocks, gap 1: width 16.0, so block i starts at 17 * i.
    const auto blocks = Plan(Bar(204, 12, kBusyBarModeBusy, 0));
    ASSERT_EQ(blocks.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(blocks[i].rect, (BarRect{17 * i, 0, 17 * i + 16, 11})) << i;
    }
}

TEST(BusyBarGeometry, FractionalWidthsSpreadOverTheRowWithoutOverlapOrOverrun) {
    for (int width : {140, 187, 211, 250}) {
        const auto blocks = Plan(Bar(width, 12, kBusyBarModeBusy, 0));
        ASSERT_EQ(blocks.size(), 12u);
        const double step = 1 + (width - 12) / 12.0;
        for (size_t i = 0; i < blocks.size(); ++i) {
            // Within a rounding step of the exact start trunc(i * (gap + width)).
            EXPECT_NEAR(blocks[i].rect.left, std::trunc(i * step), 1.0) << width << " " << i;
            if (i > 0) {
                EXPECT_GE(blocks[i].rect.left, blocks[i - 1].rect.right) << width << " " << i;
                EXPECT_LE(blocks[i].rect.left - blocks[i - 1].rect.right, 2) << width << " " << i;
            }
        }
        EXPECT_LE(blocks.back().rect.right, width);
    }
}

TEST(BusyBarPlan, BusyModeHighlightsOnlyTheBlockAtThePosition) {
    struct Case {
        int mode, position, active;
    };
    const Case cases[] = {
        {kBusyBarModeBusy, 0, 0},   {kBusyBarModeBusy, 11, 11},
        {kBusyBarModeBusy, 12, -1},            // outside the row: nothing highlighted
        {kBusyBarModeBusy, -1, -1}, {3, 4, 4}, // both bits: busy wins
    };
    for (const Case &c : cases) {
        const auto blocks = Plan(Bar(204, 12, c.mode, c.position));
        ASSERT_EQ(blocks.size(), 12u);
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(blocks[i].look == BlockLook::Active, i == c.active) << c.position << " " << i;
            EXPECT_EQ(blocks[i].partialWidth, 0);
        }
    }
    EXPECT_TRUE(Plan(Bar(204, 12, 0, 0)).empty()); // neither bit: background only
    EXPECT_TRUE(Plan(Bar(204, 12, 4, 0)).empty());
}

TEST(BusyBarProgress, FullBlocksAndPartialWidthFollowBaseTotalAndCount) {
    struct Case {
        int base, position, total;
        double width;
        int full, partial;
    };
    const Case cases[] = {
        {0, 50, 100, 16.0, 6, 0},
        {0, 55, 100, 16.0, 6, 9},    // b = 6.6: trunc(0.6 * 16)
        {0, 55, 100, 15.5, 6, 9},    // trunc(0.6 * 15.5) = trunc(9.3)
        {0, 5, 100, 16.0, 0, 9},     // b = 0.6: block 0 partial only
        {0, 100, 100, 16.0, 12, 0},  // complete
        {0, 1000, 100, 16.0, 12, 0}, // beyond complete
        {20, 30, 100, 16.0, 6, 0},   // the base is added to the position
        {0, 0, 100, 16.0, 0, 0},
        {0, 50, 0, 16.0, 0, 0},    // no total: nothing, not infinity
        {0, 0, 0, 16.0, 0, 0},     // 0 / 0: nothing, not NaN
        {0, -30, 100, 16.0, 0, 0}, // negative: nothing
        {-50, 10, 100, 16.0, 0, 0},
        {INT_MAX, INT_MAX, 1, 16.0, 12, 0}, // no overflow in base + position
        {INT_MIN, INT_MIN, 1, 16.0, 0, 0},
    };
    for (const Case &c : cases) {
        const ProgressFill fill = ComputeProgressFill(c.base, c.position, c.total, 12, c.width);
        EXPECT_EQ(fill.fullBlocks, c.full) << c.base << "+" << c.position << "/" << c.total;
        EXPECT_EQ(fill.partialWidth, c.partial) << c.base << "+" << c.position << "/" << c.total;
    }
}

TEST(BusyBarProgress, PlanFillsTheFrontAndPartlyFillsTheNextBlock) {
    BusyBarPlanInput in = Bar(204, 12, kBusyBarModeProgress, 55);
    auto blocks = Plan(in);
    ASSERT_EQ(blocks.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(blocks[i].look, i < 6 ? BlockLook::Active : BlockLook::Normal) << i;
        EXPECT_EQ(blocks[i].partialWidth, i == 6 ? 9 : 0) << i;
    }
    in.progressTotal = 0;
    for (const PlannedBlock &b : Plan(in)) {
        EXPECT_EQ(b.look, BlockLook::Normal);
        EXPECT_EQ(b.partialWidth, 0);
    }
}

TEST(BusyBarProgress, PartialFillStaysInsideTheBlockOutline) {
    const BarRect block{17, 0, 33, 11};
    struct Case {
        int width;
        BarRect expected;
    };
    const Case cases[] = {
        {9, {18, 1, 27, 10}},   {14, {18, 1, 32, 10}}, // ends just before the right edge
        {15, {18, 1, 32, 10}},                         // would reach the edge: held 1 pixel inside
        {500, {18, 1, 32, 10}}, {INT_MAX, {18, 1, 32, 10}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PartialFillRect(block, c.width), c.expected) << c.width;
}

TEST(BusyBarGeometry, TruncationIsTowardZeroAndClamped) {
    EXPECT_EQ(TruncToInt(15.99), 15);
    EXPECT_EQ(TruncToInt(-15.99), -15);
    EXPECT_EQ(TruncToInt(1e20), INT_MAX);
    EXPECT_EQ(TruncToInt(-1e20), INT_MIN);
    EXPECT_EQ(TruncToInt(std::nan("")), 0);
    EXPECT_EQ(TruncToInt(INFINITY), INT_MAX);
}

} // namespace
