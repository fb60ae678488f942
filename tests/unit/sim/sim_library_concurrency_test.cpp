// The library under threads: a release or a pulled cable in the middle of a
// download, and devices plugged in and out while the watcher searches.
#include "sim/sim_library.h"
#include "tests/unit/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace qvsim;
using namespace std::chrono_literals;
using qvsim_test::TempFolder;

namespace {

class SlowDownload : public ::testing::Test {
  protected:
    TempFolder folder;
    Bench bench{folder / "bench"};
    SimLibrary library{LibraryHost{[this] { return bench.Folder(); }, nullptr, nullptr}};
    std::string image = (folder / "big.img").string();
    DEVICE_INFO device{};
    int32_t id = 0;

    void SetUp() override {
        qvsim_test::MakeFastBench(bench);
        // Two seconds of download at this speed.
        bench.UpdateSettings([](BenchSettings &s) { s.downloadBytesPerSecond = 1 << 20; });
        ASSERT_FALSE(qvsim_test::MakeImage(image, 0x0205, 0x01020003, 2 << 20).empty());
        id = bench.Plug(qvsim_test::Setup(QV_DEVICE_LOADER));
        ASSERT_TRUE(WriteFileAtomically(bench.StoragePath(id), "old"));
        ASSERT_EQ(library.QV_FindDevice(&device, 0), 1);
    }

    void ExpectStorageUnchanged() {
        EXPECT_EQ(qvsim_test::ReadAll(bench.StoragePath(id)), "old");
        for (const auto &entry : std::filesystem::directory_iterator(bench.Folder()))
            EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
};

TEST_F(SlowDownload, ReleaseEndsItPromptlyWithAFailure) {
    auto download = std::async(std::launch::async,
                               [&] { return library.QV_DownloadImage(&device, image.c_str()); });
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    library.DllDeInitialize();
    // DllDeInitialize waits for the download to leave the library; only the
    // thread's return is left.
    EXPECT_EQ(download.wait_for(200ms), std::future_status::ready);
    EXPECT_EQ(download.get(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    ExpectStorageUnchanged();
    const auto after = bench.Device(id);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->stage, Stage::Idle);
}

TEST_F(SlowDownload, PullingTheDeviceOutFailsIt) {
    auto download = std::async(std::launch::async,
                               [&] { return library.QV_DownloadImage(&device, image.c_str()); });
    std::this_thread::sleep_for(300ms);
    bench.Unplug(id);
    ASSERT_EQ(download.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(download.get(), 0);
    ExpectStorageUnchanged();
}

TEST(HotPlug, SearchesSeeWholeDevicesWhilePlugsComeAndGo) {
    TempFolder folder;
    Bench bench(folder.Path());
    qvsim_test::MakeFastBench(bench);
    SimLibrary library{LibraryHost{[&] { return bench.Folder(); }, nullptr, nullptr}};

    std::atomic<bool> done{false};
    std::atomic<int> searches{0}, bad{0};
    std::thread watcher([&] {
        while (!done) {
            DEVICE_INFO found{};
            const int count = library.QV_FindDevice(&found, 0);
            if (count < 0 || count > 2) ++bad;
            if (count == 1 &&
                (found.identity < 1 || found.identity > 2 || found.deviceType != QV_DEVICE_MSC))
                ++bad;
            ++searches;
        }
    });
    for (int round = 0; round < 30; ++round) {
        bench.Plug(qvsim_test::Setup(4, "2.05", 1));
        if (round % 3 == 0) bench.Plug(qvsim_test::Setup(4, "2.05", 2));
        bench.UpdateDevice(1, [](DeviceRecord &d) {
            d.setup.systemVersion = "2.0.0";
            return true;
        });
        bench.UnplugAll();
    }
    done = true;
    watcher.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(searches, 0);
}

TEST(HotPlug, AWaitEndsWhenTheDeviceIsPluggedIn) {
    TempFolder folder;
    Bench bench(folder.Path());
    qvsim_test::MakeFastBench(bench);
    bench.UpdateSettings([](BenchSettings &s) { s.waitIntervalMs = 20; });
    SimLibrary library{LibraryHost{[&] { return bench.Folder(); }, nullptr, nullptr}};
    DEVICE_INFO device{};
    device.identity = 5;
    auto wait = std::async(std::launch::async,
                           [&] { return library.QV_WaitDevice(&device, QV_DEVICE_LOADER, 20, 0); });
    std::this_thread::sleep_for(100ms);
    bench.Plug(qvsim_test::Setup(QV_DEVICE_LOADER, "2.05", 5));
    EXPECT_EQ(wait.get(), 1);
    EXPECT_EQ(device.deviceType, QV_DEVICE_LOADER);
}

} // namespace
