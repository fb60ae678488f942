// What happened, as typed facts, from where it is known to whoever needs it:
// the watcher tells which device is shown (by its identity) and when it goes,
// the inspection which image was accepted, the job when it starts and ends,
// and the hub when the device of the last job is back. Listeners never
// reconstruct a fact from what a control shows.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/QVAndroidDLL.h"
#include "base/platform.h"
#include "device/job_codes.h"

// A device as the watcher knows it.
struct DeviceFacts {
    int32_t kind = 0; // QV_DEVICE_TYPE
    std::wstring name;
    // What tells this device from any other: see DeviceIdentity.
    std::wstring identity;
    std::wstring serial;
    bool versionsRead = false; // software and loader below are this device's
    std::wstring software;
    std::wstring loader;
};

// An image the inspection accepted.
struct ImageFacts {
    std::wstring path;
    std::wstring software; // as the window shows it ("1.2.3", "N/A")
    std::wstring loader;   // "1.41"
    uint32_t size = 0;
    // Which inspection of the process found these facts (the hub counts
    // them from 1): two jobs with the same number ran on facts read once.
    uint64_t inspection = 0;
};

struct JobStartedFacts {
    std::wstring jobId;
    JobMode mode = kModeUpgrade;
    DeviceFacts device;
    ImageFacts image;
    int64_t startSeconds = 0; // UTC, seconds since 1970; 0: when told
};

// How long the job spent in each of its phases, measured by the job from its
// own steps; the fixed waits between steps belong to none. kPhaseNotReached
// for a phase the job never began.
inline constexpr int64_t kPhaseNotReached = -1;
struct JobPhaseTimes {
    int64_t switchMs = kPhaseNotReached;   // the device into its loader's mode
    int64_t loaderMs = kPhaseNotReached;   // the loader written (and the IDB erased)
    int64_t restartMs = kPhaseNotReached;  // the reset and the wait for the device
    int64_t downloadMs = kPhaseNotReached; // the image written and the last reset
};

struct JobEndedFacts {
    std::wstring jobId;
    int32_t code = 0;
    std::wstring verdictKey;  // "IDS_21", "CLOSED_DURING_JOB"
    std::wstring verdictText; // empty when no verdict was shown
    std::wstring declinedBy;  // the station's flag for a question answered No
};

// The identity of a device record: its serial number as the library reports
// it; for a device that reports none, its device path with its location on
// the bus ("path:<device path>@<location>").
std::wstring DeviceIdentity(const DEVICE_INFO &device, ITextCodec &codec);
// The serial number alone (empty when the device reports none).
std::wstring DeviceSerial(const DEVICE_INFO &device, ITextCodec &codec);

// Every handler is empty unless overridden. Handlers run on the thread that
// learnt the fact (the watcher, the job's starter, a hashing worker); they
// must be quick and must not emit events themselves.
class IJobEventListener {
  public:
    virtual ~IJobEventListener() = default;
    // The watcher has announced a device: at the end of the announcement,
    // with its versions when they could be read.
    virtual void OnDeviceShown(const DeviceFacts &) {}
    // The versions of the device shown, read after its announcement.
    virtual void OnDeviceVersionsRead(const DeviceFacts &) {}
    // No device, or several: the device shown is gone from the window.
    virtual void OnDeviceGone(const std::wstring & /*identity*/) {}
    virtual void OnImageInspected(const ImageFacts &) {}
    // The image at this path was refused: no job may name its facts.
    virtual void OnImageRefused(const std::wstring & /*path*/) {}
    virtual void OnJobStarted(const JobStartedFacts &) {}
    // The SHA-256 of the image's content as the job began (lower-case
    // hexadecimal; empty when the file could not be read).
    virtual void OnImageHashed(const std::wstring & /*jobId*/, const std::wstring & /*sha256*/) {}
    // The job's phase times, told by the job's thread before its result.
    virtual void OnJobPhaseTimes(const std::wstring & /*jobId*/, const JobPhaseTimes &) {}
    virtual void OnJobEnded(const JobEndedFacts &) {}
    // The device of the last ended job shown again (same identity).
    virtual void OnDeviceBack(const DeviceFacts &) {}
};

// Fans every fact out to its listeners, from any thread, and keeps the few
// facts a job's start needs: the device shown and the image accepted. It also
// tells the device of the last job back when the watcher shows it again.
class JobEventHub : public IJobEventListener {
  public:
    // Listeners are added before the first event and live as long as the hub.
    void AddListener(IJobEventListener &listener);

    void OnDeviceShown(const DeviceFacts &device) override;
    void OnDeviceVersionsRead(const DeviceFacts &device) override;
    void OnDeviceGone(const std::wstring &identity) override;
    void OnImageInspected(const ImageFacts &image) override;
    void OnImageRefused(const std::wstring &path) override;
    void OnJobStarted(const JobStartedFacts &job) override;
    void OnImageHashed(const std::wstring &jobId, const std::wstring &sha256) override;
    void OnJobPhaseTimes(const std::wstring &jobId, const JobPhaseTimes &times) override;
    void OnJobEnded(const JobEndedFacts &job) override;
    void OnDeviceBack(const DeviceFacts &device) override;

    // The device shown now (identity empty when none) and the image last
    // accepted at this path (path empty when none).
    DeviceFacts ShownDevice() const;
    // The same, with how many times a device has been shown so far: a
    // device shown anew counts, even when it is the same one.
    DeviceFacts ShownDevice(unsigned &announcements) const;
    ImageFacts AcceptedImage(const std::wstring &path) const;
    // The job under way (started, not ended); empty when none.
    std::wstring RunningJob() const;

  private:
    std::vector<IJobEventListener *> Listeners() const;
    void BackIfAwaited(const DeviceFacts &device);

    mutable std::mutex m_guard; // everything below
    std::vector<IJobEventListener *> m_listeners;
    DeviceFacts m_shown;
    unsigned m_announcements = 0;
    ImageFacts m_image;
    std::wstring m_runningJob;
    std::wstring m_runningDevice;
    // The identity of the last ended job's device until it is shown again.
    std::wstring m_awaited;
    uint64_t m_inspections = 0;
};

// What a job's facts need of the platform: the image's digest, the
// computer's name.
class IJobRecordStore {
  public:
    virtual ~IJobRecordStore() = default;
    // SHA-256 of the file's contents through the platform's hash service.
    virtual bool FileSha256(const std::wstring &path, std::wstring &hex) = 0;
    virtual std::wstring ComputerName() = 0;
};

// 32 lower-case hexadecimal characters from the platform's random source.
class IJobIdSource {
  public:
    virtual ~IJobIdSource() = default;
    virtual std::wstring NewJobId() = 0;
};

// The C++ library's random device, for builds without the platform's source
// (the native tests) and as its fallback.
class RandomJobIdSource : public IJobIdSource {
  public:
    std::wstring NewJobId() override;
};

// Hexadecimal text of random bytes: 16 bytes give a job id.
std::wstring HexText(const uint8_t *bytes, size_t count);
