#include "sim/bench.h"
#include "sim/qvsim_cli.h"
#include "tests/unit/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

using namespace qvsim;
using qvsim_test::TempFolder;

TEST(BenchFiles, SettingsSurviveTheirTextForm) {
    BenchSettings s;
    s.driverInstalled = true;
    s.switchDelayMs = 7;
    s.resetDelayMs = 8;
    s.waitIntervalMs = 9;
    s.upgradeMs = 10;
    s.eraseMs = 11;
    s.downloadBytesPerSecond = 12345;
    s.questions = {1, 2};
    s.fullRecord = true;
    s.faults = {{Fault::UpgradeResult, -3}, {Fault::EraseFails, 1}};
    const BenchSettings back = ParseSettings(FormatSettings(s));
    EXPECT_EQ(FormatSettings(back), FormatSettings(s));
    EXPECT_TRUE(back.fullRecord);
    EXPECT_EQ(back.Value(Fault::UpgradeResult), -3);
    EXPECT_TRUE(back.Has(Fault::EraseFails));
    EXPECT_EQ(back.questions, (std::set<int>{1, 2}));
}

TEST(BenchFiles, HandEditedSettingsKeepDefaultsForWhatTheyGetWrong) {
    const BenchSettings defaults;
    const BenchSettings s = ParseSettings("# edited\n"
                                          "  reset_delay_ms = 20  \n"
                                          "switch_delay_ms=soon\n"
                                          "wait_interval_ms=0\n"
                                          "questions=2,7,x\n"
                                          "fault.no-such-fault=1\n"
                                          "fault.switch-refused=yes\n"
                                          "fault.erase-fails=1\n"
                                          "garbage line\n");
    EXPECT_EQ(s.resetDelayMs, 20);
    EXPECT_EQ(s.switchDelayMs, defaults.switchDelayMs);
    EXPECT_EQ(s.waitIntervalMs, defaults.waitIntervalMs);
    EXPECT_EQ(s.questions, std::set<int>{2});
    EXPECT_EQ(s.faults.size(), 1u);
    EXPECT_TRUE(s.Has(Fault::EraseFails));
}

TEST(BenchFiles, DeviceSurvivesItsTextForm) {
    DeviceRecord d;
    d.setup = {7, 2, "1.300", "a.b.10", "SERIAL7"};
    d.stage = Stage::SystemWritten;
    d.pendingSystemVersion = "1.2.3";
    d.availableAtMs = 1234567890123;
    d.lost = true;
    d.eraseCount = 3;
    const auto back = ParseDevice(7, FormatDevice(d));
    ASSERT_TRUE(back);
    EXPECT_EQ(FormatDevice(*back), FormatDevice(d));
    EXPECT_FALSE(ParseDevice(7, "kind=9\n")) << "a device of no known kind is no device";
}

TEST(Bench, PlugNumbersDevicesAndUnplugRemovesThem) {
    TempFolder folder;
    Bench bench(folder / "new-bench"); // made on first write
    EXPECT_TRUE(bench.Devices().empty());
    const int32_t first = bench.Plug({});
    const int32_t second = bench.Plug(DeviceSetup{0, 2, "1.00", "1.0.0", "MINE"});
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(bench.Device(1)->setup.serial, "QV70SIM000001");
    EXPECT_EQ(bench.Device(2)->setup.serial, "MINE");
    EXPECT_EQ(bench.Plug(qvsim_test::Setup(5)), 0) << "no kind 5";
    EXPECT_TRUE(bench.Unplug(1));
    EXPECT_FALSE(bench.Unplug(1));
    ASSERT_EQ(bench.Devices().size(), 1u);
    EXPECT_EQ(bench.Devices()[0].setup.id, 2);
    EXPECT_NE(bench.ReadLog().find("device 1 unplugged"), std::string::npos);
}

TEST(Bench, StrayFilesInTheFolderAreNotDevices) {
    TempFolder folder;
    Bench bench(folder.Path());
    bench.Plug({});
    for (const char *name : {"device-x.ini", "device-0.ini", "device-2.ini.tmp", "notes.ini"})
        ASSERT_TRUE(WriteFileAtomically(folder / name, "kind=4\n"));
    EXPECT_EQ(bench.Devices().size(), 1u);
}

// Writers in several threads (as in several processes) go through the bench
// lock, so read-change-write loses no update.
TEST(Bench, ConcurrentUpdatesAreNotLost) {
    TempFolder folder;
    Bench bench(folder.Path());
    const int32_t id = bench.Plug({});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            Bench mine(folder.Path());
            for (int i = 0; i < 25; ++i)
                mine.UpdateDevice(id, [](DeviceRecord &d) {
                    ++d.eraseCount;
                    return true;
                });
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(bench.Device(id)->eraseCount, 100);
}

