#include "device/device_watcher.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/device_record.h"
#include "device/job_events.h"
#include "res/resource.h"
#include "tests/fakes/device_fakes.h"

namespace {

using fakes::Bench;
using fakes::MakeDevice;
using fakes::MakeFullDevice;
using Script = std::vector<std::wstring>;

// Runs cycles the way the thread does, each inside the gate.
struct Watcher {
    Bench b;
    DEVICE_INFO working{};

    void Finds(int count, DEVICE_INFO device = DEVICE_INFO{}) {
        b.library.finds = {{count, device}};
    }
    Script Cycle() {
        b.view.Clear();
        EXPECT_TRUE(b.gate.BeginWatchCycle(b.state.g_jobActive));
        RunWatchCycle(b.context, working);
        b.gate.EndWatchCycle();
        return b.view.Calls();
    }
};

TEST(DeviceLoaderVersion, ParsesTwoNumbersSeparatedByAPoint) {
    struct Case {
        const char *text;
        uint16_t version;
    } cases[] = {
        {"2.5", 0x0205},
        {"2.05", 0x0205},
        {"1.300", 0x012C},
        {" 3. 7", 0x0307},
        {"2.5.7", 0x0205},
        {"1.2beta", 0x0102},
        {"+1.+2", 0x0102},
        {"-1.2", 0xFF02},
        {"65537.1", 0x0101},
        {"99999999999999999999.3", 0xFF03},
        // No version: the window must not ask a loader question on a guess.
        {"", 0xFFFF},
        {"abc", 0xFFFF},
        {"2", 0xFFFF},
        {"2.", 0xFFFF},
        {"2,5", 0xFFFF},
        {"V2.05", 0xFFFF},
        {".5", 0xFFFF},
        {"2 .5", 0xFFFF},
        {"-.5", 0xFFFF},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseDeviceLoaderVersion(c.text), c.version) << c.text;
    EXPECT_EQ(ParseDeviceLoaderVersion(nullptr), 0xFFFF);
}

TEST(DeviceWatcher, DeviceNamesByKind) {
    Settings settings;
    settings.DEVICE_ID_NAME = L"Loader";
    settings.MSC_ID_NAME = L"Tablet";
    EXPECT_EQ(DeviceNameForKind(settings, 4), L"Tablet");
    EXPECT_EQ(DeviceNameForKind(settings, 2), L"Loader");
    for (int kind : {0, 1, 3, 5, -1})
        EXPECT_EQ(DeviceNameForKind(settings, kind), L"QV70 MaskRom");
}

TEST(DeviceWatcher, NewMassStorageDeviceIsAnnouncedWithItsVersions) {
    Watcher w;
    const DEVICE_INFO device = MakeDevice(42, QV_DEVICE_MSC);
    w.Finds(1, device);

    EXPECT_EQ(
        w.Cycle(),
        (Script{L"text IDC_DEVICE_NAME QV70 Tablet", L"text IDC_STATUS_LINE <IDS_30:QV70 Tablet>",
                L"text IDC_DETAIL_LINE <IDS_31>", L"enable IDC_BROWSE 1", L"enable IDC_UPGRADE 1",
                L"enable IDC_REPAIR 1", L"text IDC_DEVICE_SW_VERSION N/A",
                L"text IDC_DEVICE_LOADER_VERSION N/A", L"text IDC_DEVICE_SW_VERSION 4.4.2",
                L"text IDC_DEVICE_LOADER_VERSION 2.05", L"text IDC_DETAIL_LINE "}));
    EXPECT_EQ(w.b.state.g_findResult, 1);
    EXPECT_EQ(w.b.state.g_deviceInfo.identity, 42);
    EXPECT_STREQ(w.b.state.g_deviceInfo.devicePath, device.devicePath);
    EXPECT_EQ(w.b.state.g_deviceInfo.location, 7);
    EXPECT_EQ(w.b.state.g_deviceVersionRead, 1);
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0x0205);
    EXPECT_STREQ(w.b.model.m_deviceVersion.systemVersion, "4.4.2");

    // The same device again: nothing is rewritten, nothing read again.
    EXPECT_EQ(w.Cycle(), Script{});
    EXPECT_EQ(w.b.library.Calls().back(), "QV_FindDevice usb11=0");
}

