#include "sim/sim_library.h"
#include "sim/versions.h"
#include "tests/unit/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace qvsim;
using qvsim_test::TempFolder;

namespace {

constexpr uint64_t kPayload = 300000;

class SimLibraryTest : public ::testing::Test {
  public: // the fault table below works on the fixture
    TempFolder folder;
    Bench bench{folder / "bench"};
    std::vector<int> asked;
    int answer = 1;
    SimLibrary library{LibraryHost{[this] { return bench.Folder(); }, nullptr,
                                   [this](HWND, int kind) {
                                       asked.push_back(kind);
                                       return answer;
                                   }}};
    std::string image = (folder / "new.img").string();
    std::string loader = (folder / "QVBOOT.BIN").string();
    DEVICE_INFO device{};

    void SetUp() override {
        qvsim_test::MakeFastBench(bench);
        ASSERT_FALSE(qvsim_test::MakeImage(image, 0x0206, 0x01020003, kPayload).empty());
        ASSERT_EQ(library.ExtractLoaderFile(image.c_str(), loader.c_str()), 1);
    }

    int32_t PlugAndFind(DeviceSetup setup = {}) {
        const int32_t id = bench.Plug(setup);
        EXPECT_EQ(library.QV_FindDevice(&device, 0), 1);
        return id;
    }

    int Upgrade(int mode = 0) {
        const uint32_t size = uint32_t(std::filesystem::file_size(image));
        return library.QV_Upgrade(&device, size, size % 65536, 0, loader.c_str(), mode, 0);
    }

    // The job's sequence after the switch: upgrade, reset, wait for kind 2,
    // download, reset, wait for kind 4.
    void RunJobFromVeskUsb() {
        ASSERT_EQ(Upgrade(), 0);
        library.QV_ResetDevice(&device);
        ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_LOADER, 20, 0), 1);
        ASSERT_EQ(library.QV_DownloadImage(&device, image.c_str()), 1);
        library.QV_ResetDevice(&device);
        ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_MSC, 20, 0), 1);
    }
};

TEST_F(SimLibraryTest, UpgradeOfAMassStorageDeviceEndsWithTheNewSystem) {
    library.SetVidPid(0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666);
    const int32_t id = PlugAndFind();
    EXPECT_EQ(device.identity, id);
    EXPECT_EQ(device.deviceType, QV_DEVICE_MSC);
    EXPECT_EQ(device.usbVid, 0x3333);
    ANDROID_VERSION version{};
    ASSERT_EQ(library.QV_GetDeviceVersion(&device, &version), 1);
    EXPECT_STREQ(version.loaderVersion, "2.05");
    EXPECT_STREQ(version.systemVersion, "1.0.0");

    ASSERT_EQ(library.QV_SwitchVeskUsb(&device), 1);
    ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_VESKUSB, 20, 0), 1);
    EXPECT_EQ(device.usbVid, 0x1111);
    RunJobFromVeskUsb();

    EXPECT_EQ(device.identity, id);
    ASSERT_EQ(library.QV_GetDeviceVersion(&device, &version), 1);
    EXPECT_STREQ(version.loaderVersion, "2.06");
    EXPECT_STREQ(version.systemVersion, "1.2.3");
    EXPECT_EQ(qvsim_test::ReadAll(bench.StoragePath(id)), qvsim_test::PayloadOf(kPayload));
    EXPECT_TRUE(asked.empty()) << "a newer loader needs no question";
}

TEST_F(SimLibraryTest, WithoutTheDriverTheSwitchedDeviceIsPluggedButNotFound) {
    qvsim_test::MakeFastBench(bench, /*driverInstalled=*/false);
    PlugAndFind();
    EXPECT_EQ(library.QVIsVeskUsbPlug(), 0);
    ASSERT_EQ(library.QV_SwitchVeskUsb(&device), 1);
    EXPECT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_VESKUSB, 3, 0), 0);
    EXPECT_EQ(library.QVIsVeskUsbPlug(), 1);
    DEVICE_INFO found{};
    EXPECT_EQ(library.QV_FindDevice(&found, 0), 0);

    const auto inf = folder / "qv70usb.inf";
    ASSERT_TRUE(WriteFileAtomically(inf, "DriverPackage=qv70usb\n"));
    EXPECT_EQ(library.QVInstallDriver((folder / "missing.inf").string().c_str()), -1);
    ASSERT_EQ(library.QVInstallDriver(inf.string().c_str()), 1);
    EXPECT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_VESKUSB, 3, 0), 1);
}

