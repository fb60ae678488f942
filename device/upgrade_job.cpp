#include "device/upgrade_job.h"

#include "base/ansi_text.h"
#include "base/ini_file.h"
#include "base/text_keys.h"
#include "device/gated_step.h"
#include "res/resource.h"

namespace {

constexpr uint16_t kWaitCount = 20;

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// What a job step found, when the gate let it run.
enum class Step { Done, Failed, Stopped };

template <class Body> Step Gated(DeviceContext &context, const JobStepLimit &step, Body &&body) {
    bool ok = false;
    if (!WatchedCall(context, step, [&] { ok = body(); })) return Step::Stopped;
    return ok ? Step::Done : Step::Failed;
}

// Adds the time from Begin to the next Begin or Stop (or the end of the
// job, on whatever path it leaves) to that phase. Ticks only: no allocation,
// nothing that could fail on a job's way out.
class PhaseTimer {
  public:
    PhaseTimer(IClock &clock, JobPhaseTimes *times) : m_clock(clock), m_times(times) {}
    ~PhaseTimer() { Stop(); }
    PhaseTimer(const PhaseTimer &) = delete;
    PhaseTimer &operator=(const PhaseTimer &) = delete;

    void Begin(int64_t JobPhaseTimes::*phase) {
        Stop();
        if (m_times == nullptr) return;
        if (m_times->*phase == kPhaseNotReached) m_times->*phase = 0;
        m_running = phase;
        m_begun = m_clock.TickMs();
    }
    void Stop() {
        if (m_times == nullptr || m_running == nullptr) return;
        m_times->*m_running += static_cast<int64_t>(m_clock.TickMs() - m_begun);
        m_running = nullptr;
    }

  private:
    IClock &m_clock;
    JobPhaseTimes *m_times;
    int64_t JobPhaseTimes::*m_running = nullptr;
    uint64_t m_begun = 0;
};

void ShowPhase(DeviceContext &context, const wchar_t *key) {
    context.view.SetItemText(IDC_DETAIL_LINE, context.texts.Text(key));
}

} // namespace

uint32_t ParsePartitionNumber(const std::wstring &partition) {
    const std::wstring number = partition.substr(0, partition.find(L':'));
    size_t i = 0;
    while (i < number.size() && IsBlank(number[i]))
        ++i;
    bool negative = false;
    if (i < number.size() && (number[i] == L'+' || number[i] == L'-'))
        negative = number[i++] == L'-';
    // Reduced digit by digit: any length of digits, no overflow.
    uint32_t value = 0;
    for (; i < number.size() && number[i] >= L'0' && number[i] <= L'9'; ++i)
        value = (value * 10 + static_cast<uint32_t>(number[i] - L'0')) % 65536;
    if (negative) value = (65536 - value) % 65536;
    return value;
}

JobResult UpgradeFailureCode(int upgradeResult) {
    switch (upgradeResult) {
    case -1:
        return kJobNoLoaderModeDevice;
    case -2:
        return kJobLoaderFileBad;
    case -3:
        return kJobImageSizeRefused;
    case -4:
        return kJobLoaderDeclined;
    default:
        return kJobUpgradeFailed;
    }
}

bool RepairErasesIdb(DeviceContext &context) {
    CIniFile settings(context.platform.files, context.platform.profile);
    if (!settings.SetFile(context.state.g_programFolder + L"setting.ini")) return false;
    return settings.GetInt(L"SYSTEM", L"ERASE_IDB") == 1;
}

