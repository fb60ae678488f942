#include "sim/bench.h"

#include "sim/file_util.h"
#include "sim/key_value_file.h"
#include "sim/versions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace qvsim {

namespace {

constexpr const char *kDevicePrefix = "device-";
// Windows refuses to remove a file another program has open, and the library
// reads a device's file at every search: a hand pulling the cable is never
// refused, so an unplug tries again for a moment.
constexpr int kUnplugAttempts = 50;
constexpr std::chrono::milliseconds kUnplugRetry{20};
constexpr const char *kDeviceSuffix = ".ini";

// A lock shared by every process that writes the bench: a folder that only
// one can create. A holder that died leaves it behind; after a few seconds it
// counts as stale and is taken over. Holders keep it for milliseconds.
class BenchLock {
  public:
    explicit BenchLock(const fs::path &folder) : m_path(folder / "bench.lock") {
        std::error_code ec;
        fs::create_directories(folder, ec);
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (!(m_owned = fs::create_directory(m_path, ec))) {
            const auto made = fs::last_write_time(m_path, ec);
            if (!ec && fs::file_time_type::clock::now() - made > 5s) {
                fs::remove(m_path, ec);
                continue;
            }
            // Better an unguarded write than a bench that hangs everyone.
            if (std::chrono::steady_clock::now() > deadline) return;
            std::this_thread::sleep_for(1ms);
        }
    }
    ~BenchLock() {
        std::error_code ec;
        if (m_owned) fs::remove(m_path, ec);
    }
    BenchLock(const BenchLock &) = delete;
    BenchLock &operator=(const BenchLock &) = delete;

  private:
    fs::path m_path;
    bool m_owned = false;
};

int ToInt(const KeyValues &values, const char *key, int fallback, int low, int high) {
    const auto it = values.find(key);
    int64_t value = 0;
    if (it == values.end() || !ParseInt(it->second, value) || value < low || value > high)
        return fallback;
    return static_cast<int>(value);
}

std::string Text(const KeyValues &values, const char *key, const std::string &fallback) {
    const auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

const char *StageName(Stage stage) {
    switch (stage) {
    case Stage::LoaderWritten:
        return "loader-written";
    case Stage::SystemWritten:
        return "system-written";
    case Stage::Idle:
        break;
    }
    return "idle";
}

Stage StageFromName(const std::string &name) {
    if (name == "loader-written") return Stage::LoaderWritten;
    if (name == "system-written") return Stage::SystemWritten;
    return Stage::Idle;
}

bool DeviceIdFromFileName(const std::string &name, int32_t &id) {
    const std::string prefix = kDevicePrefix, suffix = kDeviceSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix))
        return false;
    int64_t value = 0;
    if (!ParseInt(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()), value) ||
        value <= 0 || value > 0x7FFFFFFF)
        return false;
    id = static_cast<int32_t>(value);
    return true;
}

} // namespace

int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string LocalTimeStamp() {
    static std::mutex clockMutex; // std::localtime shares one buffer
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const int millis =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000);
    char stamp[40] = "";
    std::lock_guard<std::mutex> guard(clockMutex);
    if (const std::tm *local = std::localtime(&seconds)) {
        const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
        std::snprintf(stamp + n, sizeof stamp - n, ".%03d", millis);
    }
    return stamp;
}

int BenchSettings::Value(Fault fault) const {
    const auto it = faults.find(fault);
    return it == faults.end() ? 0 : it->second;
}

std::string FormatSettings(const BenchSettings &s) {
    KeyValues values;
    values["driver"] = s.driverInstalled ? "installed" : "missing";
    values["switch_delay_ms"] = std::to_string(s.switchDelayMs);
    values["reset_delay_ms"] = std::to_string(s.resetDelayMs);
    values["wait_interval_ms"] = std::to_string(s.waitIntervalMs);
    values["upgrade_ms"] = std::to_string(s.upgradeMs);
    values["erase_ms"] = std::to_string(s.eraseMs);
    values["download_speed"] = std::to_string(s.downloadBytesPerSecond);
    std::string kinds;
    for (int kind : s.questions)
        kinds += (kinds.empty() ? "" : ",") + std::to_string(kind);
    values["questions"] = kinds;
    values["record"] = s.fullRecord ? "full" : "plain";
    for (const auto &[fault, value] : s.faults)
        values[std::string("fault.") + FaultName(fault)] = std::to_string(value);
    return FormatKeyValues(values, "QV70 simulated bench: settings (docs/simulated-bench.md)");
}