TEST_F(SimLibraryTest, RepairOfALoaderModeDeviceNeedsNoSwitch) {
    const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
    ASSERT_EQ(library.QV_EraseIDB(&device, 20, 0, loader.c_str()), 1);
    RunJobFromVeskUsb();
    EXPECT_EQ(bench.Device(id)->eraseCount, 1);
    EXPECT_NE(bench.ReadLog().find("IDB erased"), std::string::npos);
}

TEST_F(SimLibraryTest, DelaysKeepTheDeviceAwayUntilTheyHavePassed) {
    bench.UpdateSettings([](BenchSettings &s) {
        s.resetDelayMs = 150;
        s.waitIntervalMs = 20;
    });
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
    ASSERT_EQ(Upgrade(), 0);
    library.QV_ResetDevice(&device);
    DEVICE_INFO found{};
    EXPECT_EQ(library.QV_FindDevice(&found, 0), 0) << "rebooting";
    EXPECT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_LOADER, 2, 0), 0) << "3 polls, 40 ms";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_LOADER, 20, 0), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST_F(SimLibraryTest, AnOlderLoaderIsWrittenOnlyAfterAYes) {
    const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB, "3.00"));
    answer = 0;
    EXPECT_EQ(Upgrade(), -4);
    EXPECT_EQ(asked, std::vector<int>{0});
    EXPECT_EQ(bench.Device(id)->setup.loaderVersion, "3.00");
    answer = 1;
    EXPECT_EQ(Upgrade(), 0);
    EXPECT_EQ(bench.Device(id)->setup.loaderVersion, "2.06");
}

TEST_F(SimLibraryTest, TheBenchDecidesWhichOtherQuestionsAreAsked) {
    bench.UpdateSettings([](BenchSettings &s) { s.questions = {0, 1, 2}; });
    const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
    RunJobFromVeskUsb();
    EXPECT_EQ(asked, (std::vector<int>{0, 1, 2}));

    // A No to the download question leaves the storage as it was.
    asked.clear();
    bench.UpdateSettings([](BenchSettings &s) { s.questions = {2}; });
    ASSERT_TRUE(bench.UpdateDevice(id, [](DeviceRecord &d) {
        d.setup.kind = QV_DEVICE_LOADER;
        return true;
    }));
    ASSERT_TRUE(WriteFileAtomically(bench.StoragePath(id), "old"));
    answer = 0;
    EXPECT_EQ(library.QV_DownloadImage(&device, image.c_str()), 0);
    EXPECT_EQ(asked, std::vector<int>{2});
    EXPECT_EQ(qvsim_test::ReadAll(bench.StoragePath(id)), "old");
}

TEST_F(SimLibraryTest, WithoutAWindowEveryQuestionIsANo) {
    SimLibrary silent{LibraryHost{[this] { return bench.Folder(); }, nullptr, nullptr}};
    bench.Plug(qvsim_test::Setup(QV_DEVICE_VESKUSB, "3.00"));
    ASSERT_EQ(silent.QV_FindDevice(&device, 0), 1);
    const uint32_t size = uint32_t(std::filesystem::file_size(image));
    EXPECT_EQ(silent.QV_Upgrade(&device, size, size % 65536, 0, loader.c_str(), 0, 0), -4);
}

