#include "sim/sim_library.h"

#include "sim/driver_install.h"
#include "sim/file_util.h"
#include "sim/versions.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace qvsim {

namespace {

constexpr uint64_t kFourGiB = 0x100000000ull;
// While throttled, the download writes in pieces this small, so that a pulled
// cable or a release is noticed within a fraction of a second.
constexpr size_t kThrottlePiece = 256 << 10;
constexpr int64_t kPresenceCheckMs = 200;
// Followed by the port's number (the device's location on the bus).
const char kPortInstancePrefix[] = "5&port&0&";

std::string Quoted(const char *text) {
    return text ? "\"" + std::string(text) + "\"" : "null";
}

std::string Id(const DEVICE_INFO *device) {
    return device ? std::to_string(device->identity) : std::string("null");
}

void CopyText(char *target, size_t size, const std::string &text) {
    const size_t n = std::min(size - 1, text.size());
    std::memcpy(target, text.data(), n);
    target[n] = 0;
}

// The part of a device path that tells devices of one kind apart: Windows
// takes the serial number, and for a device without one an instance text of
// the port it is plugged into.
std::string PathInstance(const DeviceSetup &setup) {
    return setup.serial.empty() ? std::string(kPortInstancePrefix) + std::to_string(setup.id)
                                : setup.serial;
}

// A record with every opaque byte in use, padding included: the texts fill
// their fields with no terminating zero, but for the empty serial of a device
// without one. Made from the record's own numbers and the device, so a record
// handed back can be checked against it.
void FillFullRecord(DEVICE_INFO *record, const DeviceSetup &setup) {
    const std::string &serial = setup.serial;
    DEVICE_INFO full;
    std::memset(&full, 0xA5, sizeof full);
    full.usbVid = record->usbVid;
    full.usbPid = record->usbPid;
    full.identity = record->identity;
    full.deviceType = record->deviceType;
    full.busFlags = record->busFlags;
    full.location = record->location;
    char path[sizeof full.devicePath + 1];
    const int n = std::snprintf(path, sizeof path, "\\\\?\\usb#vid_%04x&pid_%04x#%s#qvsim",
                                unsigned(record->usbVid), unsigned(record->usbPid),
                                PathInstance(setup).c_str());
    for (size_t i = n < 0 ? 0 : size_t(n); i < sizeof full.devicePath; ++i)
        path[i] = '#';
    std::memcpy(full.devicePath, path, sizeof full.devicePath);
    for (size_t i = 0; i < sizeof full.serialNumber; ++i)
        full.serialNumber[i] = i < serial.size() ? serial[i] : '_';
    if (serial.empty()) full.serialNumber[0] = '\0';
    std::memcpy(record, &full, sizeof full);
}

bool ReadLoaderFile(const fs::path &path, uint16_t &version) {
    std::string bytes;
    return ReadSmallFile(path, bytes, size_t(kMaxLoaderLength)) &&
           DecodeLoader(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                        version);
}

// Shown by the search: answering, and a VeskUsb-mode device only with its
// driver on the host.
bool Visible(const DeviceRecord &device, const BenchSettings &settings, int64_t now) {
    return device.PresentAt(now) &&
           (device.setup.kind != QV_DEVICE_VESKUSB || settings.driverInstalled);
}

} // namespace

// Counts a call that may run for a while, so that DllDeInitialize can wait
// for it to end; refuses to start once the library is released.
class SimLibrary::Operation {
  public:
    explicit Operation(SimLibrary &library) : m_library(library) {
        std::lock_guard<std::mutex> lock(m_library.m_mutex);
        ++m_library.m_operations;
    }
    ~Operation() {
        std::lock_guard<std::mutex> lock(m_library.m_mutex);
        --m_library.m_operations;
        m_library.m_changed.notify_all();
    }
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;

  private:
    SimLibrary &m_library;
};

SimLibrary::SimLibrary(LibraryHost host) : m_host(std::move(host)) {
    if (!m_host.pathFromAnsi)
        m_host.pathFromAnsi = [](const char *text) { return fs::path(std::string(text)); };
}

SimLibrary::~SimLibrary() {
    m_released = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_operations == 0; });
}

Bench SimLibrary::CurrentBench() const {
    return Bench(m_host.benchFolder());
}

fs::path SimLibrary::PathOf(const char *text) const {
    return m_host.pathFromAnsi(text);
}

