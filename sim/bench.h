// The bench of virtual devices, kept in files in one folder so that the
// library, the tools, the tests and a user at an editor all see the same
// devices (docs/simulated-bench.md):
//   bench.ini            settings, faults and questions
//   device-<id>.ini      one plugged-in device each
//   device-<id>.storage  what was last written to that device's storage
//   bench.log            what happened to the devices
// Every reader reads the files afresh; every writer replaces a whole file.
#pragma once

#include "sim/faults.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qvsim {

struct BenchSettings {
    bool driverInstalled = false;        // the host's VeskUsb driver
    int switchDelayMs = 500;             // QV_SwitchVeskUsb until the device is back
    int resetDelayMs = 1500;             // QV_ResetDevice until the device is back
    int waitIntervalMs = 250;            // QV_WaitDevice polls count times at this interval
    int upgradeMs = 500;                 // QV_Upgrade writing the loader
    int eraseMs = 300;                   // QV_EraseIDB
    uint64_t downloadBytesPerSecond = 0; // 0: as fast as the files go
    std::set<int> questions;             // question kinds asked besides the loader question
    // Records filled to the last byte of every opaque field (texts without a
    // terminating zero), and handed back only exactly as filled.
    bool fullRecord = false;
    std::map<Fault, int> faults; // fault and its value

    bool Has(Fault fault) const { return faults.count(fault) != 0; }
    int Value(Fault fault) const;
};

// What a test or the tool chooses when plugging a device in. Version texts are
// kept as given, so odd texts reach the program as they would from a device.
struct DeviceSetup {
    int32_t id = 0; // 0: the next free number
    int kind = 4;   // 1 mask-ROM, 2 loader, 3 VeskUsb, 4 mass storage
    std::string loaderVersion = "2.05";
    std::string systemVersion = "1.0.0";
    std::string serial; // empty: made from the id
    // Reports no serial number at all, as some devices do; serial is ignored.
    bool withoutSerial = false;
};

enum class Stage {
    Idle,          // nothing pending
    LoaderWritten, // QV_Upgrade done: the next reset brings up the loader (kind 2)
    SystemWritten, // QV_DownloadImage done: the next reset brings up the new system (kind 4)
};

struct DeviceRecord {
    DeviceSetup setup; // setup.kind is the kind it shows now
    Stage stage = Stage::Idle;
    std::string pendingSystemVersion; // shown after the reset that ends SystemWritten
    int64_t availableAtMs = 0;        // rebooting until then (wall clock, ms since 1970)
    bool lost = false;                // gone until plugged in again
    int eraseCount = 0;

    // Connected and answering now.
    bool PresentAt(int64_t nowMs) const { return !lost && availableAtMs <= nowMs; }
};

int64_t WallClockMs();
// "2024-05-01 12:00:00.123" in local time, for log lines.
std::string LocalTimeStamp();

class Bench {
  public:
    explicit Bench(std::filesystem::path folder);

    const std::filesystem::path &Folder() const { return m_folder; }
    std::filesystem::path SettingsPath() const;
    std::filesystem::path DevicePath(int32_t id) const;
    std::filesystem::path StoragePath(int32_t id) const;
    std::filesystem::path LogPath() const;

    // Settings: defaults when the file is missing; unknown or bad values are
    // left at their defaults.
    BenchSettings Settings() const;
    bool SetSettings(const BenchSettings &settings);
    bool UpdateSettings(const std::function<void(BenchSettings &)> &change);
    bool SetFault(Fault fault, std::optional<int> value = std::nullopt);
    bool ClearFault(Fault fault);
    bool ClearFaults();
    bool SetDriverInstalled(bool installed);

    // Devices. Plug returns the id, 0 on failure; plugging an id that is in
    // use replaces that device.
    int32_t Plug(const DeviceSetup &setup);
    bool Unplug(int32_t id);
    bool UnplugAll();
    std::optional<DeviceRecord> Device(int32_t id) const;
    std::vector<DeviceRecord> Devices() const; // sorted by id
    // Read, change and write one device under the bench lock; change returns
    // false to leave it as it was. False when the device is not plugged in.
    bool UpdateDevice(int32_t id, const std::function<bool(DeviceRecord &)> &change);

    // The device log, one line per event.
    void Log(const std::string &event) const;
    std::string ReadLog() const;

  private:
    std::filesystem::path m_folder;
};

// Text forms, shared with the tool's printout.
std::string FormatSettings(const BenchSettings &settings);
BenchSettings ParseSettings(const std::string &text);
std::string FormatDevice(const DeviceRecord &device);
std::optional<DeviceRecord> ParseDevice(int32_t id, const std::string &text);

} // namespace qvsim