// Every fault, and the result the job sees for it.
TEST_F(SimLibraryTest, InjectedFaultsFailTheirStepAndNoOther) {
    struct Case {
        Fault fault;
        int value;
        std::function<void(SimLibraryTest &)> check;
    };
    const Case cases[] = {
        {Fault::SwitchRefused, 1,
         [](SimLibraryTest &t) {
             EXPECT_EQ(t.library.QV_SwitchVeskUsb(&t.device), 0);
             EXPECT_EQ(t.bench.Device(t.device.identity)->setup.kind, QV_DEVICE_MSC);
         }},
        {Fault::NoVeskDevice, 1,
         [](SimLibraryTest &t) {
             EXPECT_EQ(t.library.QV_SwitchVeskUsb(&t.device), 1);
             EXPECT_EQ(t.library.QV_WaitDevice(&t.device, QV_DEVICE_VESKUSB, 2, 0), 0);
             EXPECT_EQ(t.library.QVIsVeskUsbPlug(), 0);
         }},
        {Fault::VersionUnreadable, 1,
         [](SimLibraryTest &t) {
             ANDROID_VERSION version{};
             EXPECT_EQ(t.library.QV_GetDeviceVersion(&t.device, &version), 0);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(FaultName(c.fault));
        bench.UnplugAll();
        bench.ClearFaults();
        PlugAndFind();
        bench.SetFault(c.fault, c.value);
        c.check(*this);
    }

    // Faults of the steps after the switch, from a VeskUsb-mode device.
    for (int value : {-1, -2, -3, -4, 5}) {
        bench.UnplugAll();
        bench.ClearFaults();
        const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
        bench.SetFault(Fault::UpgradeResult, value);
        EXPECT_EQ(Upgrade(), value);
        EXPECT_EQ(bench.Device(id)->stage, Stage::Idle) << "no loader written";
    }

    bench.UnplugAll();
    bench.ClearFaults();
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
    bench.SetFault(Fault::NoLoaderDevice);
    ASSERT_EQ(Upgrade(), 0);
    library.QV_ResetDevice(&device);
    EXPECT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_LOADER, 3, 0), 0);

    // The whole job succeeds, yet the device comes back with its old system.
    bench.ClearFaults();
    bench.UnplugAll();
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
    bench.SetFault(Fault::OldSoftwareBack);
    RunJobFromVeskUsb();
    ANDROID_VERSION version{};
    ASSERT_EQ(library.QV_GetDeviceVersion(&device, &version), 1);
    EXPECT_STREQ(version.systemVersion, "1.0.0");

    bench.ClearFaults();
    bench.UnplugAll();
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
    bench.SetFault(Fault::EraseFails);
    EXPECT_EQ(library.QV_EraseIDB(&device, 20, 0, loader.c_str()), 0);
    EXPECT_NE(bench.ReadLog().find("IDB erase failed"), std::string::npos);
}