void SimLibrary::Log(const std::string &line) {
    fs::path folder;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_initialized || m_logFolder.empty()) return;
        folder = m_logFolder;
    }
    std::lock_guard<std::mutex> lock(m_logMutex);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string text = LocalTimeStamp() + " " + line + "\n";
    if (FilePtr file = OpenFile(folder / "QVAndroidDLL.log", "ab"))
        std::fwrite(text.data(), 1, text.size(), file.get());
}

bool SimLibrary::Pause(int64_t milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(0, milliseconds)),
                       [this] { return m_released.load(); });
    return !m_released;
}

bool SimLibrary::Ask(Bench &bench, int kind, const std::string &why) {
    HWND window;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        window = m_window;
    }
    const int answer = m_host.ask ? m_host.ask(window, kind) : 0;
    const bool goOn = answer == 1;
    Log("question " + std::to_string(kind) + " (" + why + ") answered " + (goOn ? "yes" : "no"));
    bench.Log("question " + std::to_string(kind) + " (" + why + ") answered " +
              (goOn ? "yes" : "no"));
    return goOn && !Released();
}

std::optional<DeviceRecord> SimLibrary::Target(const Bench &bench,
                                               const DEVICE_INFO *device) const {
    if (!device || device->identity <= 0) return std::nullopt;
    std::optional<DeviceRecord> found = bench.Device(device->identity);
    const BenchSettings settings = bench.Settings();
    if (!found || !Visible(*found, settings, WallClockMs())) return std::nullopt;
    if (settings.fullRecord) {
        // The maker's library may keep anything in the opaque fields: a record
        // that comes back other than it was filled names no device.
        DEVICE_INFO expected = *device;
        FillFullRecord(&expected, found->setup);
        if (std::memcmp(&expected, device, sizeof expected) != 0) {
            bench.Log("device " + std::to_string(device->identity) +
                      ": record handed back altered");
            return std::nullopt;
        }
    }
    return found;
}

void SimLibrary::FillRecord(const DeviceRecord &device, DEVICE_INFO *record, int usb11,
                            const BenchSettings &settings) const {
    uint16_t vid, pid;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool storage = device.setup.kind == QV_DEVICE_MSC;
        vid = storage ? m_mscVid : m_deviceVid;
        pid = storage ? m_mscPid : m_devicePid;
    }
    std::memset(record, 0, sizeof *record);
    record->usbVid = vid;
    record->usbPid = pid;
    char path[128];
    std::snprintf(path, sizeof path, "\\\\?\\usb#vid_%04x&pid_%04x#%s#qvsim", unsigned(vid),
                  unsigned(pid), PathInstance(device.setup).c_str());
    CopyText(record->devicePath, sizeof record->devicePath, path);
    CopyText(record->serialNumber, sizeof record->serialNumber, device.setup.serial);
    record->identity = device.setup.id;
    record->deviceType = device.setup.kind;
    record->busFlags = usb11 ? 1 : 2;
    record->location = device.setup.id;
    if (settings.fullRecord) FillFullRecord(record, device.setup);
}

int SimLibrary::DllInitialize() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_initialized = true;
        m_released = false;
    }
    Log("DllInitialize() = 1");
    return 1;
}

int SimLibrary::DllDeInitialize() {
    Log("DllDeInitialize() = 1");
    std::unique_lock<std::mutex> lock(m_mutex);
    m_initialized = false;
    m_released = true;
    m_changed.notify_all();
    // Running operations see the release at their next step and fail; wait a
    // little for them so that nothing is half-way through a write afterwards.
    // One blocked in a question to this very thread cannot end: bounded.
    m_changed.wait_for(lock, 3s, [this] { return m_operations == 0; });
    return 1;
}

int SimLibrary::SetLogPath(const char *folder) {
    if (!folder || !*folder) return 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_logFolder = PathOf(folder);
    }
    Log("SetLogPath(" + Quoted(folder) + ") = 1");
    return 1;
}

int SimLibrary::SetLoaderRestoreFlag(int flag) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loaderRestore = flag;
    }
    Log("SetLoaderRestoreFlag(" + std::to_string(flag) + ") = 1");
    return 1;
}

int SimLibrary::SetEraseUserSection(int flag) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eraseUserSection = flag;
    }
    Log("SetEraseUserSection(" + std::to_string(flag) + ") = 1");
    return 1;
}