TEST(DeviceWatcher, OtherKindsAreNamedAndNotAskedForVersions) {
    struct Case {
        int kind;
        std::wstring loaderName;
        const wchar_t *name;
        const wchar_t *status;
    } cases[] = {{QV_DEVICE_MASKROM, L"QV70 Loader", L"QV70 MaskRom", L"<IDS_30:QV70 MaskRom>"},
                 {QV_DEVICE_VESKUSB, L"QV70 Loader", L"QV70 MaskRom", L"<IDS_30:QV70 MaskRom>"},
                 {QV_DEVICE_LOADER, L"QV70 Loader", L"QV70 Loader", L"<IDS_30:QV70 Loader>"},
                 {QV_DEVICE_LOADER, L"", L"", L"<IDS_30:>"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        Watcher w;
        w.b.state.g_settings.DEVICE_ID_NAME = c.loaderName;
        w.Finds(1, MakeDevice(9, c.kind));
        w.Cycle();
        w.Cycle();
        EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_NAME), L"?"); // second cycle wrote nothing
        w.b.view.Clear();
        w.b.state.g_deviceInfo.identity = 0;
        w.Cycle();
        EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_NAME), c.name);
        EXPECT_EQ(w.b.view.Shown(IDC_STATUS_LINE), c.status);
        EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_SW_VERSION), L"N/A");
        EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_LOADER_VERSION), L"N/A");
        EXPECT_FALSE(w.b.library.Called("QV_GetDeviceVersion"));
    }
}

TEST(DeviceWatcher, FailedVersionReadIsRetriedEveryCycleUntilItSucceeds) {
    Watcher w;
    w.b.library.deviceVersionResults = {0, 0};
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));

    w.Cycle();
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_SW_VERSION), L"N/A");
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_LOADER_VERSION), L"N/A");
    EXPECT_EQ(w.b.state.g_deviceVersionRead, 0);
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0xFFFF);
    EXPECT_EQ(w.b.model.m_deviceVersion.loaderVersion[0],
              '\0'); // the failed read's bytes are not kept

    EXPECT_EQ(w.Cycle(), Script{}); // second failure: nothing changes
    EXPECT_EQ(w.Cycle(), (Script{L"text IDC_DEVICE_SW_VERSION 4.4.2",
                                 L"text IDC_DEVICE_LOADER_VERSION 2.05"}));
    EXPECT_EQ(w.b.state.g_deviceVersionRead, 1);
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0x0205);
    EXPECT_EQ(w.Cycle(), Script{});
}

TEST(DeviceWatcher, UnreadableLoaderVersionTextShowsButGivesNoVersion) {
    Watcher w;
    w.b.library.deviceLoaderText = "unknown";
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
    w.Cycle();
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_LOADER_VERSION), L"unknown");
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0xFFFF);
    EXPECT_EQ(w.b.state.g_deviceVersionRead, 1); // not asked again
}

// Texts of 512 characters with no terminating zero: each is shown cut to 259
// characters and parsed no further than its field's last byte but one.
TEST(DeviceWatcher, VersionTextsWithoutTerminatingZeroAreCutAndParsedWithinBounds) {
    Watcher w;
    const std::string loader = "1." + std::string(509, '0') + "7"; // the 7 is byte 512
    w.b.library.deviceLoaderText = loader;
    w.b.library.deviceSystemText = std::string(512, '9');
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
    w.Cycle();
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_LOADER_VERSION),
              std::wstring(loader.begin(), loader.begin() + 259));
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_SW_VERSION), std::wstring(259, L'9'));
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0x0100);
    const ANDROID_VERSION &held = w.b.model.m_deviceVersion;
    EXPECT_EQ(strnlen(held.loaderVersion, sizeof held.loaderVersion), 511u);
    EXPECT_EQ(strnlen(held.systemVersion, sizeof held.systemVersion), 511u);
    EXPECT_EQ(w.b.state.g_deviceVersionRead, 1);
}

