#include "device/device_watcher.h"

#include <cstring>

#include "base/ansi_text.h"
#include "base/text_format.h"
#include "base/text_keys.h"
#include "device/device_record.h"
#include "res/resource.h"

namespace {

constexpr const wchar_t *kNotAvailable = L"N/A";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One number as the C library's "%hu" reads it: blanks, a sign, decimal
// digits; the value wraps to 16 bits. Only its low byte matters here, so
// reducing as we go gives the same answer without overflow.
bool ReadNumber(const char *&p, uint16_t &value) {
    while (IsBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (*p < '0' || *p > '9') return false;
    uint32_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        v = (v * 10 + static_cast<uint32_t>(*p - '0')) & 0xFFFF;
    if (negative) v = (0x10000 - v) & 0xFFFF;
    value = static_cast<uint16_t>(v);
    return true;
}

// The library fills 512-byte texts; a text without its terminating zero is
// cut at the last byte rather than read past.
void TerminatedCopy(const char (&source)[512], char (&target)[512]) {
    std::memcpy(target, source, sizeof target);
    target[sizeof target - 1] = '\0';
}

void ForgetDeviceVersions(DeviceContext &context) {
    context.state.g_deviceVersionRead = 0;
    context.model.m_deviceLoaderVersion = kNoLoaderVersion;
}

bool ReadDeviceVersions(DeviceContext &context) {
    // The library writes into a local record, so a failed read leaves the
    // versions held by the window untouched.
    ANDROID_VERSION version{};
    if (context.library.QV_GetDeviceVersion(&context.state.g_deviceInfo, &version) == 0)
        return false;
    ANDROID_VERSION &held = context.model.m_deviceVersion;
    TerminatedCopy(version.loaderVersion, held.loaderVersion);
    TerminatedCopy(version.systemVersion, held.systemVersion);

    ITextCodec &codec = context.platform.codec;
    context.view.SetItemText(IDC_DEVICE_SW_VERSION, AnsiToWide(codec, held.systemVersion));
    context.view.SetItemText(IDC_DEVICE_LOADER_VERSION, AnsiToWide(codec, held.loaderVersion));
    context.model.m_deviceLoaderVersion = ParseDeviceLoaderVersion(held.loaderVersion);
    context.state.g_deviceVersionRead = 1;
    return true;
}

// The device held, as the events tell it; its versions when they were read
// from this device.
DeviceFacts HeldDeviceFacts(DeviceContext &context, bool versionsRead) {
    ProcessState &state = context.state;
    ITextCodec &codec = context.platform.codec;
    DeviceFacts facts;
    facts.kind = state.g_deviceInfo.deviceType;
    facts.name = DeviceNameForKind(state.g_settings, facts.kind);
    facts.identity = DeviceIdentity(state.g_deviceInfo, codec);
    facts.serial = DeviceSerial(state.g_deviceInfo, codec);
    if (versionsRead) {
        const ANDROID_VERSION &held = context.model.m_deviceVersion;
        facts.versionsRead = true;
        facts.software = AnsiToWide(codec, held.systemVersion);
        facts.loader = AnsiToWide(codec, held.loaderVersion);
    }
    return facts;
}

void TellDeviceGone(DeviceContext &context, const DEVICE_INFO &held) {
    if (context.events == nullptr) return;
    context.events->OnDeviceGone(DeviceIdentity(held, context.platform.codec));
}

// The window shows no device: its name and versions go, and so do the job
// buttons (Browse stays).
void ClearShownDevice(DeviceContext &context) {
    IMainView &view = context.view;
    view.SetItemText(IDC_DEVICE_NAME, L"");
    view.EnableItem(IDC_UPGRADE, false);
    view.EnableItem(IDC_REPAIR, false);
    view.SetItemText(IDC_DEVICE_SW_VERSION, L"");
    view.SetItemText(IDC_DEVICE_LOADER_VERSION, L"");
    ForgetDeviceVersions(context);
}

// Shown again at every cycle while several devices stay; the device held
// before them is gone once, at the first.
void ShowSeveralDevices(DeviceContext &context, bool firstCycle) {
    if (firstCycle) TellDeviceGone(context, context.state.g_deviceInfo);
    context.view.SetItemText(IDC_STATUS_LINE, context.texts.Text(ids::kSeveralDevices));
    context.view.SetItemText(IDC_DETAIL_LINE, context.texts.Text(ids::kDisconnectOthers));
    ClearShownDevice(context);
}

void AnnounceNewDevice(DeviceContext &context, const DEVICE_INFO &working) {
    ProcessState &state = context.state;
    IMainView &view = context.view;
    CopyDeviceInfo(working, state.g_deviceInfo);
    // The versions held belong to the previous device: without this a new
    // device would inherit its loader version (a false loader question) or,
    // after a job, never have its own versions read.
    ForgetDeviceVersions(context);

    const std::wstring name = DeviceNameForKind(state.g_settings, state.g_deviceInfo.deviceType);
    view.SetItemText(IDC_DEVICE_NAME, name);
    view.SetItemText(IDC_STATUS_LINE, FormatLangText(context.texts.Text(ids::kConnected), name));
    view.SetItemText(IDC_DETAIL_LINE, context.texts.Text(ids::kReadingDeviceVersions));
    view.EnableItem(IDC_BROWSE, true);
    view.EnableItem(IDC_UPGRADE, true);
    view.EnableItem(IDC_REPAIR, true);
    view.SetItemText(IDC_DEVICE_SW_VERSION, kNotAvailable);
    view.SetItemText(IDC_DEVICE_LOADER_VERSION, kNotAvailable);
    const bool versionsRead =
        state.g_deviceInfo.deviceType == QV_DEVICE_MSC && ReadDeviceVersions(context);
    view.SetItemText(IDC_DETAIL_LINE, L"");
    if (context.events != nullptr)
        context.events->OnDeviceShown(HeldDeviceFacts(context, versionsRead));
}

void ShowNoDevice(DeviceContext &context) {
    ProcessState &state = context.state;
    IMainView &view = context.view;
    view.SetItemText(IDC_STATUS_LINE, context.texts.Text(ids::kNoDevice));
    if (state.g_deviceInfo.identity == 0) return;
    TellDeviceGone(context, state.g_deviceInfo);
    ClearDeviceInfo(state.g_deviceInfo);
    view.SetItemText(IDC_DETAIL_LINE, L"");
    ClearShownDevice(context);
}

} // namespace

std::wstring DeviceNameForKind(const Settings &settings, int32_t deviceType) {
    if (deviceType == QV_DEVICE_MSC) return settings.MSC_ID_NAME;
    if (deviceType == QV_DEVICE_LOADER) return settings.DEVICE_ID_NAME;
    return kMaskRomName;
}

uint16_t ParseDeviceLoaderVersion(const char *text) {
    if (text == nullptr) return kNoLoaderVersion;
    const char *p = text;
    uint16_t major = 0;
    uint16_t minor = 0;
    if (!ReadNumber(p, major) || *p++ != '.' || !ReadNumber(p, minor)) return kNoLoaderVersion;
    return static_cast<uint16_t>((major % 256) * 256 + minor % 256);
}

void RunWatchCycle(DeviceContext &context, DEVICE_INFO &working) {
    ProcessState &state = context.state;
    const int found = context.library.QV_FindDevice(&working, state.g_supportUsb11);
    const int previous = state.g_findResult.exchange(found);

    if (found >= 2) {
        ShowSeveralDevices(context, previous < 2);
    } else if (found == 1 && working.identity != 0) {
        // The several-devices display took the name and the buttons away but
        // kept the record, so the device left over may well have the held
        // identity: it is announced afresh all the same.
        if (previous >= 2 || working.identity != state.g_deviceInfo.identity) {
            AnnounceNewDevice(context, working);
        } else if (state.g_deviceInfo.deviceType == QV_DEVICE_MSC &&
                   state.g_deviceVersionRead == 0) {
            if (ReadDeviceVersions(context) && context.events != nullptr)
                context.events->OnDeviceVersionsRead(HeldDeviceFacts(context, true));
        }
    } else {
        // Identity 0 is how the program itself marks "no device": a search
        // that reports one device but gives it no identity has found none
        // the program could hold, show or later clear.
        ShowNoDevice(context);
    }
}

JobStartedFacts JobStartFacts(DeviceContext &context, JobMode mode, const std::wstring &jobId) {
    JobStartedFacts job;
    job.jobId = jobId;
    job.mode = mode == kModeUpgrade ? kModeUpgrade : kModeRepair;
    job.device = HeldDeviceFacts(context, context.state.g_deviceVersionRead.load() != 0);
    // The versions come from the watcher's own record of this very device:
    // whatever the window still holds may be another device's.
    if (context.events != nullptr) {
        const DeviceFacts shown = context.events->ShownDevice();
        if (shown.identity == job.device.identity) {
            job.device.versionsRead = shown.versionsRead;
            job.device.software = shown.software;
            job.device.loader = shown.loader;
        } else {
            job.device.versionsRead = false;
            job.device.software.clear();
            job.device.loader.clear();
        }
        job.image = context.events->AcceptedImage(context.state.g_settings.FIRMWARE);
    }
    job.image.path = context.state.g_settings.FIRMWARE;
    if (job.image.size == 0) job.image.size = context.state.g_imageSize.load();
    return job;
}

void DeviceWatchThread(DeviceContext &context) {
    // Nothing may unwind out of a thread; a cycle that throws (out of memory)
    // is given up and the next one tried.
    DEVICE_INFO working{};
    WorkerGate &gate = context.gate;
    while (!gate.IsClosed()) {
        if (gate.BeginWatchCycle(context.state.g_jobActive)) {
            try {
                RunWatchCycle(context, working);
            } catch (...) {
            }
            gate.EndWatchCycle();
        }
        context.platform.clock.SleepMs(kWatchPeriodMs);
    }
}