int SimLibrary::SetMainWindowHwnd(HWND window) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window = window;
    }
    Log(std::string("SetMainWindowHwnd(") + (window ? "window" : "null") + ") = 1");
    return 1;
}

int SimLibrary::SetVidPid(uint16_t deviceVid, uint16_t devicePid, uint16_t mscVid, uint16_t mscPid,
                          uint16_t adbVid, uint16_t adbPid) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_deviceVid = deviceVid;
        m_devicePid = devicePid;
        m_mscVid = mscVid;
        m_mscPid = mscPid;
    }
    char line[128];
    std::snprintf(line, sizeof line, "SetVidPid(%04x:%04x, %04x:%04x, %04x:%04x) = 1", deviceVid,
                  devicePid, mscVid, mscPid, adbVid, adbPid);
    Log(line);
    return 1;
}

int SimLibrary::QV_FindDevice(DEVICE_INFO *device, int usb11) {
    int result = 0;
    if (device && !Released()) {
        const Bench bench = CurrentBench();
        const BenchSettings settings = bench.Settings();
        const int64_t now = WallClockMs();
        std::vector<DeviceRecord> found;
        for (const DeviceRecord &d : bench.Devices())
            if (Visible(d, settings, now)) found.push_back(d);
        std::memset(device, 0, sizeof *device);
        if (found.size() == 1) FillRecord(found.front(), device, usb11, settings);
        result = static_cast<int>(found.size());
    }
    // The watcher asks five times a second; the log notes only the changes.
    bool changed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        changed = result != m_lastFindLogged;
        m_lastFindLogged = result;
    }
    if (changed)
        Log("QV_FindDevice(" + std::to_string(usb11) + ") = " + std::to_string(result) +
            (result == 1
                 ? " (device " + Id(device) + ", kind " + std::to_string(device->deviceType) + ")"
                 : ""));
    return result;
}

int SimLibrary::QV_GetDeviceVersion(DEVICE_INFO *device, ANDROID_VERSION *version) {
    int result = 0;
    if (device && version && !Released()) {
        const Bench bench = CurrentBench();
        const auto target = Target(bench, device);
        if (target && target->setup.kind == QV_DEVICE_MSC &&
            !bench.Settings().Has(Fault::VersionUnreadable)) {
            std::memset(version, 0, sizeof *version);
            CopyText(version->loaderVersion, sizeof version->loaderVersion,
                     target->setup.loaderVersion);
            CopyText(version->systemVersion, sizeof version->systemVersion,
                     target->setup.systemVersion);
            result = 1;
        }
    }
    Log("QV_GetDeviceVersion(device " + Id(device) + ") = " + std::to_string(result) +
        (result ? " (loader " + std::string(version->loaderVersion) + ", system " +
                      version->systemVersion + ")"
                : ""));
    return result;
}

int SimLibrary::InspectImage(const char *call, const char *image, ImageHeader &header,
                             uint64_t &size) {
    if (!image || !*image || Released()) return 0;
    Operation operation(*this);
    const fs::path path = PathOf(image);
    ImageSinks sinks;
    // Nothing is kept; the sink is there to stop a long scan on release.
    sinks.system = [this](const unsigned char *, size_t) { return !Released(); };
    const ImageError error = ScanImage(path, header, &sinks);
    std::error_code ec;
    size = fs::file_size(path, ec);
    if (error != ImageError::None) {
        Log(std::string(call) + "(" + Quoted(image) + ") = 0 (" + ImageErrorText(error) + ")");
        return 0;
    }
    return 1;
}

int SimLibrary::QV_GetImageSize(const char *image, uint32_t *size) {
    if (!image || !size) {
        Log("QV_GetImageSize(" + Quoted(image) + ") = 0 (null argument)");
        return 0;
    }
    // Over 4 GiB the size does not fit the result: refused before any reading.
    std::error_code ec;
    const uint64_t fileSize = fs::file_size(PathOf(image), ec);
    if (!ec && fileSize >= kFourGiB) {
        Log("QV_GetImageSize(" + Quoted(image) + ") = 0 (over 4 GiB)");
        return 0;
    }
    ImageHeader header;
    uint64_t checked = 0;
    if (!InspectImage("QV_GetImageSize", image, header, checked)) return 0;
    *size = static_cast<uint32_t>(checked);
    Log("QV_GetImageSize(" + Quoted(image) + ") = 1 (" + std::to_string(checked) + " bytes)");
    return 1;
}