TEST(DeviceWatcher, SeveralDevicesDisableTheJobsAndKeepTheRecord) {
    // Two is the smallest "several": a test with three alone would let a
    // watcher that counts from three pass.
    for (int count : {2, 3}) {
        SCOPED_TRACE(count);
        Watcher w;
        w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
        w.Cycle();
        w.Finds(count);

        EXPECT_EQ(w.Cycle(),
                  (Script{L"text IDC_STATUS_LINE <IDS_28>", L"text IDC_DETAIL_LINE <IDS_29>",
                          L"text IDC_DEVICE_NAME ", L"enable IDC_UPGRADE 0", L"enable IDC_REPAIR 0",
                          L"text IDC_DEVICE_SW_VERSION ", L"text IDC_DEVICE_LOADER_VERSION "}));
        EXPECT_EQ(w.b.state.g_findResult, count);
        EXPECT_EQ(w.b.state.g_deviceInfo.identity, 42);
        EXPECT_EQ(w.b.state.g_deviceVersionRead, 0);
        EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0xFFFF);
        // Still several: nothing new to say.
        EXPECT_EQ(w.Cycle(),
                  (Script{L"text IDC_STATUS_LINE <IDS_28>", L"text IDC_DETAIL_LINE <IDS_29>",
                          L"text IDC_DEVICE_NAME ", L"enable IDC_UPGRADE 0", L"enable IDC_REPAIR 0",
                          L"text IDC_DEVICE_SW_VERSION ", L"text IDC_DEVICE_LOADER_VERSION "}));

        // The others are pulled out and the device held before is the one
        // left: the window shows no device, so it is announced as new, with
        // its name, its versions and the buttons, within one cycle.
        w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
        EXPECT_EQ(
            w.Cycle(),
            (Script{L"text IDC_DEVICE_NAME QV70 Tablet",
                    L"text IDC_STATUS_LINE <IDS_30:QV70 Tablet>", L"text IDC_DETAIL_LINE <IDS_31>",
                    L"enable IDC_BROWSE 1", L"enable IDC_UPGRADE 1", L"enable IDC_REPAIR 1",
                    L"text IDC_DEVICE_SW_VERSION N/A", L"text IDC_DEVICE_LOADER_VERSION N/A",
                    L"text IDC_DEVICE_SW_VERSION 4.4.2", L"text IDC_DEVICE_LOADER_VERSION 2.05",
                    L"text IDC_DETAIL_LINE "}));
        EXPECT_EQ(w.b.state.g_findResult, 1);
        EXPECT_EQ(w.b.state.g_deviceInfo.identity, 42);
        EXPECT_EQ(w.b.state.g_deviceVersionRead, 1);
        EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0x0205);
        // From then on it is the held device again.
        EXPECT_EQ(w.Cycle(), Script{});
    }
}

// The device held before several devices is gone once for the listeners,
// however many cycles the several stay.
TEST(DeviceWatcher, SeveralDevicesTellTheHeldDeviceGoneOnce) {
    struct Gone : IJobEventListener {
        std::vector<std::wstring> identities;
        void OnDeviceGone(const std::wstring &identity) override { identities.push_back(identity); }
    } gone;
    JobEventHub events;
    events.AddListener(gone);
    Watcher w;
    w.b.context.events = &events;
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC, "SN0042"));
    w.Cycle();
    w.Finds(2);
    for (int cycle = 0; cycle < 3; ++cycle)
        w.Cycle();
    EXPECT_EQ(gone.identities, std::vector<std::wstring>{L"SN0042"});
    EXPECT_TRUE(events.ShownDevice().identity.empty());
}

// The device left over after several may be another than the one held.
TEST(DeviceWatcher, SeveralDevicesThenAnotherOneIsAnnounced) {
    for (int count : {2, 3}) {
        SCOPED_TRACE(count);
        Watcher w;
        w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
        w.Cycle();
        w.Finds(count);
        w.Cycle();
        w.Finds(1, MakeDevice(43, QV_DEVICE_LOADER));
        w.Cycle();
        EXPECT_EQ(w.b.state.g_deviceInfo.identity, 43);
        EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_NAME), L"QV70 Loader");
        EXPECT_EQ(w.b.view.Enabled(IDC_UPGRADE), 1);
        EXPECT_EQ(w.b.view.Enabled(IDC_REPAIR), 1);
    }
}

// Identity 0 is the program's own "no device": a search that reports one
// device without an identity shows none, and clears the device it replaces.
TEST(DeviceWatcher, OneDeviceWithoutIdentityIsNoDevice) {
    Watcher w;
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
    w.Cycle();
    w.Finds(1, MakeDevice(0, QV_DEVICE_MSC));
    EXPECT_EQ(w.Cycle(),
              (Script{L"text IDC_STATUS_LINE <IDS_38>", L"text IDC_DETAIL_LINE ",
                      L"text IDC_DEVICE_NAME ", L"enable IDC_UPGRADE 0", L"enable IDC_REPAIR 0",
                      L"text IDC_DEVICE_SW_VERSION ", L"text IDC_DEVICE_LOADER_VERSION "}));
    EXPECT_EQ(w.b.state.g_deviceInfo.identity, 0);
    EXPECT_EQ(w.Cycle(), (Script{L"text IDC_STATUS_LINE <IDS_38>"}));
}

TEST(DeviceWatcher, RemovedDeviceIsClearedOnceThenOnlyTheStatusIsRewritten) {
    Watcher w;
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
    w.Cycle();
    w.Finds(0);

    EXPECT_EQ(w.Cycle(),
              (Script{L"text IDC_STATUS_LINE <IDS_38>", L"text IDC_DETAIL_LINE ",
                      L"text IDC_DEVICE_NAME ", L"enable IDC_UPGRADE 0", L"enable IDC_REPAIR 0",
                      L"text IDC_DEVICE_SW_VERSION ", L"text IDC_DEVICE_LOADER_VERSION "}));
    EXPECT_EQ(w.b.state.g_deviceInfo.identity, 0);
    EXPECT_EQ(w.b.state.g_deviceInfo.devicePath[0], '\0');
    EXPECT_EQ(w.b.state.g_deviceVersionRead, 0);
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0xFFFF);
    EXPECT_EQ(w.b.state.g_findResult, 0);

    EXPECT_EQ(w.Cycle(), Script{L"text IDC_STATUS_LINE <IDS_38>"});
    w.Finds(-5); // a failing search counts as none
    EXPECT_EQ(w.Cycle(), Script{L"text IDC_STATUS_LINE <IDS_38>"});
}