BenchSettings ParseSettings(const std::string &text) {
    const KeyValues values = ParseKeyValues(text);
    BenchSettings s;
    s.driverInstalled = Text(values, "driver", "missing") == "installed";
    const int day = 24 * 3600 * 1000;
    s.switchDelayMs = ToInt(values, "switch_delay_ms", s.switchDelayMs, 0, day);
    s.resetDelayMs = ToInt(values, "reset_delay_ms", s.resetDelayMs, 0, day);
    s.waitIntervalMs = ToInt(values, "wait_interval_ms", s.waitIntervalMs, 1, 60000);
    s.upgradeMs = ToInt(values, "upgrade_ms", s.upgradeMs, 0, day);
    s.eraseMs = ToInt(values, "erase_ms", s.eraseMs, 0, day);
    uint64_t speed = 0;
    if (ParseByteCount(Text(values, "download_speed", "0"), speed))
        s.downloadBytesPerSecond = speed;
    s.fullRecord = Text(values, "record", "plain") == "full";
    std::istringstream kinds(Text(values, "questions", ""));
    std::string kind;
    while (std::getline(kinds, kind, ',')) {
        int64_t value = 0;
        if (ParseInt(kind, value) && value >= 0 && value <= 2) s.questions.insert(int(value));
    }
    for (const auto &[key, value] : values) {
        Fault fault;
        int64_t number = 0;
        if (key.compare(0, 6, "fault.") == 0 && FaultFromName(key.substr(6), fault) &&
            ParseInt(value, number) && number >= INT32_MIN && number <= INT32_MAX)
            s.faults[fault] = static_cast<int>(number);
    }
    return s;
}

std::string FormatDevice(const DeviceRecord &d) {
    KeyValues values;
    values["kind"] = std::to_string(d.setup.kind);
    values["loader"] = d.setup.loaderVersion;
    values["system"] = d.setup.systemVersion;
    values["serial"] = d.setup.serial;
    values["stage"] = StageName(d.stage);
    values["pending_system"] = d.pendingSystemVersion;
    values["available_at"] = std::to_string(d.availableAtMs);
    values["lost"] = d.lost ? "1" : "0";
    values["erase_count"] = std::to_string(d.eraseCount);
    return FormatKeyValues(values, "QV70 simulated device (docs/simulated-bench.md)");
}

std::optional<DeviceRecord> ParseDevice(int32_t id, const std::string &text) {
    const KeyValues values = ParseKeyValues(text);
    DeviceRecord d;
    d.setup.id = id;
    d.setup.kind = ToInt(values, "kind", 0, 1, 4);
    if (d.setup.kind == 0) return std::nullopt; // not a device file we can use
    d.setup.loaderVersion = Text(values, "loader", d.setup.loaderVersion);
    d.setup.systemVersion = Text(values, "system", d.setup.systemVersion);
    d.setup.serial = Text(values, "serial", "");
    d.stage = StageFromName(Text(values, "stage", "idle"));
    d.pendingSystemVersion = Text(values, "pending_system", "");
    int64_t at = 0;
    if (ParseInt(Text(values, "available_at", "0"), at)) d.availableAtMs = at;
    d.lost = Text(values, "lost", "0") == "1";
    d.eraseCount = ToInt(values, "erase_count", 0, 0, INT32_MAX);
    return d;
}

Bench::Bench(fs::path folder) : m_folder(std::move(folder)) {}

fs::path Bench::SettingsPath() const {
    return m_folder / "bench.ini";
}
fs::path Bench::DevicePath(int32_t id) const {
    return m_folder / (kDevicePrefix + std::to_string(id) + kDeviceSuffix);
}
fs::path Bench::StoragePath(int32_t id) const {
    return m_folder / (kDevicePrefix + std::to_string(id) + ".storage");
}
fs::path Bench::LogPath() const {
    return m_folder / "bench.log";
}

BenchSettings Bench::Settings() const {
    std::string text;
    ReadSmallFile(SettingsPath(), text);
    return ParseSettings(text);
}

bool Bench::SetSettings(const BenchSettings &settings) {
    BenchLock lock(m_folder);
    return WriteFileAtomically(SettingsPath(), FormatSettings(settings));
}

