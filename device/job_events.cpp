#include "device/job_events.h"

#include <algorithm>
#include <random>

namespace {

// The library's texts need not be terminated within their field.
template <size_t N> std::string FieldText(const char (&text)[N]) {
    return std::string(text, std::find(text, text + N, '\0'));
}

} // namespace

std::wstring DeviceSerial(const DEVICE_INFO &device, ITextCodec &codec) {
    return codec.FromAnsi(FieldText(device.serialNumber));
}

std::wstring DeviceIdentity(const DEVICE_INFO &device, ITextCodec &codec) {
    const std::wstring serial = DeviceSerial(device, codec);
    if (!serial.empty()) return serial;
    // A serial number never begins with "path:" followed by a device path, so
    // the two kinds of identity cannot meet.
    return L"path:" + codec.FromAnsi(FieldText(device.devicePath)) + L"@" +
           std::to_wstring(device.location);
}

std::wstring HexText(const uint8_t *bytes, size_t count) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

std::wstring RandomJobIdSource::NewJobId() {
    std::random_device source;
    uint8_t bytes[16];
    for (size_t i = 0; i < sizeof bytes; i += 4) {
        const uint32_t word = source();
        for (size_t k = 0; k < 4; ++k)
            bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
    }
    return HexText(bytes, sizeof bytes);
}

void JobEventHub::AddListener(IJobEventListener &listener) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_listeners.push_back(&listener);
}

std::vector<IJobEventListener *> JobEventHub::Listeners() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_listeners;
}

void JobEventHub::BackIfAwaited(const DeviceFacts &device) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (m_awaited.empty() || device.identity != m_awaited) return;
        m_awaited.clear();
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnDeviceBack(device);
}

void JobEventHub::OnDeviceShown(const DeviceFacts &device) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        m_shown = device;
        ++m_announcements;
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnDeviceShown(device);
    BackIfAwaited(device);
}

void JobEventHub::OnDeviceVersionsRead(const DeviceFacts &device) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        // Versions read for a device no longer shown belong to nobody.
        if (device.identity != m_shown.identity) return;
        m_shown = device;
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnDeviceVersionsRead(device);
}

void JobEventHub::OnDeviceGone(const std::wstring &identity) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (m_shown.identity.empty()) return; // told once
        m_shown = DeviceFacts{};
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnDeviceGone(identity);
}

void JobEventHub::OnImageInspected(const ImageFacts &image) {
    ImageFacts counted = image;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        counted.inspection = ++m_inspections;
        m_image = counted;
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnImageInspected(counted);
}

void JobEventHub::OnImageRefused(const std::wstring &path) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        m_image = ImageFacts{};
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnImageRefused(path);
}

void JobEventHub::OnJobStarted(const JobStartedFacts &job) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        m_runningJob = job.jobId;
        m_runningDevice = job.device.identity;
        m_awaited.clear();
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnJobStarted(job);
}

void JobEventHub::OnImageHashed(const std::wstring &jobId, const std::wstring &sha256) {
    for (IJobEventListener *listener : Listeners())
        listener->OnImageHashed(jobId, sha256);
}

void JobEventHub::OnJobPhaseTimes(const std::wstring &jobId, const JobPhaseTimes &times) {
    for (IJobEventListener *listener : Listeners())
        listener->OnJobPhaseTimes(jobId, times);
}

void JobEventHub::OnJobEnded(const JobEndedFacts &job) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (job.jobId != m_runningJob) return; // ended once
        m_runningJob.clear();
        m_awaited = m_runningDevice;
        // The device the job began with is not the device shown any more: the
        // window clears it after every job, and the watcher shows it again.
        // A job refused by its checks, or not needed, never touched the
        // device: it stays shown, to be taken away.
        if (job.code != kJobRefusedByChecks && job.code != kJobAlreadyDone) m_shown = DeviceFacts{};
    }
    for (IJobEventListener *listener : Listeners())
        listener->OnJobEnded(job);
}

void JobEventHub::OnDeviceBack(const DeviceFacts &device) {
    BackIfAwaited(device);
}

DeviceFacts JobEventHub::ShownDevice() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_shown;
}

DeviceFacts JobEventHub::ShownDevice(unsigned &announcements) const {
    std::lock_guard<std::mutex> lock(m_guard);
    announcements = m_announcements;
    return m_shown;
}

ImageFacts JobEventHub::AcceptedImage(const std::wstring &path) const {
    std::lock_guard<std::mutex> lock(m_guard);
    if (m_image.path != path) return ImageFacts{};
    return m_image;
}

std::wstring JobEventHub::RunningJob() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_runningJob;
}
