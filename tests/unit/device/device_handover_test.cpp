// The watcher, a job and the UI thread together, under ThreadSanitizer: the
// device record and the search result pass between threads only through the
// worker gate, and nothing touches them after the exit has closed it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "device/device_record.h"
#include "device/device_watcher.h"
#include "device/upgrade_job.h"
#include "res/resource.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"

namespace {

using fakes::Bench;
using fakes::MakeDevice;

void SleepRealMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A worker's control write waits until the UI thread has handled it, as a
// sent window message does. The UI thread handles them only in its pump.
class SentMessages {
  public:
    void SendFromWorker() {
        std::promise<void> handled;
        std::future<void> done = handled.get_future();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending.push_back(std::move(handled));
        }
        done.wait();
    }
    void Pump(uint32_t ms) {
        std::vector<std::promise<void>> taken;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            taken.swap(m_pending);
        }
        for (auto &message : taken)
            message.set_value();
        SleepRealMs(ms > 2 ? 2 : ms);
    }
    // The worker is blocked in a send (a plain wait here would deadlock).
    bool AnyPending() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_pending.empty();
    }

  private:
    std::mutex m_mutex;
    std::vector<std::promise<void>> m_pending;
};

// Sleeps for real, but shortly, so the threads interleave.
class ShortClock : public fakes::FakeClock {
  public:
    void SleepMs(uint32_t ms) override {
        FakeClock::SleepMs(ms);
        SleepRealMs(1);
    }
};

struct World {
    Bench b;
    ShortClock clock;
    Platform platform{b.profile, b.files, b.codec, clock};
    DeviceContext context{b.state, b.model, b.library, b.view, b.texts, platform, b.gate};
    SentMessages sent;
    std::atomic<int> searches{0};
    std::atomic<bool> searching{false};

    World() {
        b.library.finds = {{1, MakeDevice(42, QV_DEVICE_MSC)}};
        b.view.onWrite = [this] { sent.SendFromWorker(); };
        b.library.onFind = [this] {
            searching = true;
            ++searches;
            SleepRealMs(20); // a slow search
        };
    }
    void Pump(uint32_t ms) { sent.Pump(ms); }
};

TEST(DeviceHandover, CommandReadsTheWatcherResultsOnlyAfterTheCycleUnderWay) {
    World w;
    std::thread watcher([&] { DeviceWatchThread(w.context); });

    // The click arrives while a search is under way.
    while (!w.searching)
        std::this_thread::yield();
    w.b.state.g_jobActive = 1;
    EXPECT_TRUE(w.b.gate.WaitForWatchIdle([&](uint32_t ms) { w.Pump(ms); }, kWatchIdleWaitMs));

    // What the command checks: written by the watcher, read here unguarded.
    EXPECT_EQ(w.b.state.g_findResult, 1);
    EXPECT_EQ(w.b.state.g_deviceInfo.identity, 42);
    const int searchesAtClick = w.searches;

    // The job owns the record now; the watcher must stand still.
    ClearDeviceInfo(w.b.state.g_deviceInfo);
    w.b.state.g_deviceInfo = MakeDevice(42, QV_DEVICE_LOADER);
    for (int i = 0; i < 20; ++i)
        w.Pump(2);
    EXPECT_EQ(w.searches, searchesAtClick);

    // The result handler hands the device back; the watcher announces it again.
    ClearDeviceInfo(w.b.state.g_deviceInfo);
    w.b.state.g_jobActive = 0;
    while (w.searches == searchesAtClick)
        w.Pump(1);

    EXPECT_TRUE(w.b.gate.Close([&](uint32_t ms) { w.Pump(ms); }, 5000));
    watcher.join();
    const int searchesAtExit = w.searches;
    EXPECT_FALSE(w.sent.AnyPending());
    EXPECT_EQ(w.searches, searchesAtExit);
}

TEST(DeviceHandover, ExitWithAJobBlockedInTheLibrary) {
    World w;
    std::thread watcher([&] { DeviceWatchThread(w.context); });
    while (!w.searching)
        std::this_thread::yield();
    w.b.state.g_jobActive = 1;
    EXPECT_TRUE(w.b.gate.WaitForWatchIdle([&](uint32_t ms) { w.Pump(ms); }, kWatchIdleWaitMs));

    std::mutex mutex;
    std::condition_variable changed;
    bool insideUpgrade = false;
    bool release = false;
    w.b.library.onUpgrade = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        insideUpgrade = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; }); // waits for a device that never answers
        return 0;
    };
    fakes::FakeProcessRunner runner;
    fakes::FakeSystemInfo system;
    w.b.state.g_deviceInfo = MakeDevice(42, QV_DEVICE_LOADER);
    std::thread job([&] { UpgradeThread(w.context, runner, system, kModeUpgrade); });
    // Waiting as the UI thread does: the job's phase text is a sent message.
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (insideUpgrade) break;
        }
        w.Pump(1);
    }

    // The exit gives up on the blocked step after its time, but nothing new starts.
    EXPECT_FALSE(w.b.gate.Close([&](uint32_t ms) { w.Pump(ms); }, 40));
    watcher.join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    job.join();

    EXPECT_EQ(w.b.library.Calls().back(), "QV_Upgrade");
    EXPECT_TRUE(w.b.view.Of(fakes::RecordingView::Event::Post).empty());
    EXPECT_EQ(w.b.view.Shown(IDC_DETAIL_LINE), L"<IDS_89>");
    EXPECT_TRUE(w.b.gate.Close([&](uint32_t ms) { w.Pump(ms); }, 40));
}

} // namespace