int SimLibrary::QV_GetLoaderVersion(const char *image, uint16_t *version) {
    ImageHeader header;
    uint64_t size = 0;
    if (!version || !InspectImage("QV_GetLoaderVersion", image, header, size)) return 0;
    *version = header.loaderVersion;
    Log("QV_GetLoaderVersion(" + Quoted(image) + ") = 1 (" +
        LoaderVersionText(header.loaderVersion) + ")");
    return 1;
}

int SimLibrary::QV_GetSystemVersion(const char *image, uint32_t *version) {
    ImageHeader header;
    uint64_t size = 0;
    if (!version || !InspectImage("QV_GetSystemVersion", image, header, size)) return 0;
    *version = header.systemVersion;
    Log("QV_GetSystemVersion(" + Quoted(image) + ") = 1 (" +
        SystemVersionText(header.systemVersion) + ")");
    return 1;
}

int SimLibrary::ExtractLoaderFile(const char *image, const char *loaderFile) {
    if (!image || !*image || !loaderFile || !*loaderFile || Released()) {
        Log("ExtractLoaderFile(" + Quoted(image) + ", " + Quoted(loaderFile) + ") = 0");
        return 0;
    }
    Operation operation(*this);
    std::string loader;
    ImageSinks sinks;
    sinks.loader = [&](const unsigned char *data, size_t length) {
        loader.append(reinterpret_cast<const char *>(data), length);
        return true;
    };
    sinks.system = [this](const unsigned char *, size_t) { return !Released(); };
    ImageHeader header;
    const ImageError error = ScanImage(PathOf(image), header, &sinks);
    // Written only once the whole image has proved sound.
    const bool ok = error == ImageError::None && WriteFileAtomically(PathOf(loaderFile), loader);
    Log("ExtractLoaderFile(" + Quoted(image) + ", " + Quoted(loaderFile) +
        ") = " + (ok ? "1" : "0") + " (" +
        (error == ImageError::None ? (ok ? "loader written" : "cannot write the loader file")
                                   : ImageErrorText(error)) +
        ")");
    return ok ? 1 : 0;
}

int SimLibrary::QV_EraseIDB(DEVICE_INFO *device, uint16_t count, int usb11,
                            const char *loaderFile) {
    const std::string call = "QV_EraseIDB(device " + Id(device) + ", " + std::to_string(count) +
                             ", " + std::to_string(usb11) + ", " + Quoted(loaderFile) + ") = ";
    if (Released()) return Log(call + "0 (released)"), 0;
    Operation operation(*this);
    Bench bench = CurrentBench();
    const auto target = Target(bench, device);
    uint16_t loaderVersion = 0;
    const char *failure = nullptr;
    if (!target || target->setup.kind == QV_DEVICE_MSC)
        failure = "no device in a mode that can be erased";
    else if (!loaderFile || !ReadLoaderFile(PathOf(loaderFile), loaderVersion))
        failure = "loader file missing or damaged";
    else if (bench.Settings().Has(Fault::EraseFails))
        failure = "erase failed (fault erase-fails)";
    else if (!Pause(bench.Settings().eraseMs))
        failure = "released";
    if (!failure) {
        const int32_t id = target->setup.id;
        bool erased = false;
        bench.UpdateDevice(id, [&](DeviceRecord &d) {
            if (!d.PresentAt(WallClockMs())) return false;
            if (!WriteFileAtomically(bench.StoragePath(id), std::string())) return false;
            ++d.eraseCount;
            return erased = true;
        });
        if (!erased) failure = "device gone during the erase";
    }
    if (failure) {
        if (target) bench.Log("device " + Id(device) + ": IDB erase failed: " + failure);
        Log(call + "0 (" + failure + ")");
        return 0;
    }
    bench.Log("device " + Id(device) + ": IDB erased");
    Log(call + "1 (IDB erased)");
    return 1;
}

