// What the job record learns from the window's controls: the watcher, the
// inspection and the job write everything the user sees through the main
// view, so a view that passes every call on and listens on the way knows the
// image's versions, the device's name and when a device has been announced
// and its versions read, without a hook in any of them.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "base/main_view.h"
#include "device/device_context.h"
#include "device/job_record.h"

class JobRecordView : public IMainView {
  public:
    JobRecordView(IMainView &inner, JobRecorder &recorder) : m_inner(inner), m_recorder(recorder) {}

    void SetItemText(int controlId, const std::wstring &text) override;
    void EnableItem(int controlId, bool enable) override;
    int ShowMessage(const std::wstring &text, const std::optional<std::wstring> &caption,
                    unsigned style) override {
        return m_inner.ShowMessage(text, caption, style);
    }
    void StartBusy() override { m_inner.StartBusy(); }
    void StopBusy() override { m_inner.StopBusy(); }
    void ResetBusy() override { m_inner.ResetBusy(); }
    void StartTimer(int timerId, unsigned periodMs) override {
        m_inner.StartTimer(timerId, periodMs);
    }
    void StopTimer(int timerId) override { m_inner.StopTimer(timerId); }
    void PostUpgradeResult(int mode, int resultCode) override {
        m_inner.PostUpgradeResult(mode, resultCode);
    }

    // The texts the image group shows since the last inspection.
    std::wstring ImageSoftware() const;
    std::wstring ImageLoader() const;
    // The name shown for the current device.
    std::wstring DeviceName() const;
    // How many announcements of a device the watcher has finished.
    unsigned Announcements() const { return m_announcements.load(); }

  private:
    IMainView &m_inner;
    JobRecorder &m_recorder;
    mutable std::mutex m_guard; // the texts below: the watcher and the UI thread write them
    std::wstring m_imageSoftware;
    std::wstring m_imageLoader;
    std::wstring m_deviceName;
    // An announcement runs from the enabling of Upgrade to the emptied
    // detail line; its first software-version write is the "N/A" placeholder.
    bool m_announcing = false;
    bool m_placeholderSeen = false;
    std::atomic<unsigned> m_announcements{0};
};

// The facts of a job about to start: the device held by the watcher (its
// versions when they were read), the image chosen and its versions as the
// window shows them. Called by the thread that starts the job, after the
// hand-over, so the watcher is idle. mode: 0 upgrade, otherwise repair.
JobRecordFields JobStartFacts(DeviceContext &context, const JobRecordView &view, int mode,
                              const std::wstring &computer);
