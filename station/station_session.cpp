#include "station/station_session.h"

#include <algorithm>

#include "app/settings_loader.h"
#include "app/text_format.h"
#include "device/device_watcher.h"
#include "device/firmware_check.h"
#include "device/upgrade_job.h"
#include "station/station_codes.h"
#include "station/station_texts.h"
#include "ui/exit_procedure.h"
#include "ui/job_commands.h"
#include "ui/job_verdict.h"

namespace {

constexpr const wchar_t *kYesLoader = L"--yes-loader";
constexpr const wchar_t *kYesContinue = L"--yes-continue";
constexpr const wchar_t *kYesAnyway = L"--yes-anyway";

std::wstring Serial(const DEVICE_INFO &device, ITextCodec &codec) {
    const char *end =
        std::find(device.serialNumber, device.serialNumber + sizeof device.serialNumber, '\0');
    return codec.FromAnsi(std::string(device.serialNumber, end));
}

} // namespace

PromptAnswer AnswerDevicePrompt(unsigned kind, const StationOptions &options,
                                bool loaderConfirmed) {
    switch (kind) {
    case 0:
        // Said Yes to before the job, as the window does.
        if (loaderConfirmed || options.yesLoader) return {1, nullptr};
        return {0, kYesLoader};
    case 1:
        return options.yesContinue ? PromptAnswer{1, nullptr} : PromptAnswer{0, kYesContinue};
    case 2:
        return options.yesAnyway ? PromptAnswer{1, nullptr} : PromptAnswer{0, kYesAnyway};
    default:
        return {0, nullptr}; // the window answers No without a box, too
    }
}

StationSession::StationSession(StationServices services, const StationOptions &options)
    : m_services(std::move(services)), m_options(options), m_state(m_services.state),
      m_texts(m_services.platform.profile, m_state.g_languageFile),
      m_settingsFile(m_services.platform.files, m_services.platform.profile),
      m_view(m_services.output), m_recorder(m_services.store, m_services.platform.clock),
      m_recordView(m_view, m_recorder), m_device{m_state,        m_model, m_services.library,
                                                 m_recordView,   m_texts, m_services.platform,
                                                 m_services.gate},
      m_ctx{m_state,
            m_model,
            m_recordView,
            m_texts,
            m_services.platform.clock,
            m_services.platform.files,
            m_services.gate,
            m_services.pump,
            [this](int mode) { return StartJobThread(mode); },
            [this](const std::wstring &path) { return InspectFirmware(m_device, path); },
            [this] { return m_services.startThread([this] { DeviceWatchThread(m_device); }); },
            [this] { m_services.library.DllDeInitialize(); }},
      m_loop(*this, options.run == StationOptions::Run::Loop,
             static_cast<uint64_t>(options.waitSeconds) * 1000, 0) {
    m_view.json = options.json;
    m_view.loaderQuestion = [this] {
        if (m_options.yesLoader) return true;
        m_declinedBy = kYesLoader;
        return false;
    };
    m_view.postResult = [this](int mode, int code) {
        if (m_services.postResult) m_services.postResult(mode, code);
    };
    m_recorder.onWriteFailed = [this](const std::wstring &reason) {
        m_view.ErrorLine(FormatLangText(Text(station_text::kRecordFailed), reason));
    };
    m_recorder.onCompleted = [this](const JobRecordFields &fields) {
        if (!m_options.json) return;
        const std::string json =
            JobRecordJson(fields, {{"declined_by", JsonString(fields.declinedBy)}});
        m_view.Raw(std::wstring(json.begin(), json.end()));
    };
}

int StationSession::LoadSettings() {
    // The window's boxes about its own preselected image do not concern the
    // station, whose image is its argument.
    m_view.SetMuted(true);
    const LoadSettingsResult loaded = ::LoadSettings(m_state, m_settingsFile, m_services.platform,
                                                     m_services.library, m_recordView, m_texts);
    m_view.SetMuted(false);
    if (loaded == LoadSettingsResult::Loaded) return 0;
    // No language is chosen: the window's one fixed text.
    m_view.ErrorLine(L"Failure to Load setting!");
    return station_exit::kSettingsUnavailable;
}

int StationSession::Prepare(uint64_t nowMs) {
    m_computer = m_services.store.ComputerName();
    m_recorder.SetFile(m_options.recordGiven
                           ? ResolveRecordPath(m_options.record, m_state.programFolder)
                           : ReadJobRecordPath(m_settingsFile, m_state.programFolder));
    const Settings &s = m_state.settings;
    m_services.library.SetVidPid(s.DEVICE_ID_VID, s.DEVICE_ID_PID, s.MSC_ID_VID, s.MSC_ID_PID,
                                 s.ADB_ID_VID, s.ADB_ID_PID);
    m_model.m_deviceLoaderVersion = kNoLoaderVersion;
    m_model.m_imageLoaderVersion = kNoLoaderVersion;

    if (!InspectFirmware(m_device, m_options.image)) return station_exit::kImageRefused;
    m_state.settings.FIRMWARE = m_options.image;
    // The image is the same for every device: its digest is taken once, now,
    // and not between a device's arrival and its job.
    std::wstring digest;
    if (!m_recorder.File().empty() || m_options.json)
        m_services.store.FileSha256(m_options.image, digest);

    m_loop.Start(nowMs);
    Notify(StationNotice::WaitingForDevice);
    if (!m_ctx.startWatcher()) return station_exit::kNoDevice;
    return 0;
}