int SimLibrary::QV_Upgrade(DEVICE_INFO *device, uint32_t imageSize, uint32_t imageSizeLow16,
                           uint32_t partition, const char *loaderFile, int mode, int reserved) {
    const std::string call = "QV_Upgrade(device " + Id(device) + ", " + std::to_string(imageSize) +
                             ", " + std::to_string(imageSizeLow16) + ", " +
                             std::to_string(partition) + ", " + Quoted(loaderFile) + ", " +
                             std::to_string(mode) + ", " + std::to_string(reserved) + ") = ";
    auto fail = [&](int code, const std::string &why) {
        Log(call + std::to_string(code) + " (" + why + ")");
        return code;
    };
    if (Released()) return fail(-1, "released");
    Operation operation(*this);
    Bench bench = CurrentBench();
    const BenchSettings settings = bench.Settings();
    const auto target = Target(bench, device);
    if (!target || target->setup.kind == QV_DEVICE_MSC)
        return fail(-1, "no device in a mode that takes a loader");
    uint16_t loaderVersion = 0;
    if (!loaderFile || !ReadLoaderFile(PathOf(loaderFile), loaderVersion))
        return fail(-2, "loader file missing or damaged");
    if (imageSize == 0 || imageSizeLow16 != (imageSize & 0xFFFF))
        return fail(-3, "image size arguments disagree");
    if (settings.Has(Fault::UpgradeResult) && settings.Value(Fault::UpgradeResult) != 0) {
        bench.Log("device " + Id(device) + ": loader write failed (fault upgrade-result)");
        return fail(settings.Value(Fault::UpgradeResult), "fault upgrade-result");
    }
    uint16_t deviceLoader = 0;
    const bool older = ParseLoaderVersion(target->setup.loaderVersion, deviceLoader) &&
                       loaderVersion < deviceLoader;
    if ((older || settings.questions.count(0)) &&
        !Ask(bench, 0,
             "loader " + LoaderVersionText(loaderVersion) + " replaces " +
                 target->setup.loaderVersion))
        return fail(-4, "question 0 answered no");
    if (settings.questions.count(1) && !Ask(bench, 1, "write the loader"))
        return fail(-4, "question 1 answered no");
    if (!Pause(settings.upgradeMs)) return fail(-1, "released");
    bool written = false;
    bench.UpdateDevice(target->setup.id, [&](DeviceRecord &d) {
        if (!d.PresentAt(WallClockMs())) return false;
        d.setup.loaderVersion = LoaderVersionText(loaderVersion);
        d.stage = Stage::LoaderWritten;
        return written = true;
    });
    if (!written) return fail(-1, "device gone while the loader was written");
    bench.Log("device " + Id(device) + ": loader " + LoaderVersionText(loaderVersion) +
              " written (" + (mode ? "repair" : "upgrade") + ")");
    Log(call + "0");
    return 0;
}

int SimLibrary::QV_ResetDevice(DEVICE_INFO *device) {
    const std::string call = "QV_ResetDevice(device " + Id(device) + ") = ";
    if (Released()) return Log(call + "0 (released)"), 0;
    Bench bench = CurrentBench();
    const BenchSettings settings = bench.Settings();
    const auto target = Target(bench, device);
    if (!target) return Log(call + "0 (no such device)"), 0;
    std::string event;
    bench.UpdateDevice(target->setup.id, [&](DeviceRecord &d) {
        if (d.stage == Stage::LoaderWritten) {
            d.setup.kind = QV_DEVICE_LOADER;
            if (settings.Has(Fault::NoLoaderDevice)) d.lost = true;
        } else if (d.stage == Stage::SystemWritten) {
            d.setup.kind = QV_DEVICE_MSC;
            // As a device that boots its old system from a second slot.
            if (!settings.Has(Fault::OldSoftwareBack))
                d.setup.systemVersion = d.pendingSystemVersion;
            d.pendingSystemVersion.clear();
            d.stage = Stage::Idle;
        }
        d.availableAtMs = WallClockMs() + settings.resetDelayMs;
        event = d.lost ? "resets and does not come back (fault no-loader-device)"
                       : "resets; back as kind " + std::to_string(d.setup.kind) + " in " +
                             std::to_string(settings.resetDelayMs) + " ms";
        return true;
    });
    bench.Log("device " + Id(device) + " " + event);
    Log(call + "1");
    return 1;
}

