// The station's own time per device on the unthrottled bench (run by hand,
// not a test), against the watcher's 200 ms period:
//   - from a device plugged in to the job's first library call (a loader
//     device, whose job begins with QV_Upgrade: no prescribed wait lies
//     between);
//   - from the device taken away after its job to the station ready for the
//     next one.
// Goal: under 0.5 s added per device. The real session runs in this process
// on the simulated library loaded from a copy of the distribution folder.
//
//   QV_BENCH_DEVICES=N station_bench     (10 devices unless told)
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/platform_win.h"
#include "base/worker_threads_win.h"
#include "device/device_library_win.h"
#include "device/device_watcher.h"
#include "device/job_facts_win.h"
#include "device/process_runner_win.h"
#include "device/system_info_win.h"
#include "station/station_session.h"
#include "tests/e2e/program_run_win.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The loaded library, with the time of each job's first write noted.
class TimedLibrary : public IDeviceLibrary {
  public:
    explicit TimedLibrary(IDeviceLibrary &inner) : m_inner(inner) {}
    std::atomic<int> upgrades{0};
    Clock::time_point lastUpgrade;

    int DllInitialize() override { return m_inner.DllInitialize(); }
    int DllDeInitialize() override { return m_inner.DllDeInitialize(); }
    int SetLogPath(const char *f) override { return m_inner.SetLogPath(f); }
    int SetLoaderRestoreFlag(int f) override { return m_inner.SetLoaderRestoreFlag(f); }
    int SetEraseUserSection(int f) override { return m_inner.SetEraseUserSection(f); }
    int SetMainWindowHwnd(HWND w) override { return m_inner.SetMainWindowHwnd(w); }
    int SetVidPid(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e, uint16_t f) override {
        return m_inner.SetVidPid(a, b, c, d, e, f);
    }
    // The end of the watcher's first search that found what the test waits
    // for: that much of the time is the watcher's period, not the station's.
    int QV_FindDevice(DEVICE_INFO *d, int u) override {
        const int found = m_inner.QV_FindDevice(d, u);
        std::lock_guard<std::mutex> lock(guard);
        if (found != lastFound) {
            lastFound = found;
            lastFoundChange = Clock::now();
        }
        return found;
    }
    int lastFound = 0;
    Clock::time_point lastFoundChange;
    int QV_GetDeviceVersion(DEVICE_INFO *d, ANDROID_VERSION *v) override {
        return m_inner.QV_GetDeviceVersion(d, v);
    }
    int QV_GetImageSize(const char *i, uint32_t *s) override {
        return m_inner.QV_GetImageSize(i, s);
    }
    int QV_GetLoaderVersion(const char *i, uint16_t *v) override {
        return m_inner.QV_GetLoaderVersion(i, v);
    }
    int QV_GetSystemVersion(const char *i, uint32_t *v) override {
        return m_inner.QV_GetSystemVersion(i, v);
    }
    int ExtractLoaderFile(const char *i, const char *l) override {
        return m_inner.ExtractLoaderFile(i, l);
    }
    int QV_EraseIDB(DEVICE_INFO *d, uint16_t c, int u, const char *l) override {
        return m_inner.QV_EraseIDB(d, c, u, l);
    }
    int QV_Upgrade(DEVICE_INFO *d, uint32_t s, uint32_t l, uint32_t p, const char *f, int m,
                   int r) override {
        {
            std::lock_guard<std::mutex> lock(guard);
            lastUpgrade = Clock::now();
        }
        ++upgrades;
        return m_inner.QV_Upgrade(d, s, l, p, f, m, r);
    }
    int QV_ResetDevice(DEVICE_INFO *d) override { return m_inner.QV_ResetDevice(d); }
    int QV_WaitDevice(DEVICE_INFO *d, int k, uint16_t c, int u) override {
        return m_inner.QV_WaitDevice(d, k, c, u);
    }
    int QV_DownloadImage(DEVICE_INFO *d, const char *i) override {
        return m_inner.QV_DownloadImage(d, i);
    }
    int QV_SwitchVeskUsb(DEVICE_INFO *d) override { return m_inner.QV_SwitchVeskUsb(d); }
    int QVIsVeskUsbPlug() override { return m_inner.QVIsVeskUsbPlug(); }
    int QVInstallDriver(const char *f) override { return m_inner.QVInstallDriver(f); }
    std::mutex guard;

  private:
    IDeviceLibrary &m_inner;
};

// Lines with the time they were printed.
class TimedOutput : public IStationOutput {
  public:
    void Out(const std::wstring &line) override { Add(line); }
    void Err(const std::wstring &line) override { Add(line); }
    std::wstring TimeStamp() override { return L""; }
    // Waits for a line holding the text, after the given number of such
    // lines; returns when it was printed.
    bool WaitFor(const std::wstring &text, int seen, Clock::time_point &at, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(m_guard);
                int count = 0;
                for (const auto &line : m_lines) {
                    if (line.second.find(text) == std::wstring::npos) continue;
                    if (++count > seen) {
                        at = line.first;
                        return true;
                    }
                }
            }
            Sleep(1);
        }
        return false;
    }

  private:
    void Add(const std::wstring &line) {
        std::lock_guard<std::mutex> lock(m_guard);
        m_lines.push_back({Clock::now(), line});
    }
    std::mutex m_guard;
    std::vector<std::pair<Clock::time_point, std::wstring>> m_lines;
};

struct Figures {
    std::vector<double> plugToJob, removalToReady, verdictToRemoveNotice;
    std::vector<double> foundToJob, goneToReady; // the station's own share
};