TEST_F(SimLibraryTest, AFailedDownloadNeverLeavesAWrittenDevice) {
    for (Fault fault : {Fault::DownloadFails, Fault::UnplugDuringDownload}) {
        SCOPED_TRACE(FaultName(fault));
        bench.UnplugAll();
        bench.ClearFaults();
        const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
        ASSERT_TRUE(WriteFileAtomically(bench.StoragePath(id), "old"));
        bench.SetFault(fault);
        EXPECT_EQ(library.QV_DownloadImage(&device, image.c_str()), 0);
        EXPECT_EQ(qvsim_test::ReadAll(bench.StoragePath(id)), "old");
        const auto after = bench.Device(id);
        if (fault == Fault::UnplugDuringDownload) {
            EXPECT_FALSE(after) << "pulled out";
        } else {
            ASSERT_TRUE(after);
            EXPECT_EQ(after->stage, Stage::Idle);
        }
        // No temporary storage file is left behind.
        for (const auto &entry : std::filesystem::directory_iterator(bench.Folder()))
            EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

TEST_F(SimLibraryTest, DamagedImagesAreNeitherInspectedNorWritten) {
    const auto damaged = folder / "damaged.img";
    std::string bytes = qvsim_test::ReadAll(image);
    bytes[bytes.size() - 1] ^= 0x40;
    ASSERT_TRUE(WriteFileAtomically(damaged, bytes));
    const std::string path = damaged.string();
    uint32_t size = 0, system = 0;
    uint16_t version = 0;
    EXPECT_EQ(library.QV_GetImageSize(path.c_str(), &size), 0);
    EXPECT_EQ(library.QV_GetLoaderVersion(path.c_str(), &version), 0);
    EXPECT_EQ(library.QV_GetSystemVersion(path.c_str(), &system), 0);
    const auto extracted = folder / "x.bin";
    EXPECT_EQ(library.ExtractLoaderFile(path.c_str(), extracted.string().c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(extracted));

    const int32_t id = PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
    EXPECT_EQ(library.QV_DownloadImage(&device, path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(bench.StoragePath(id)));
    EXPECT_EQ(bench.Device(id)->stage, Stage::Idle);
}

TEST_F(SimLibraryTest, InspectionReadsTheImage) {
    uint32_t size = 0, system = 0;
    uint16_t version = 0;
    ASSERT_EQ(library.QV_GetImageSize(image.c_str(), &size), 1);
    EXPECT_EQ(size, std::filesystem::file_size(image));
    ASSERT_EQ(library.QV_GetLoaderVersion(image.c_str(), &version), 1);
    EXPECT_EQ(version, 0x0206);
    ASSERT_EQ(library.QV_GetSystemVersion(image.c_str(), &system), 1);
    EXPECT_EQ(system, 0x01020003u);
}

TEST_F(SimLibraryTest, ImagesOfFourGiBOrMoreHaveNoSize) {
    const auto huge = folder / "huge.img";
    { std::ofstream create(huge, std::ios::binary); }
    std::error_code ec;
    std::filesystem::resize_file(huge, 0x100000000ull, ec); // sparse: no disk used
    if (ec) GTEST_SKIP() << "no sparse files here";
    uint32_t size = 123;
    EXPECT_EQ(library.QV_GetImageSize(huge.string().c_str(), &size), 0);
    EXPECT_EQ(size, 123u);
}

TEST_F(SimLibraryTest, NullArgumentsAreFailuresNotCrashes) {
    uint32_t size = 0;
    uint16_t version = 0;
    ANDROID_VERSION texts{};
    EXPECT_LE(library.QV_FindDevice(nullptr, 0), 0);
    EXPECT_EQ(library.QV_GetDeviceVersion(nullptr, &texts), 0);
    EXPECT_EQ(library.QV_GetDeviceVersion(&device, nullptr), 0);
    EXPECT_EQ(library.QV_GetImageSize(nullptr, &size), 0);
    EXPECT_EQ(library.QV_GetImageSize(image.c_str(), nullptr), 0);
    EXPECT_EQ(library.QV_GetLoaderVersion(nullptr, &version), 0);
    EXPECT_EQ(library.QV_GetLoaderVersion(image.c_str(), nullptr), 0);
    EXPECT_EQ(library.QV_GetSystemVersion(image.c_str(), nullptr), 0);
    EXPECT_EQ(library.ExtractLoaderFile(nullptr, loader.c_str()), 0);
    EXPECT_EQ(library.ExtractLoaderFile(image.c_str(), nullptr), 0);
    EXPECT_EQ(library.ExtractLoaderFile("", loader.c_str()), 0);
    EXPECT_EQ(library.QV_EraseIDB(nullptr, 20, 0, loader.c_str()), 0);
    EXPECT_NE(library.QV_Upgrade(nullptr, 1, 1, 0, loader.c_str(), 0, 0), 0);
    EXPECT_EQ(library.QV_ResetDevice(nullptr), 0);
    EXPECT_EQ(library.QV_WaitDevice(nullptr, 2, 20, 0), 0);
    EXPECT_EQ(library.QV_DownloadImage(nullptr, image.c_str()), 0);
    EXPECT_EQ(library.QV_SwitchVeskUsb(nullptr), 0);
    EXPECT_NE(library.QVInstallDriver(nullptr), 0);
    EXPECT_NE(library.QVInstallDriver(nullptr), 1);
    EXPECT_EQ(library.SetLogPath(nullptr), 0);

    PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
    EXPECT_EQ(library.QV_Upgrade(&device, 1, 1, 0, nullptr, 0, 0), -2);
    EXPECT_EQ(library.QV_DownloadImage(&device, nullptr), 0);
    EXPECT_EQ(library.QV_EraseIDB(&device, 20, 0, nullptr), 0);
}

TEST_F(SimLibraryTest, UpgradeResultsForWrongArguments) {
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_MSC));
    EXPECT_EQ(Upgrade(), -1) << "a mass-storage device must be switched first";
    bench.UnplugAll();
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_VESKUSB));
    EXPECT_EQ(library.QV_Upgrade(&device, 70000, 70000, 0, loader.c_str(), 0, 0), -3);
    EXPECT_EQ(library.QV_Upgrade(&device, 0, 0, 0, loader.c_str(), 0, 0), -3);
    EXPECT_EQ(library.QV_Upgrade(&device, 70000, 70000 % 65536, 0, image.c_str(), 0, 0), -2)
        << "an image is no loader file";
}

TEST_F(SimLibraryTest, SearchCountsDevicesAndFillsTheRecordOnlyForOne) {
    DEVICE_INFO found;
    std::memset(&found, 0x7F, sizeof found);
    EXPECT_EQ(library.QV_FindDevice(&found, 0), 0);
    EXPECT_EQ(found.identity, 0);
    bench.Plug({});
    bench.Plug({});
    EXPECT_EQ(library.QV_FindDevice(&found, 1), 2);
    EXPECT_EQ(found.identity, 0);
    bench.Unplug(1);
    EXPECT_EQ(library.QV_FindDevice(&found, 1), 1);
    EXPECT_EQ(found.identity, 2);
    EXPECT_EQ(found.busFlags, 1);
    EXPECT_STREQ(found.serialNumber, "QV70SIM000002");
}

