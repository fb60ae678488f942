#include "controls/busy_animation.h"
#include "controls/busy_bar_layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

std::vector<int> Steps(BusyBarShared &bar, int count) {
    std::vector<int> seen;
    for (int i = 0; i < count; ++i) {
        BusyAnimationStep(bar);
        seen.push_back(bar.position.load());
    }
    return seen;
}

TEST(BusyBarStep, BusyModeRunsToTheEndAndBackShowingEachEndOncePerCycle) {
    BusyBarShared bar(4, 0);
    EXPECT_EQ(Steps(bar, 12), (std::vector<int>{1, 2, 3, 2, 1, 0, 1, 2, 3, 2, 1, 0}));

    // Twelve blocks: one cycle is 2 * (12 - 1) = 22 steps, back at 0.
    BusyBarShared twelve(12, 0);
    const std::vector<int> cycle = Steps(twelve, 22);
    EXPECT_EQ(cycle.back(), 0);
    EXPECT_EQ(cycle[10], 11);
    int ends = 0;
    for (int p : cycle)
        ends += p == 0 || p == 11;
    EXPECT_EQ(ends, 2);
}

TEST(BusyBarStep, OneBlockTurnsBackAndForthOnTheSameStepAndKeepsGrowing) {
    // The end test turns the direction to -1, the zero test turns it back.
    BusyBarShared bar(1, 0);
    EXPECT_EQ(Steps(bar, 4), (std::vector<int>{1, 2, 3, 4}));
}

TEST(BusyBarStep, PositionOutsideTheRowKeepsMovingInItsDirection) {
    BusyBarShared beyond(4, 7);
    EXPECT_EQ(Steps(beyond, 3), (std::vector<int>{8, 9, 10}));

    BusyBarShared below(4, -2);
    below.direction = -1;
    EXPECT_EQ(Steps(below, 3), (std::vector<int>{-3, -4, -5}));
}

TEST(BusyBarStep, ProgressModeStillAddsTheDirectionButNeverTurns) {
    BusyBarShared bar(4, 3);
    bar.mode = kBusyBarModeProgress;
    EXPECT_EQ(Steps(bar, 2), (std::vector<int>{4, 5}));

    bar.direction = -1; // turned earlier in busy mode
    bar.position = 0;
    EXPECT_EQ(Steps(bar, 2), (std::vector<int>{-1, -2}));
}

TEST(BusyBarStep, CountingPastTheLargestPositionWrapsInsteadOfOverflowing) {
    BusyBarShared bar(1, INT_MAX);
    BusyAnimationStep(bar);
    EXPECT_EQ(bar.position.load(), INT_MIN);
}

} // namespace