StationObservation StationSession::Observe(uint64_t nowMs, bool stopRequested) {
    StationObservation seen;
    seen.findResult = m_state.g_findResult.load();
    seen.announcements = m_recordView.Announcements();
    seen.stopRequested = stopRequested;
    seen.nowMs = nowMs;
    return seen;
}

void StationSession::Tick(uint64_t nowMs, bool stopRequested) {
    m_loop.Tick(Observe(nowMs, stopRequested));
    m_recorder.Poll();
}

bool StationSession::StartJobThread(int mode) {
    // The hand-over is done: the watcher is idle and the held device is the
    // one the checks passed.
    m_jobDevice = m_recordView.DeviceName();
    const std::wstring serial = Serial(m_state.g_deviceInfo, m_services.platform.codec);
    if (!serial.empty()) m_jobDevice += (m_jobDevice.empty() ? L"" : L" ") + serial;
    m_recorder.Begin(JobStartFacts(m_device, m_recordView, mode, m_computer));
    return m_services.startThread(
        [this, mode] { UpgradeThread(m_device, m_services.runner, m_services.system, mode); });
}

JobStart StationSession::StartJob() {
    m_declinedBy.clear();
    m_view.ClearRefusal();
    const bool started = m_options.mode == kModeUpgrade ? OnUpgrade(m_ctx) : OnRepair(m_ctx);
    if (started) return JobStart::Started;
    if (!m_declinedBy.empty()) {
        m_view.ErrorLine(FormatLangText(Text(station_text::kDeclined), m_declinedBy));
        return JobStart::Refused;
    }
    const std::wstring refusal = m_view.LastRefusal();
    if (refusal == Text(L"IDS_109")) return JobStart::SeveralDevices;
    if (refusal == Text(L"IDS_110")) return JobStart::NoDevice;
    return JobStart::Refused;
}

void StationSession::Notify(StationNotice notice) {
    switch (notice) {
    case StationNotice::WaitingForDevice:
        m_view.Line(Text(station_text::kWaitingForDevice), L"");
        break;
    case StationNotice::RemoveDevice:
        m_view.Line(Text(station_text::kRemoveDevice), L"");
        break;
    case StationNotice::Finishing:
        m_view.Line(Text(station_text::kFinishing), m_jobDevice);
        break;
    case StationNotice::Stopped:
        m_view.Line(Text(station_text::kStopped), L"");
        break;
    case StationNotice::NoDeviceInTime:
        m_view.ErrorLine(FormatLangText(Text(station_text::kNoDeviceInTime),
                                        std::to_wstring(m_options.waitSeconds)));
        break;
    }
}

void StationSession::OnJobResult(int mode, int code, uint64_t nowMs, bool stopRequested) {
    const VerdictKey key = VerdictKeyFor(static_cast<unsigned>(mode), code);
    m_view.BeginVerdict();
    // The window's own handling: the verdict, the job's traces cleared, the
    // device handed back to the watcher.
    OnUpgradeResult(m_ctx, static_cast<unsigned>(mode), code);
    const std::wstring verdict = m_view.EndVerdict();
    m_recorder.Finish(code, key.key, verdict, m_declinedBy);

    std::wstring line = verdict + L" [" + std::to_wstring(code) + L"]";
    if (!m_declinedBy.empty())
        line += L" " + FormatLangText(Text(station_text::kDeclined), m_declinedBy);
    m_view.Line(line, m_jobDevice);
    m_loop.JobEnded(code, Observe(nowMs, stopRequested));
}

void StationSession::OnDevicePrompt(unsigned kind, int32_t *answer) {
    if (answer == nullptr) return;
    const PromptAnswer chosen =
        AnswerDevicePrompt(kind, m_options, m_state.g_autoConfirmLoader.load() != 0);
    *answer = chosen.answer;
    if (chosen.answer == 0 && chosen.flag != nullptr) m_declinedBy = chosen.flag;
}

void StationSession::Shutdown() {
    // A one-job run waits for its device's return only when a record or a
    // JSON object is to carry the version read after the job.
    const bool recordWanted = !m_recorder.File().empty() || m_options.json;
    if (m_options.run == StationOptions::Run::OneJob && recordWanted)
        m_recorder.WaitAndWrite();
    else
        m_recorder.Flush();
    m_view.SetMuted(true);
    RunExitProcedure(m_ctx);
}
