// Figures of the device operations' own cost, against a library that answers
// at once (so what is measured is the program, not the device):
//   - CPU per watcher cycle in each steady state, and what that makes of a
//     core at one cycle per 200 ms;
//   - a job's own time beyond the waits it must make (2000 ms before the
//     switch, 1000 ms after the reset), which a clock that only counts skips.
// Usage: device_bench [cycles]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "device/device_watcher.h"
#include "device/upgrade_job.h"
#include "tests/fakes/device_fakes.h"
#include "tests/fakes/driver_fakes.h"

namespace {

// The window's calls cost a message each in the program; here nothing.
class NullView : public IMainView {
  public:
    void SetItemText(int, const std::wstring &) override {}
    void EnableItem(int, bool) override {}
    int ShowMessage(const std::wstring &, const std::optional<std::wstring> &, unsigned) override {
        return mb::kIdOk;
    }
    void StartBusy() override {}
    void StopBusy() override {}
    void ResetBusy() override {}
    void StartTimer(int, unsigned) override {}
    void StopTimer(int) override {}
    void PostUpgradeResult(int, int) override {}
};

// Answers every call at once and keeps no log.
class QuietLibrary : public fakes::FakeDeviceLibrary {
  public:
    int found = 1;
    DEVICE_INFO device = fakes::MakeDevice(42, QV_DEVICE_MSC);
    int QV_FindDevice(DEVICE_INFO *out, int) override {
        if (found == 1) *out = device;
        return found;
    }
    int QV_GetDeviceVersion(DEVICE_INFO *, ANDROID_VERSION *version) override {
        std::snprintf(version->loaderVersion, sizeof version->loaderVersion, "2.05");
        std::snprintf(version->systemVersion, sizeof version->systemVersion, "4.4.2");
        return 1;
    }
    int QV_SwitchVeskUsb(DEVICE_INFO *) override { return 1; }
    int QV_WaitDevice(DEVICE_INFO *, int, uint16_t, int) override { return 1; }
    int QV_Upgrade(DEVICE_INFO *, uint32_t, uint32_t, uint32_t, const char *, int, int) override {
        return 0;
    }
    int QV_ResetDevice(DEVICE_INFO *) override { return 1; }
    int QV_DownloadImage(DEVICE_INFO *, const char *) override { return 1; }
    int QV_EraseIDB(DEVICE_INFO *, uint16_t, int, const char *) override { return 1; }
};

struct World {
    QuietLibrary library;
    NullView view;
    fakes::FakeTexts texts;
    fakes::FakeCodec codec;
    FakeFileSystem files;
    fakes::FakeProfile profile;
    fakes::FakeClock clock;
    ProcessState state;
    MainWindowModel model;
    WorkerGate gate;
    Platform platform{profile, files, codec, clock};
    DeviceContext context{state, model, library, view, texts, platform, gate};
};

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

template <class Setup> void MeasureCycles(const char *name, int cycles, Setup setup) {
    World world;
    DEVICE_INFO working{};
    const double start = CpuSeconds();
    for (int i = 0; i < cycles; ++i) {
        setup(world);
        world.gate.BeginWatchCycle(world.state.g_jobActive);
        RunWatchCycle(world.context, working);
        world.gate.EndWatchCycle();
    }
    const double perCycleUs = (CpuSeconds() - start) * 1e6 / cycles;
    std::printf("watcher cycle, %-28s %8.3f us CPU  (%.5f%% of a core at 200 ms)\n", name,
                perCycleUs, perCycleUs / 200000.0 * 100.0);
}

void MeasureJob(const char *name, int jobs, int kind, JobMode mode) {
    double totalMs = 0;
    uint64_t waitedMs = 0;
    for (int i = 0; i < jobs; ++i) {
        World world;
        world.state.g_deviceInfo = fakes::MakeDevice(42, kind);
        world.state.g_settings.FIRMWARE = L"C:\\Images\\update.img";
        world.state.g_loaderFilePath = L"C:\\Temp\\QVBOOT.BIN";
        world.state.g_programFolder = L"C:\\QV\\";
        world.profile.ints[L"SYSTEM/ERASE_IDB"] = 1;
        fakes::FakeProcessRunner runner;
        fakes::FakeSystemInfo system;
        const auto start = std::chrono::steady_clock::now();
        UpgradeThread(world.context, runner, system, mode);
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        waitedMs = world.clock.TickMs();
    }
    std::printf("job, %-36s %8.4f ms beyond %llu ms of prescribed waits\n", name, totalMs / jobs,
                static_cast<unsigned long long>(waitedMs));
}

} // namespace

int main(int argc, char **argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 200000;
    MeasureCycles("same device held:", cycles, [](World &) {});
    MeasureCycles("no device:", cycles, [](World &w) { w.library.found = 0; });
    MeasureCycles("several devices:", cycles, [](World &w) { w.library.found = 2; });
    MeasureCycles("new kind-4 device each time:", cycles,
                  [](World &w) { w.state.g_deviceInfo.identity = 0; });
    MeasureJob("upgrade of a loader device:", 2000, QV_DEVICE_LOADER, kModeUpgrade);
    MeasureJob("repair of a kind-4 device:", 2000, QV_DEVICE_MSC, kModeRepair);
    return 0;
}