// A device without a serial number reports an empty one, plain or full, and
// its path names its port instead; the full record is still taken back.
TEST_F(SimLibraryTest, ADeviceWithoutASerialReportsNoneAndItsPortInItsPath) {
    DeviceSetup setup;
    setup.withoutSerial = true;
    PlugAndFind(setup);
    EXPECT_STREQ(device.serialNumber, "");
    EXPECT_NE(std::string(device.devicePath).find("#5&port&0&1#"), std::string::npos)
        << device.devicePath;

    bench.UpdateSettings([](BenchSettings &s) { s.fullRecord = true; });
    ASSERT_EQ(library.QV_FindDevice(&device, 0), 1);
    EXPECT_EQ(device.serialNumber[0], '\0');
    EXPECT_EQ(device.serialNumber[1], '_');
    ANDROID_VERSION version{};
    EXPECT_EQ(library.QV_GetDeviceVersion(&device, &version), 1);
}

// A full record has no zero in its texts; it is taken back only exactly as
// filled, and a whole job runs on it.
TEST_F(SimLibraryTest, FullRecordIsTakenBackOnlyAsItWasFilled) {
    bench.UpdateSettings([](BenchSettings &s) { s.fullRecord = true; });
    PlugAndFind();
    EXPECT_EQ(std::memchr(device.devicePath, 0, sizeof device.devicePath), nullptr);
    EXPECT_EQ(std::memchr(device.serialNumber, 0, sizeof device.serialNumber), nullptr);
    EXPECT_EQ(std::string(device.serialNumber, sizeof device.serialNumber), "QV70SIM000001_______");

    DEVICE_INFO cut = device;
    cut.serialNumber[sizeof cut.serialNumber - 1] = 0;
    ANDROID_VERSION version{};
    EXPECT_EQ(library.QV_GetDeviceVersion(&cut, &version), 0);
    EXPECT_EQ(library.QV_SwitchVeskUsb(&cut), 0);
    EXPECT_NE(bench.ReadLog().find("device 1: record handed back altered"), std::string::npos);

    ASSERT_EQ(library.QV_GetDeviceVersion(&device, &version), 1);
    ASSERT_EQ(library.QV_SwitchVeskUsb(&device), 1);
    ASSERT_EQ(library.QV_WaitDevice(&device, QV_DEVICE_VESKUSB, 20, 0), 1);
    RunJobFromVeskUsb();
    ASSERT_EQ(library.QV_GetDeviceVersion(&device, &version), 1);
    EXPECT_STREQ(version.systemVersion, "1.2.3");
}

TEST_F(SimLibraryTest, TheLogIsWrittenOnlyAfterInitialisationAndALogPath) {
    const auto logFolder = folder / "Log";
    const auto log = logFolder / "QVAndroidDLL.log";
    ASSERT_EQ(library.SetLogPath(logFolder.string().c_str()), 1);
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
    EXPECT_FALSE(std::filesystem::exists(log)) << "not initialised";

    ASSERT_EQ(library.DllInitialize(), 1);
    ASSERT_EQ(library.QV_EraseIDB(&device, 20, 0, loader.c_str()), 1);
    const std::string text = qvsim_test::ReadAll(log);
    EXPECT_NE(text.find("QV_EraseIDB(device 1, 20, 0"), std::string::npos) << text;
    EXPECT_NE(text.find("IDB erased"), std::string::npos) << text;

    library.DllDeInitialize();
    const auto before = std::filesystem::file_size(log);
    library.QV_FindDevice(&device, 0);
    EXPECT_EQ(std::filesystem::file_size(log), before) << "released: nothing more";
}

TEST_F(SimLibraryTest, AfterReleaseEveryOperationFailsUntilInitialisedAgain) {
    PlugAndFind(qvsim_test::Setup(QV_DEVICE_LOADER));
    library.DllInitialize();
    library.DllDeInitialize();
    EXPECT_EQ(library.QV_DownloadImage(&device, image.c_str()), 0);
    EXPECT_EQ(library.QV_FindDevice(&device, 0), 0);
    library.DllInitialize();
    EXPECT_EQ(library.QV_FindDevice(&device, 0), 1);
}

} // namespace