int SimLibrary::QV_WaitDevice(DEVICE_INFO *device, int kind, uint16_t count, int usb11) {
    const std::string call = "QV_WaitDevice(device " + Id(device) + ", " + std::to_string(kind) +
                             ", " + std::to_string(count) + ", " + std::to_string(usb11) + ") = ";
    if (!device || Released()) return Log(call + "0"), 0;
    Operation operation(*this);
    const int32_t wanted = device->identity;
    for (int attempt = 0;; ++attempt) {
        const Bench bench = CurrentBench();
        const BenchSettings settings = bench.Settings();
        const int64_t now = WallClockMs();
        for (const DeviceRecord &d : bench.Devices()) {
            // A cleared record waits for any device of that kind.
            if ((wanted == 0 || d.setup.id == wanted) && d.setup.kind == kind &&
                Visible(d, settings, now)) {
                FillRecord(d, device, usb11, settings);
                Log(call + "1");
                return 1;
            }
        }
        if (attempt >= count || !Pause(settings.waitIntervalMs)) break;
    }
    Log(call + "0 (" + (Released() ? "released" : "no such device came") + ")");
    return 0;
}

int SimLibrary::Download(Bench &bench, const DeviceRecord &device, const fs::path &image) {
    const BenchSettings settings = bench.Settings();
    const int32_t id = device.setup.id;
    const fs::path storage = bench.StoragePath(id);
    const fs::path temp = TemporarySibling(storage);
    FilePtr out = OpenFile(temp, "wb");
    if (!out) return bench.Log("device " + std::to_string(id) + ": storage cannot be written"), 0;
    std::setvbuf(out.get(), nullptr, _IONBF, 0);

    ImageHeader header;
    uint64_t imageSize = 0;
    ReadImageHeader(image, header, imageSize);
    const uint64_t half = header.systemLength / 2;
    const auto started = std::chrono::steady_clock::now();
    auto lastCheck = started;
    uint64_t written = 0;
    std::string stopReason;

    auto writePiece = [&](const unsigned char *data, size_t length) {
        if (std::fwrite(data, 1, length, out.get()) != length) {
            stopReason = "storage write failed";
            return false;
        }
        written += length;
        if (settings.downloadBytesPerSecond) {
            const auto due = started + std::chrono::microseconds(written * 1000000 /
                                                                 settings.downloadBytesPerSecond);
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                due - std::chrono::steady_clock::now());
            if (wait.count() > 0 && !Pause(wait.count())) {
                stopReason = "released";
                return false;
            }
        }
        return true;
    };
    ImageSinks sinks;
    sinks.system = [&](const unsigned char *data, size_t length) {
        while (length) {
            if (Released()) return stopReason = "released", false;
            if (written >= half && written > 0) {
                if (settings.Has(Fault::DownloadFails))
                    return stopReason = "download failed half-way (fault download-fails)", false;
                if (settings.Has(Fault::UnplugDuringDownload)) {
                    bench.Unplug(id);
                    return stopReason = "device pulled out half-way (fault unplug-during-download)",
                           false;
                }
            }
            const auto now = std::chrono::steady_clock::now();
            if (now - lastCheck > std::chrono::milliseconds(kPresenceCheckMs)) {
                lastCheck = now;
                const auto current = bench.Device(id);
                if (!current || !current->PresentAt(WallClockMs()))
                    return stopReason = "device pulled out", false;
            }
            size_t piece =
                settings.downloadBytesPerSecond ? std::min(length, kThrottlePiece) : length;
            // The fault points fall on the half-way mark exactly.
            if (written < half &&
                (settings.Has(Fault::DownloadFails) || settings.Has(Fault::UnplugDuringDownload)))
                piece = static_cast<size_t>(std::min<uint64_t>(piece, half - written));
            if (!writePiece(data, piece)) return false;
            data += piece;
            length -= piece;
        }
        return true;
    };
    const ImageError error = ScanImage(image, header, &sinks);
    const bool closed = std::fclose(out.release()) == 0;

    bool ok = error == ImageError::None && closed;
    if (ok) {
        // The storage takes the new contents and the device its new state in
        // one step under the bench lock, or neither does.
        ok = false;
        bench.UpdateDevice(id, [&](DeviceRecord &d) {
            if (!d.PresentAt(WallClockMs()) || !ReplaceFile(temp, storage)) return false;
            d.stage = Stage::SystemWritten;
            d.pendingSystemVersion = SystemVersionText(header.systemVersion);
            return ok = true;
        });
        if (!ok) stopReason = "device gone at the end of the download";
    } else if (stopReason.empty()) {
        stopReason = closed ? ImageErrorText(error) : "storage write failed";
    }
    std::error_code ec;
    fs::remove(temp, ec);
    if (!ok) {
        bench.Log("device " + std::to_string(id) + ": download failed after " +
                  std::to_string(written) + " bytes: " + stopReason + "; storage unchanged");
        return 0;
    }
    bench.Log("device " + std::to_string(id) + ": system " +
              SystemVersionText(header.systemVersion) + " written (" + std::to_string(written) +
              " bytes)");
    return 1;
}

