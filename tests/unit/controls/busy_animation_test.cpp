// The animation thread against the window thread: starting, restarting and
// stopping, and a stop that gives up on a thread that does not end in time.
// Run under ThreadSanitizer, and under AddressSanitizer for the memory that
// an abandoned thread still uses.
#include "controls/busy_animation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Pred> bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 5000ms) {
    const auto end = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Counts repaint requests; shared so that a thread outliving the test's
// objects still writes into live memory.
struct Repaints {
    std::shared_ptr<std::atomic<int>> count = std::make_shared<std::atomic<int>>(0);
    BusyAnimation::Invalidate Hook() const {
        auto c = count;
        return [c] { ++*c; };
    }
    int Value() const { return count->load(); }
};

// A sleep that ignores stop requests until the test lets it go, as a thread
// stuck in a slow sleep would.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    std::atomic<int> waiting{0};
    std::atomic<int> finished{0};

    void Open() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            open = true;
        }
        changed.notify_all();
    }
};

// Where the highlighted block stands after `steps` steps from block 0.
int BusyPositionAfter(int steps, int blocks) {
    const int cycle = 2 * (blocks - 1);
    const int r = steps % cycle;
    return r < blocks ? r : cycle - r;
}

BusyAnimation::PeriodWait GatedWait(const std::shared_ptr<Gate> &gate) {
    return [gate](uint32_t, const StopSignal &) {
        ++gate->waiting;
        std::unique_lock<std::mutex> lock(gate->mutex);
        gate->changed.wait(lock, [&] { return gate->open; });
        ++gate->finished;
    };
}

TEST(BusyAnimation, StepsAndRepaintsEveryPeriodUntilStopped) {
    auto bar = std::make_shared<BusyBarShared>(12, 0);
    bar->periodMs = 50;
    Repaints repaints;
    BusyAnimation animation(bar);
    animation.Start(repaints.Hook());
    ASSERT_TRUE(WaitUntil([&] { return repaints.Value() >= 3; }));
    EXPECT_TRUE(animation.Stop());
    EXPECT_FALSE(animation.HasThread());

    const int repaintsAtStop = repaints.Value();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(repaints.Value(), repaintsAtStop);
    // Every step repainted once; the position moved by one per step.
    EXPECT_EQ(bar->position.load(), BusyPositionAfter(repaintsAtStop, 12));
}

TEST(BusyAnimation, StopRightAfterStartStillTakesTheFirstStepAndEnds) {
    for (int round = 0; round < 20; ++round) {
        auto bar = std::make_shared<BusyBarShared>(12, 3);
        bar->periodMs = 1000; // the stop must not wait for a whole period
        Repaints repaints;
        BusyAnimation animation(bar);
        const auto started = Clock::now();
        animation.Start(repaints.Hook());
        EXPECT_TRUE(animation.Stop());
        EXPECT_LT(Clock::now() - started, 500ms);
        EXPECT_EQ(bar->position.load(), 4);
        EXPECT_EQ(repaints.Value(), 1);
    }
}

TEST(BusyAnimation, StartWhileRunningReplacesTheThreadAndCarriesOnFromThePosition) {
    auto bar = std::make_shared<BusyBarShared>(12, 0);
    bar->periodMs = 50;
    auto inside = std::make_shared<std::atomic<int>>(0);
    auto mostAtOnce = std::make_shared<std::atomic<int>>(0);
    Repaints repaints;
    BusyAnimation animation(bar, [inside, mostAtOnce](uint32_t ms, const StopSignal &stop) {
        const int now = ++*inside;
        int seen = mostAtOnce->load();
        while (now > seen && !mostAtOnce->compare_exchange_weak(seen, now)) {
        }
        stop.WaitFor(std::chrono::milliseconds(ms));
        --*inside;
    });
    for (int restart = 0; restart < 10; ++restart) {
        const int before = repaints.Value();
        animation.Start(repaints.Hook());
        ASSERT_TRUE(WaitUntil([&] { return repaints.Value() > before + 1; }));
    }
    EXPECT_TRUE(animation.Stop());
    EXPECT_EQ(mostAtOnce->load(), 1); // never two animation threads at once
    // Each run went on from where the last one stopped.
    EXPECT_EQ(bar->position.load(), BusyPositionAfter(repaints.Value(), 12));
}

TEST(BusyAnimation, StartInProgressModeStartsNothing) {
    auto bar = std::make_shared<BusyBarShared>(12, 0);
    bar->mode = 2;
    Repaints repaints;
    BusyAnimation animation(bar);
    animation.Start(repaints.Hook());
    EXPECT_FALSE(animation.HasThread());
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(repaints.Value(), 0);
    EXPECT_EQ(bar->position.load(), 0);
}

TEST(BusyAnimation, StopWaitsAtMostTwoOfTheCurrentPeriodsThenLetsTheThreadGo) {
    auto gate = std::make_shared<Gate>();
    Repaints repaints;
    std::weak_ptr<BusyBarShared> weakBar;
    {
        auto bar = std::make_shared<BusyBarShared>(12, 0);
        weakBar = bar;
        bar->periodMs = 60000;
        auto animation = std::make_unique<BusyAnimation>(bar, GatedWait(gate));
        animation->Start(repaints.Hook());
        ASSERT_TRUE(WaitUntil([&] { return gate->waiting.load() == 1; }));

        // Changed while the thread sleeps: the stop uses the new period.
        bar->periodMs = 30;
        const auto started = Clock::now();
        EXPECT_FALSE(animation->Stop());
        const auto waited = Clock::now() - started;
        EXPECT_GE(waited, 55ms);
        EXPECT_LT(waited, 1000ms);
        EXPECT_FALSE(animation->HasThread());

        // The control goes while its old thread still sleeps.
        animation.reset();
    }
    // The thread alone keeps the shared values alive.
    EXPECT_FALSE(weakBar.expired());
    gate->Open();
    ASSERT_TRUE(WaitUntil([&] { return gate->finished.load() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return weakBar.expired(); }));
    // Woken after the stop, it took no further step.
    EXPECT_EQ(repaints.Value(), 1);
}

TEST(BusyAnimation, DestroyingARunningAnimationEndsItsThread) {
    auto bar = std::make_shared<BusyBarShared>(12, 0);
    bar->periodMs = 200;
    Repaints repaints;
    {
        BusyAnimation animation(bar);
        animation.Start(repaints.Hook());
        ASSERT_TRUE(WaitUntil([&] { return repaints.Value() >= 3; }));
    }
    const int atEnd = repaints.Value();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(repaints.Value(), atEnd);
    EXPECT_EQ(bar.use_count(), 1);
}

TEST(BusyAnimation, WindowThreadChangesValuesWhileTheThreadSteps) {
    // Position, count, mode and period written by the window thread while the
    // animation reads and writes them: each must be a whole atomic value.
    auto bar = std::make_shared<BusyBarShared>(12, 0);
    bar->periodMs = 0;
    Repaints repaints;
    BusyAnimation animation(bar);
    animation.Start(repaints.Hook());
    for (int i = 0; i < 2000; ++i) {
        bar->position = i % 12;
        bar->blockCount = 8 + i % 5;
        bar->periodMs = static_cast<uint32_t>(i % 2);
    }
    bar->periodMs = 500;
    EXPECT_TRUE(animation.Stop());
}

} // namespace