JobResult RunUpgradeJob(DeviceContext &context, IProcessRunner &runner, ISystemInfo &system,
                        JobMode mode, const DriverInstallTimes &times, JobPhaseTimes *phases) {
    ProcessState &state = context.state;
    PhaseTimer timer(context.platform.clock, phases);
    IDeviceLibrary &library = context.library;

    // A failed conversion leaves an empty text: the library then refuses the
    // step that needs it.
    AnsiBuffer loader{};
    AnsiBuffer image{};
    uint32_t partition = 0;
    uint32_t imageSize = 0;
    int32_t deviceType = 0;
    if (!RunGated(context.gate, [&] {
            WideToAnsi(context.platform.codec, state.g_loaderFilePath, loader);
            WideToAnsi(context.platform.codec, state.g_settings.FIRMWARE, image);
            partition = ParsePartitionNumber(state.g_settings.PARTITION);
            imageSize = state.g_imageSize;
            deviceType = state.g_deviceInfo.deviceType;
        }))
        return kJobStoppedAtExit;

    if (deviceType == QV_DEVICE_MSC) {
        timer.Begin(&JobPhaseTimes::switchMs);
        const JobResult code = EnterVeskUsbMode(context, runner, system, times);
        if (code != kJobFinished) return code;
    }

    timer.Begin(&JobPhaseTimes::loaderMs);
    if (mode != kModeUpgrade) {
        const Step erase = Gated(context, job_step::kEraseIdb, [&] {
            if (!RepairErasesIdb(context)) return true;
            return library.QV_EraseIDB(&state.g_deviceInfo, kWaitCount, state.g_supportUsb11,
                                       loader.data()) != 0;
        });
        if (erase == Step::Stopped) return kJobStoppedAtExit;
        if (erase == Step::Failed) return kJobEraseIdbFailed;
    }

    if (!RunGated(context.gate, [&] { ShowPhase(context, ids::kWritingFirmware); }))
        return kJobStoppedAtExit;
    int upgraded = 0;
    if (!WatchedCall(context, job_step::kUpgrade, [&] {
            upgraded = library.QV_Upgrade(&state.g_deviceInfo, imageSize, imageSize % 65536,
                                          partition, loader.data(), mode, 0);
        }))
        return kJobStoppedAtExit;
    if (upgraded != 0) return UpgradeFailureCode(upgraded);

    timer.Begin(&JobPhaseTimes::restartMs);
    if (!WatchedCall(context, job_step::kReset,
                     [&] { library.QV_ResetDevice(&state.g_deviceInfo); }))
        return kJobStoppedAtExit;
    // A fixed wait: the job's duration less the phases' sum.
    timer.Stop();
    context.platform.clock.SleepMs(kSettleAfterResetMs);
    timer.Begin(&JobPhaseTimes::restartMs);

    if (!RunGated(context.gate, [&] { ShowPhase(context, ids::kRestartingDevice); }))
        return kJobStoppedAtExit;
    const Step back = Gated(context, job_step::kWaitDevice, [&] {
        return library.QV_WaitDevice(&state.g_deviceInfo, QV_DEVICE_LOADER, kWaitCount,
                                     state.g_supportUsb11) != 0;
    });
    if (back == Step::Stopped) return kJobStoppedAtExit;
    if (back == Step::Failed) return kJobNotBackAfterReset;

    timer.Begin(&JobPhaseTimes::downloadMs);
    if (!RunGated(context.gate, [&] { ShowPhase(context, ids::kDownloadingImage); }))
        return kJobStoppedAtExit;
    const Step download = Gated(context, job_step::kDownload, [&] {
        return library.QV_DownloadImage(&state.g_deviceInfo, image.data()) != 0;
    });
    if (download == Step::Stopped) return kJobStoppedAtExit;
    if (download == Step::Failed) return kJobDownloadFailed;

    if (!WatchedCall(context, job_step::kReset, [&] {
            ShowPhase(context, ids::kDownloadComplete);
            library.QV_ResetDevice(&state.g_deviceInfo);
        }))
        return kJobStoppedAtExit;
    return kJobFinished;
}

void UpgradeThread(DeviceContext &context, IProcessRunner &runner, ISystemInfo &system,
                   JobMode mode) {
    JobResult code;
    JobPhaseTimes phases;
    try {
        code = RunUpgradeJob(context, runner, system, mode, DriverInstallTimes(), &phases);
    } catch (...) {
        // Out of memory on the way: the window still needs its one result to
        // leave the running state, as "any other failure".
        code = kJobUpgradeFailed;
    }
    if (code == kJobStoppedAtExit) return;
    try {
        // Before the result: whoever ends the job on it finds the times told.
        if (context.events != nullptr)
            context.events->OnJobPhaseTimes(context.events->RunningJob(), phases);
    } catch (...) {
    }
    try {
        RunGated(context.gate, [&] { context.view.PostUpgradeResult(mode, code); });
    } catch (...) {
    }
}