int SimLibrary::QV_DownloadImage(DEVICE_INFO *device, const char *image) {
    const std::string call =
        "QV_DownloadImage(device " + Id(device) + ", " + Quoted(image) + ") = ";
    if (Released()) return Log(call + "0 (released)"), 0;
    Operation operation(*this);
    Bench bench = CurrentBench();
    const auto target = Target(bench, device);
    if (!target || target->setup.kind != QV_DEVICE_LOADER)
        return Log(call + "0 (no device in loader mode)"), 0;
    if (!image || !*image) return Log(call + "0 (no image)"), 0;
    const fs::path path = PathOf(image);
    ImageHeader header;
    uint64_t size = 0;
    const ImageError error = ReadImageHeader(path, header, size);
    if (error != ImageError::None) return Log(call + "0 (" + ImageErrorText(error) + ")"), 0;
    if (bench.Settings().questions.count(2) && !Ask(bench, 2, "write the system"))
        return Log(call + "0 (question 2 answered no)"), 0;
    const int result = Download(bench, *target, path);
    Log(call + std::to_string(result));
    return result;
}

int SimLibrary::QV_SwitchVeskUsb(DEVICE_INFO *device) {
    const std::string call = "QV_SwitchVeskUsb(device " + Id(device) + ") = ";
    if (Released()) return Log(call + "0 (released)"), 0;
    Bench bench = CurrentBench();
    const BenchSettings settings = bench.Settings();
    const auto target = Target(bench, device);
    if (!target || target->setup.kind != QV_DEVICE_MSC)
        return Log(call + "0 (no mass-storage device)"), 0;
    if (settings.Has(Fault::SwitchRefused)) {
        bench.Log("device " + Id(device) + ": switch refused (fault switch-refused)");
        return Log(call + "0 (fault switch-refused)"), 0;
    }
    bool switched = false;
    bench.UpdateDevice(target->setup.id, [&](DeviceRecord &d) {
        d.setup.kind = QV_DEVICE_VESKUSB;
        d.availableAtMs = WallClockMs() + settings.switchDelayMs;
        d.lost = settings.Has(Fault::NoVeskDevice);
        return switched = true;
    });
    if (!switched) return Log(call + "0 (device gone)"), 0;
    bench.Log("device " + Id(device) +
              (settings.Has(Fault::NoVeskDevice) ? ": switched and vanished (fault no-vesk-device)"
                                                 : ": switched to VeskUsb mode"));
    Log(call + "1");
    return 1;
}

int SimLibrary::QVIsVeskUsbPlug() {
    int result = 0;
    if (!Released()) {
        const int64_t now = WallClockMs();
        for (const DeviceRecord &d : CurrentBench().Devices())
            if (d.setup.kind == QV_DEVICE_VESKUSB && d.PresentAt(now)) result = 1;
    }
    Log("QVIsVeskUsbPlug() = " + std::to_string(result));
    return result;
}

int SimLibrary::QVInstallDriver(const char *infFile) {
    const std::string call = "QVInstallDriver(" + Quoted(infFile) + ") = ";
    if (!infFile || !*infFile || Released()) return Log(call + "-1"), -1;
    Bench bench = CurrentBench();
    const BenchSettings settings = bench.Settings();
    if (settings.Has(Fault::InstallDriverResult)) {
        const int value = settings.Value(Fault::InstallDriverResult);
        bench.Log("driver installation failed (fault install-driver-result)");
        return Log(call + std::to_string(value) + " (fault install-driver-result)"), value;
    }
    std::string why;
    if (!InstallDriver(bench, PathOf(infFile), why)) return Log(call + "-1 (" + why + ")"), -1;
    Log(call + "1");
    return 1;
}

} // namespace qvsim