TEST(DeviceWatcher, NoDeviceFromTheStartOnlyWritesTheStatus) {
    Watcher w;
    w.Finds(0);
    EXPECT_EQ(w.Cycle(), Script{L"text IDC_STATUS_LINE <IDS_38>"});
}

TEST(DeviceWatcher, DeviceWithANewIdentityReplacesTheHeldOne) {
    Watcher w;
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
    w.Cycle();
    w.Finds(1, MakeDevice(43, QV_DEVICE_MASKROM));
    w.Cycle();
    EXPECT_EQ(w.b.state.g_deviceInfo.identity, 43);
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_NAME), L"QV70 MaskRom");
    // The previous device's loader version must not pass for this one's.
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0xFFFF);
    EXPECT_EQ(w.b.state.g_deviceVersionRead, 0);
}

// After a job the window clears the record but not the version flag; the
// device announced again must have its versions read again, and retried.
TEST(DeviceWatcher, DeviceAnnouncedAgainAfterAJobHasItsVersionsReadAgain) {
    Watcher w;
    w.Finds(1, MakeDevice(42, QV_DEVICE_MSC));
    w.Cycle();
    ClearDeviceInfo(w.b.state.g_deviceInfo); // the result handler
    w.b.library.deviceVersionResults = {0};
    w.b.library.deviceLoaderText = "2.07";
    w.Cycle();
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_LOADER_VERSION), L"N/A");
    w.Cycle();
    EXPECT_EQ(w.b.view.Shown(IDC_DEVICE_LOADER_VERSION), L"2.07");
    EXPECT_EQ(w.b.model.m_deviceLoaderVersion, 0x0207);
}

TEST(DeviceWatcher, SearchUsesTheUsb11Setting) {
    Watcher w;
    w.b.state.g_supportUsb11 = 1;
    w.Finds(0);
    w.Cycle();
    EXPECT_EQ(w.b.library.Calls(), std::vector<std::string>{"QV_FindDevice usb11=1"});
}

TEST(DeviceWatchThread, SleepsWhilePausedAndEndsWhenTheGateCloses) {
    Bench b;
    b.library.finds = {{0, DEVICE_INFO{}}};
    int sleeps = 0;
    b.clock.onSleep = [&](uint32_t) {
        ++sleeps;
        if (sleeps == 3) b.state.g_jobActive = 1;
        if (sleeps == 5) b.state.g_jobActive = 0;
        if (sleeps == 7) b.gate.Close([](uint32_t) {}, 0);
    };
    DeviceWatchThread(b.context);

    EXPECT_EQ(b.clock.Sleeps(), std::vector<uint32_t>(7, 200));
    EXPECT_EQ(b.library.Calls().size(), 5u); // cycles 1-3 and 6-7
}

TEST(DeviceWatchThread, ACycleThatThrowsIsGivenUpAndTheNextOneRuns) {
    Bench b;
    int finds = 0;
    b.library.onFind = [&] {
        if (++finds == 1) throw std::bad_alloc();
    };
    b.clock.onSleep = [&](uint32_t) {
        if (b.clock.Sleeps().size() == 2) b.gate.Close([](uint32_t) {}, 0);
    };
    DeviceWatchThread(b.context);
    EXPECT_EQ(finds, 2);
    EXPECT_TRUE(b.gate.Close([](uint32_t) {}, 0)); // the failed cycle did not stay open
}

TEST(DeviceRecord, CopyTakesEveryByteOfTheRecord) {
    for (const DEVICE_INFO &source :
         {MakeDevice(5, QV_DEVICE_LOADER), MakeFullDevice(5, QV_DEVICE_LOADER)}) {
        DEVICE_INFO target;
        std::memset(&target, 0x5A, sizeof target);
        CopyDeviceInfo(source, target);
        EXPECT_EQ(std::memcmp(&target, &source, sizeof target), 0);
    }
    DEVICE_INFO target = MakeFullDevice(5, QV_DEVICE_LOADER);
    EXPECT_EQ(target.serialNumber[sizeof target.serialNumber - 1], 'S'); // no zero anywhere

    ClearDeviceInfo(target);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&target);
    for (size_t i = 0; i < sizeof target; ++i)
        ASSERT_EQ(bytes[i], 0) << i;
}

} // namespace