bool Bench::UpdateSettings(const std::function<void(BenchSettings &)> &change) {
    BenchLock lock(m_folder);
    BenchSettings settings = Settings();
    change(settings);
    return WriteFileAtomically(SettingsPath(), FormatSettings(settings));
}

bool Bench::SetFault(Fault fault, std::optional<int> value) {
    return UpdateSettings(
        [&](BenchSettings &s) { s.faults[fault] = value ? *value : FaultDefaultValue(fault); });
}

bool Bench::ClearFault(Fault fault) {
    return UpdateSettings([&](BenchSettings &s) { s.faults.erase(fault); });
}

bool Bench::ClearFaults() {
    return UpdateSettings([](BenchSettings &s) { s.faults.clear(); });
}

bool Bench::SetDriverInstalled(bool installed) {
    return UpdateSettings([&](BenchSettings &s) { s.driverInstalled = installed; });
}

int32_t Bench::Plug(const DeviceSetup &setup) {
    if (setup.kind < 1 || setup.kind > 4 || setup.id < 0) return 0;
    BenchLock lock(m_folder);
    DeviceRecord record;
    record.setup = setup;
    if (record.setup.id == 0) {
        int32_t highest = 0;
        for (const DeviceRecord &d : Devices())
            highest = std::max(highest, d.setup.id);
        record.setup.id = highest + 1;
    }
    if (record.setup.withoutSerial) {
        record.setup.serial.clear();
    } else if (record.setup.serial.empty()) {
        char serial[20];
        std::snprintf(serial, sizeof serial, "QV70SIM%06d", int(record.setup.id % 1000000));
        record.setup.serial = serial;
    }
    if (!WriteFileAtomically(DevicePath(record.setup.id), FormatDevice(record))) return 0;
    Log("device " + std::to_string(record.setup.id) + " plugged in as kind " +
        std::to_string(record.setup.kind) + ", loader " + record.setup.loaderVersion + ", system " +
        record.setup.systemVersion);
    return record.setup.id;
}

bool Bench::Unplug(int32_t id) {
    BenchLock lock(m_folder);
    for (int attempt = 0; attempt < kUnplugAttempts; ++attempt) {
        std::error_code ec;
        if (fs::remove(DevicePath(id), ec)) {
            Log("device " + std::to_string(id) + " unplugged");
            return true;
        }
        if (!fs::exists(DevicePath(id), ec)) return false;
        std::this_thread::sleep_for(kUnplugRetry);
    }
    return false;
}

bool Bench::UnplugAll() {
    bool all = true;
    for (const DeviceRecord &d : Devices())
        all = Unplug(d.setup.id) && all;
    return all;
}

std::optional<DeviceRecord> Bench::Device(int32_t id) const {
    std::string text;
    if (id <= 0 || !ReadSmallFile(DevicePath(id), text)) return std::nullopt;
    return ParseDevice(id, text);
}

std::vector<DeviceRecord> Bench::Devices() const {
    std::vector<DeviceRecord> devices;
    std::error_code ec;
    for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
        int32_t id = 0;
        if (!DeviceIdFromFileName(it->path().filename().string(), id)) continue;
        // A device unplugged between the listing and the read is simply gone.
        if (auto device = Device(id)) devices.push_back(*device);
    }
    std::sort(devices.begin(), devices.end(),
              [](const DeviceRecord &a, const DeviceRecord &b) { return a.setup.id < b.setup.id; });
    return devices;
}

bool Bench::UpdateDevice(int32_t id, const std::function<bool(DeviceRecord &)> &change) {
    BenchLock lock(m_folder);
    std::optional<DeviceRecord> device = Device(id);
    if (!device) return false;
    if (!change(*device)) return true;
    return WriteFileAtomically(DevicePath(id), FormatDevice(*device));
}

void Bench::Log(const std::string &event) const {
    const std::string stamp = LocalTimeStamp();
    std::error_code ec;
    fs::create_directories(m_folder, ec);
    // One write per line in append mode: lines from several processes interleave
    // whole.
    const std::string line = stamp + " " + event + "\n";
    if (FilePtr file = OpenFile(LogPath(), "ab"))
        std::fwrite(line.data(), 1, line.size(), file.get());
}

std::string Bench::ReadLog() const {
    std::string text;
    ReadSmallFile(LogPath(), text, size_t(64) << 20);
    return text;
}

} // namespace qvsim