void Print(const char *what, std::vector<double> values) {
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values)
        sum += v;
    std::printf("%-44s median %6.0f ms  mean %6.0f ms  max %6.0f ms  (%zu devices)\n", what,
                values[values.size() / 2], sum / values.size(), values.back(), values.size());
}

TEST(StationBench, OverheadPerDevice) {
    int devices = 10;
    if (const char *n = std::getenv("QV_BENCH_DEVICES")) devices = std::max(1, std::atoi(n));
    e2e::ProgramRun run("bench-station");
    qvsim::Bench &bench = run.Bench();
    SetEnvironmentVariableW(L"QVSIM_BENCH", (run.Folder() + L"Bench").c_str());

    std::wstring error;
    std::unique_ptr<LoadedDeviceLibrary> loaded = LoadedDeviceLibrary::Load(run.Folder(), error);
    ASSERT_TRUE(loaded) << std::string(error.begin(), error.end());
    TimedLibrary library(*loaded);
    ProfileReaderWin profile;
    FileSystemWin files;
    TextCodecWin codec;
    ClockWin clock;
    Platform platform{profile, files, codec, clock};
    ProcessRunnerWin runner;
    SystemInfoWin system;
    JobRecordStoreWin store;
    TimedOutput output;
    WorkerGate gate;
    auto *state = new ProcessState; // the detached watcher outlives this test
    state->g_programFolder = run.Folder();
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    state->g_tempFolder = temp;

    std::mutex resultsGuard;
    std::deque<std::pair<int, int>> results;
    // The threads end with the process, as the station's own do.
    auto *workers = new WorkerThreads;
    StationServices services{
        *state,
        library,
        platform,
        runner,
        system,
        store,
        output,
        gate,
        [workers](std::function<void()> body) { return workers->Start(std::move(body)); },
        [&](int mode, int code) {
            std::lock_guard<std::mutex> lock(resultsGuard);
            results.push_back({mode, code});
        },
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        [workers](std::function<void()> task) { return workers->RunShortTask(std::move(task)); },
        nullptr,
        L""};
    StationOptions options;
    ASSERT_TRUE(
        ParseStationArguments({L"--station", L"--upgrade", run.SampleImage()}, options, error));
    auto *session = new StationSession(services, options);
    ASSERT_EQ(session->LoadSettings(), 0);
    ASSERT_EQ(session->Prepare(clock.TickMs()), 0);
    const std::wstring waiting = session->Text(L"IDS_200");
    const std::wstring remove = session->Text(L"IDS_201");
    const std::wstring verdict = session->Text(L"IDS_262");

    std::atomic<bool> done{false};
    std::thread loop([&] {
        while (!done) {
            std::deque<std::pair<int, int>> pending;
            {
                std::lock_guard<std::mutex> lock(resultsGuard);
                pending.swap(results);
            }
            for (const auto &result : pending)
                session->OnJobResult(result.first, result.second, clock.TickMs(), false);
            session->Tick(clock.TickMs(), false);
            Sleep(20); // the program's main loop period
        }
    });

    Figures figures;
    for (int device = 0; device < devices; ++device) {
        qvsim::DeviceSetup setup;
        setup.kind = QV_DEVICE_LOADER;
        // Plugged at any point of the watcher's period, as a hand would.
        Sleep(static_cast<DWORD>(std::rand() % kWatchPeriodMs));
        const int upgradesBefore = library.upgrades;
        const Clock::time_point plugged = Clock::now();
        const int32_t id = bench.Plug(setup);
        ASSERT_NE(id, 0);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (library.upgrades == upgradesBefore && Clock::now() < deadline)
            Sleep(1);
        ASSERT_GT(library.upgrades, upgradesBefore) << "no job for device " << device;
        {
            std::lock_guard<std::mutex> lock(library.guard);
            figures.plugToJob.push_back(MsBetween(plugged, library.lastUpgrade));
            figures.foundToJob.push_back(MsBetween(library.lastFoundChange, library.lastUpgrade));
        }
        Clock::time_point verdictAt, removeAt, readyAt;
        ASSERT_TRUE(output.WaitFor(verdict, device, verdictAt, 30000));
        ASSERT_TRUE(output.WaitFor(remove, device, removeAt, 30000));
        figures.verdictToRemoveNotice.push_back(MsBetween(verdictAt, removeAt));
        Sleep(static_cast<DWORD>(std::rand() % kWatchPeriodMs));
        const Clock::time_point unplugged = Clock::now();
        ASSERT_TRUE(bench.Unplug(id));
        ASSERT_TRUE(output.WaitFor(waiting, device + 1, readyAt, 10000));
        figures.removalToReady.push_back(MsBetween(unplugged, readyAt));
        std::lock_guard<std::mutex> lock(library.guard);
        figures.goneToReady.push_back(MsBetween(library.lastFoundChange, readyAt));
    }
    done = true;
    loop.join();

    std::printf("station overhead per device, watcher period %u ms:\n", kWatchPeriodMs);
    Print("plug-in to the job's first library call", figures.plugToJob);
    Print("device taken away to ready for the next", figures.removalToReady);
    Print("verdict to device back (reboot included)", figures.verdictToRemoveNotice);
    Print("  watcher found it to first library call", figures.foundToJob);
    Print("  watcher saw it gone to ready", figures.goneToReady);
    std::vector<double> added, own;
    for (size_t i = 0; i < figures.plugToJob.size(); ++i) {
        added.push_back(figures.plugToJob[i] + figures.removalToReady[i]);
        own.push_back(figures.foundToJob[i] + figures.goneToReady[i]);
    }
    Print("added per device, watcher included (< 500)", added);
    Print("added per device by the station alone", own);
    session->Shutdown();
}

} // namespace