class QvsimTool : public ::testing::Test {
  protected:
    TempFolder folder;
    Bench bench{folder.Path()};
    std::string out, err;

    int Run(std::vector<std::string> args) {
        std::ostringstream o, e;
        const int code = RunQvsim(args, folder.Path(), o, e);
        out = o.str();
        err = e.str();
        return code;
    }
};

TEST_F(QvsimTool, ChangesTheBenchAsDocumented) {
    ASSERT_EQ(Run({"plug", "kind=2", "loader=1.300", "system=a.b.10"}), 0);
    EXPECT_EQ(out, "1\n");
    ASSERT_EQ(Run({"set", "1", "kind=4"}), 0);
    ASSERT_EQ(Run({"driver", "installed"}), 0);
    ASSERT_EQ(Run({"delay", "switch=1", "reset=2", "wait=3", "upgrade=4", "erase=5"}), 0);
    ASSERT_EQ(Run({"speed", "8M"}), 0);
    ASSERT_EQ(Run({"ask", "1,2"}), 0);
    ASSERT_EQ(Run({"record", "full"}), 0);
    ASSERT_EQ(Run({"fault", "upgrade-result=-2", "download-fails"}), 0);

    const auto device = bench.Device(1);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->setup.kind, 4);
    EXPECT_EQ(device->setup.loaderVersion, "1.300");
    EXPECT_EQ(device->setup.systemVersion, "a.b.10");
    const BenchSettings s = bench.Settings();
    EXPECT_TRUE(s.driverInstalled);
    EXPECT_EQ(s.switchDelayMs, 1);
    EXPECT_EQ(s.resetDelayMs, 2);
    EXPECT_EQ(s.waitIntervalMs, 3);
    EXPECT_EQ(s.upgradeMs, 4);
    EXPECT_EQ(s.eraseMs, 5);
    EXPECT_EQ(s.downloadBytesPerSecond, 8u << 20);
    EXPECT_EQ(s.questions, (std::set<int>{1, 2}));
    EXPECT_TRUE(s.fullRecord);
    EXPECT_EQ(Run({"record", "half"}), 2);
    ASSERT_EQ(Run({"record", "plain"}), 0);
    EXPECT_FALSE(bench.Settings().fullRecord);
    EXPECT_EQ(s.Value(Fault::UpgradeResult), -2);
    EXPECT_EQ(s.Value(Fault::DownloadFails), 1);

    ASSERT_EQ(Run({"plug", "serial=none"}), 0);
    EXPECT_EQ(bench.Device(2)->setup.serial, "");

    ASSERT_EQ(Run({"show"}), 0);
    EXPECT_NE(out.find("device 1: kind 4, loader 1.300, system a.b.10"), std::string::npos) << out;
    EXPECT_NE(out.find("device 2: kind 4, loader 2.05, system 1.0.0, serial none"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("upgrade-result=-2"), std::string::npos) << out;

    ASSERT_EQ(Run({"clear-fault", "all"}), 0);
    EXPECT_TRUE(bench.Settings().faults.empty());
    ASSERT_EQ(Run({"unplug", "all"}), 0);
    EXPECT_TRUE(bench.Devices().empty());
    ASSERT_EQ(Run({"log"}), 0);
    EXPECT_NE(out.find("device 1 plugged in as kind 2"), std::string::npos) << out;
}

TEST_F(QvsimTool, RefusesWhatItCannotDo) {
    const struct {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{}, 2},
        {{"dance"}, 2},
        {{"plug", "kind=5"}, 2},
        {{"plug", "kind"}, 2},
        {{"unplug", "9"}, 1},
        {{"set", "9", "kind=2"}, 1},
        {{"fault", "no-such-fault"}, 1},
        {{"fault", "upgrade-result=x"}, 2},
        {{"ask", "3"}, 2},
        {{"speed", "fast"}, 2},
        {{"delay", "wait=0"}, 2},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Run(c.args), c.code) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_FALSE(err.empty());
    }
    EXPECT_TRUE(bench.Devices().empty());
}

TEST_F(QvsimTool, BenchOptionOverridesTheDefaultFolder) {
    TempFolder other;
    ASSERT_EQ(Run({"--bench", other.Path().u8string(), "plug"}), 0);
    EXPECT_TRUE(bench.Devices().empty());
    EXPECT_EQ(Bench(other.Path()).Devices().size(), 1u);
}
