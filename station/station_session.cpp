#include "station/station_session.h"

#include <algorithm>

#include "app/settings_loader.h"
#include "base/text_format.h"
#include "base/text_keys.h"
#include "commands/exit_procedure.h"
#include "commands/image_recheck.h"
#include "commands/job_commands.h"
#include "commands/job_watchdog.h"
#include "device/device_watcher.h"
#include "device/firmware_check.h"
#include "device/job_start.h"
#include "device/job_verdict.h"
#include "device/upgrade_job.h"
#include "records/job_database.h"
#include "records/record_import.h"
#include "station/station_codes.h"

namespace {

constexpr uint32_t kMsPerSecond = 1000;
// How long the end looks for the queue to empty by itself before it says
// that it waits for it.
constexpr int kQuietDeliveryLooks = 10;
constexpr uint32_t kQuietDeliveryLookMs = 20;

constexpr const wchar_t *kYesLoader = L"--yes-loader";
constexpr const wchar_t *kYesContinue = L"--yes-continue";
constexpr const wchar_t *kYesAnyway = L"--yes-anyway";

// The refusals the checks before a job show, by their text keys.
constexpr const wchar_t *kRefusalKeys[] = {
    ids::kSeveralDevicesRefused, ids::kNoDeviceRefused,         ids::kChooseFirmwareFirst,
    ids::kMaskRomCannotUpgrade,  ids::kImagePathNotConvertible, ids::kImageLoaderVersionUnreadable,
    ids::kImageSizeUnreadable,   ids::kTempPathNotConvertible,  ids::kLoaderNotExtracted,
    ids::kOlderLoaderQuestion,
};

// The device as the lines name it, from its record.
std::wstring DeviceOfRecord(const JobRecordFields &fields) {
    if (fields.deviceSerial.empty()) return fields.deviceName;
    return fields.deviceName + (fields.deviceName.empty() ? L"" : L" ") + fields.deviceSerial;
}

} // namespace

PromptAnswer StationPromptAnswer(uint32_t kind, const StationOptions &options,
                                 bool loaderConfirmed) {
    switch (kind) {
    case kPromptOlderLoader:
        // Said Yes to before the job, as the window does.
        if (loaderConfirmed || options.yesLoader) return {1, nullptr};
        return {0, kYesLoader};
    case kPromptContinue:
        return options.yesContinue ? PromptAnswer{1, nullptr} : PromptAnswer{0, kYesContinue};
    case kPromptMayNotComplete:
        return options.yesAnyway ? PromptAnswer{1, nullptr} : PromptAnswer{0, kYesAnyway};
    default:
        return {0, nullptr}; // the window answers No without a box, too
    }
}

StationSession::StationSession(StationServices services, const StationOptions &options)
    : m_services(std::move(services)), m_options(options), m_state(m_services.state),
      m_texts(m_services.platform.profile, m_state.g_languageFile, m_state.g_programFolder),
      m_settingsFile(m_services.platform.files, m_services.platform.profile),
      m_view(m_services.output),
      m_recorder(m_services.platform.clock), m_ctx{{m_state, m_model, m_services.library, m_view,
                                                    m_texts, m_services.platform, m_services.gate,
                                                    &m_events},
                                                   *this,
                                                   m_services.pump,
                                                   nullptr,
                                                   kWatchIdleWaitMs,
                                                   true},
      m_loop(*this, options.run == StationOptions::Run::Loop,
             static_cast<uint64_t>(options.waitSeconds) * kMsPerSecond, 0, options.count) {
    m_ctx.watch = &m_watch;
    m_view.json = options.json;
    m_view.loaderQuestion = [this] {
        if (m_options.yesLoader) return true;
        m_declinedBy = kYesLoader;
        return false;
    };
    m_view.postResult = [this](int mode, int code) {
        if (m_services.postResult) m_services.postResult(mode, code);
    };
    m_events.AddListener(*this);
    m_events.AddListener(m_recorder);
    m_recorder.onCompleted = [this](const JobRecordFields &fields) {
        if (fields.verified == kVerifiedNo) {
            // The verdict line said done before the device could prove it.
            m_view.ErrorLine(
                FormatLangText(Text(ids::kStationNotVerified), fields.deviceSoftwareAfter),
                DeviceOfRecord(fields));
            m_loop.JobNotVerified();
        }
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
                                                     m_services.library, m_view, m_texts);
    m_view.SetMuted(false);
    if (loaded == LoadSettingsResult::Loaded) return 0;
    // No language is chosen: the window's one fixed text.
    m_view.ErrorLine(L"Failure to Load setting!");
    return station_exit::kSettingsUnavailable;
}

void StationSession::OpenRecords() {
    m_computer = m_services.store.ComputerName();
    m_recorder.SetComputer(m_computer);
    m_recorder.SetOperator(StationOperator(m_options, ReadOperatorSetting(m_settingsFile)));
    m_stationName = ReadStationName(m_settingsFile, m_computer);
    m_verifyVersion = ReadVerifyVersion(m_settingsFile);
    m_recorder.SetVerifyVersion(m_verifyVersion);
    m_database = StationDatabaseConnection(m_options, ReadJobDatabaseConnection(m_settingsFile));
    OpenRecord(m_options.recordGiven ? ResolveRecordPath(m_options.record, m_state.g_programFolder)
                                     : ReadJobRecordPath(m_settingsFile, m_state.g_programFolder));
    OpenDatabase();
}

void StationSession::ProbeRecords() {
    if (!m_records) return;
    for (RecordOutbox *outbox : m_records->Outboxes()) {
        std::wstring error;
        if (outbox->Probe(error)) continue;
        m_view.ErrorLine(FormatLangText(Text(ids::kRecordNotWritten),
                                        outbox->Destination().Name() + L": " + error));
        m_view.ErrorLine(Text(ids::kStationRecordsQueued));
    }
}

int StationSession::Prepare(uint64_t nowMs) {
    OpenRecords();
    ProbeRecords();
    // Lines an earlier run left go now, beside the first device.
    if (m_records) m_records->Start();
    const Settings &s = m_state.g_settings;
    m_services.library.SetVidPid(s.DEVICE_ID_VID, s.DEVICE_ID_PID, s.MSC_ID_VID, s.MSC_ID_PID,
                                 s.ADB_ID_VID, s.ADB_ID_PID);
    m_model.m_deviceLoaderVersion = kNoLoaderVersion;
    m_model.m_imageLoaderVersion = kNoLoaderVersion;

    // The station says each of these in a line of its own, or not at all.
    m_view.SetUnsaid(
        {Text(ids::kNoDevice), Text(ids::kSeveralDevices), Text(ids::kDisconnectOthers)});
    m_view.SetReworded(
        {{Text(ids::kImagePathNotConvertible), Text(ids::kStationImagePathNotConvertible)}});

    // An image refused at the start ends the run; later, it is checked
    // again for each device.
    if (!ImageThere()) return station_exit::kImageRefused;
    if (!InspectAndRemember(m_ctx, m_options.image)) return station_exit::kImageRefused;
    m_state.g_settings.FIRMWARE = m_options.image;

    m_loop.Start(nowMs);
    Notify(StationNotice::WaitingForDevice);
    if (!StartWatcher()) return station_exit::kNoDevice;
    return 0;
}

bool StationSession::ImageThere() {
    // The inspection would call it damaged: the operator is to look for the
    // file, not at it.
    IFileSystem &files = m_services.platform.files;
    // Anything found inside it makes it a folder (a folder holds "." at least).
    const bool folder = !files.FindFiles(m_options.image + L"\\*").empty();
    if (files.PathExists(m_options.image) && !folder) return true;
    m_view.ErrorLine(FormatLangText(Text(ids::kStationImageNotFound), m_options.image), L"");
    return false;
}

namespace {

// A job as the station's lines name it: by its id, else its start.
std::wstring JobName(const JobRecordFields &fields) {
    if (!fields.jobId.empty()) return fields.jobId;
    const std::string start = FormatUtcIso8601(fields.startSeconds);
    return std::wstring(start.begin(), start.end());
}

} // namespace

int StationSession::RecordsCommand() {
    OpenRecords();
    if (!m_records) return station_exit::kSuccess;
    if (m_options.run == StationOptions::Run::ResendRefused) {
        const size_t resent = m_records->ResendRefused();
        m_view.Line(FormatLangText(Text(ids::kRecordsResent), std::to_wstring(resent)), L"");
        // What is refused again is said as it is set aside.
        for (RecordOutbox *outbox : m_records->Outboxes())
            outbox->DeliverNow();
    }
    const QueueListing listing = ListRecordQueue(*m_services.queueFiles, m_records->Root());
    auto describe = [](const QueuedRecord &record) {
        const std::string end = FormatUtcIso8601(record.fields.endSeconds);
        const std::wstring path = RecordPathOfDestination(record.destinationName);
        return JobName(record.fields) + L", " + std::wstring(end.begin(), end.end()) + L", " +
               (path.empty() ? record.destinationName : path);
    };
    for (const QueuedRecord &record : listing.waiting)
        m_view.Line(FormatLangText(Text(ids::kRecordListWaiting), describe(record)), L"");
    for (const QueuedRecord &record : listing.refused)
        m_view.Line(
            FormatLangText(Text(ids::kRecordListRefused), describe(record) + L": " + record.reason),
            L"");
    for (const std::wstring &unreadable : listing.unreadable)
        m_view.ErrorLine(FormatLangText(Text(ids::kRecordNotWritten), unreadable));
    m_view.Line(
        FormatLangText(Text(ids::kRecordsWaitingCount), std::to_wstring(listing.waiting.size())),
        L"");
    if (!listing.refused.empty())
        m_view.Line(FormatLangText(Text(ids::kRecordsRefusedCount),
                                   std::to_wstring(listing.refused.size())),
                    L"");
    return listing.waiting.empty() && listing.refused.empty() ? station_exit::kSuccess
                                                              : station_exit::kRecordsWaiting;
}

int StationSession::ImportCommand() {
    m_database = StationDatabaseConnection(m_options, ReadJobDatabaseConnection(m_settingsFile));
    if (m_database.empty()) {
        m_view.ErrorLine(Text(ids::kImportNoDatabase));
        return station_exit::kImportIncomplete;
    }
    const std::wstring &path = m_options.importFile;
    std::string bytes;
    uint64_t size = 0;
    std::wstring error;
    // A missing file reads as an empty one: it is named as such.
    if (!m_services.recordFile ||
        !m_services.recordFile->ReadFrom(path, 0, kReadToTheEnd, bytes, size, error) ||
        !m_services.platform.files.PathExists(path)) {
        m_view.ErrorLine(FormatLangText(Text(ids::kImportFileUnreadable),
                                        path + (error.empty() ? L"" : L": " + error)));
        return station_exit::kImportIncomplete;
    }
    const RecordFileContents contents = ReadRecordFileForImport(bytes);
    if (contents.notARecord) {
        m_view.ErrorLine(FormatLangText(Text(ids::kImportNotARecord), path));
        return station_exit::kImportIncomplete;
    }
    // No station name of its own: each row is the station's that made the
    // line, as its computer column says.
    std::unique_ptr<IRecordDestination> database =
        m_services.makeDatabase ? m_services.makeDatabase(m_database, L"") : nullptr;
    if (!database) {
        m_view.ErrorLine(Text(ids::kImportNoDatabase));
        return station_exit::kImportIncomplete;
    }
    const ImportTally tally = ImportRecordLines(contents.lines, *database);
    auto refuse = [this](size_t line, const std::wstring &why) {
        m_view.ErrorLine(
            FormatLangText(Text(ids::kImportLineRefused), std::to_wstring(line) + L": " + why));
    };
    size_t refused = tally.refused.size();
    for (const ImportLine &line : contents.lines) {
        if (line.problem == ImportLine::Problem::TooManyFields)
            refuse(line.line, Text(ids::kImportTooManyFields));
        else if (line.problem == ImportLine::Problem::Unreadable)
            refuse(line.line, FormatLangText(Text(ids::kImportFieldUnreadable), line.column));
        refused += line.problem != ImportLine::Problem::None ? 1 : 0;
    }
    for (const auto &[line, why] : tally.refused)
        refuse(line, why);
    if (!tally.notice.empty())
        m_view.ErrorLine(FormatLangText(Text(ids::kRecordWrittenWithout),
                                        database->Name() + L": " + tally.notice));
    if (tally.notSent > 0)
        m_view.ErrorLine(FormatLangText(Text(ids::kRecordNotWritten), tally.notSentReason));
    m_view.Line(FormatLangText(Text(ids::kImportSentCount), std::to_wstring(tally.sent)), L"");
    m_view.Line(
        FormatLangText(Text(ids::kImportAlreadyThereCount), std::to_wstring(tally.alreadyThere)),
        L"");
    m_view.Line(FormatLangText(Text(ids::kImportRefusedCount), std::to_wstring(refused)), L"");
    if (tally.notSent > 0)
        m_view.Line(FormatLangText(Text(ids::kImportNotSentCount), std::to_wstring(tally.notSent)),
                    L"");
    return refused == 0 && tally.notSent == 0 ? station_exit::kSuccess
                                              : station_exit::kImportIncomplete;
}

void StationSession::OpenRecord(const std::wstring &path) {
    m_recordPath = path;
    if (!m_services.recordFile || !m_services.queueFiles) return;
    m_records = std::make_unique<RecordKeeping>(*m_services.recordFile, *m_services.queueFiles,
                                                m_services.platform.clock, m_state.g_programFolder,
                                                m_services.queueOwner);
    m_records->onOpened = [this](RecordOutbox &outbox) {
        outbox.onError = [this](const std::wstring &message) {
            m_view.ErrorLine(FormatLangText(Text(ids::kRecordNotWritten), message));
        };
        outbox.onNotice = [this](const std::wstring &message) {
            m_view.ErrorLine(FormatLangText(Text(ids::kRecordWrittenWithout), message));
        };
        // Every line that waits is named, the job by its id.
        outbox.onRecordWaiting = [this](const JobRecordFields &fields) {
            m_view.ErrorLine(FormatLangText(Text(ids::kRecordLineWaits), JobName(fields)));
        };
    };
    if (CsvRecordSink *sink = m_records->OpenFile(path)) m_recorder.AddSink(*sink);
}

void StationSession::OpenDatabase() {
    if (m_database.empty() || !m_services.makeDatabase || !m_records) return;
    m_databaseDestination = m_services.makeDatabase(m_database, m_stationName);
    if (!m_databaseDestination) return;
    // A queue of its own: the file and the server are written, and wait,
    // independently of each other.
    m_recorder.AddSink(m_records->OpenDatabase(*m_databaseDestination));
}

StationObservation StationSession::Observe(uint64_t nowMs, bool stopRequested) {
    StationObservation seen;
    seen.findResult = m_state.g_findResult.load();
    // The device shown is the events' one fact, whoever asks.
    seen.device = m_events.ShownDevice(seen.announcements).identity;
    seen.stopRequested = stopRequested;
    seen.nowMs = nowMs;
    JobWatch::Overdue overdue;
    seen.stepOverdue = m_watch.StepStillOverdue(nowMs, overdue);
    return seen;
}

void StationSession::Tick(uint64_t nowMs, bool stopRequested) {
    if (m_loop.State() == StationState::JobRunning) {
        const std::wstring overdue = CheckRunningJob(m_ctx, nowMs);
        if (!overdue.empty())
            m_view.ErrorLine(overdue + L" " + Text(ids::kStationStepOverdueStop), m_jobDevice);
    }
    m_loop.Tick(Observe(nowMs, stopRequested));
    m_recorder.Poll();
}

bool StationSession::StartWatcher() {
    return m_services.startThread([this] { DeviceWatchThread(m_ctx); });
}

bool StationSession::InspectImage(const std::wstring &path) {
    return InspectFirmware(m_ctx, path);
}

bool StationSession::StartJob(JobMode mode) {
    // The hand-over is done: the watcher is idle and the held device is the
    // one the checks passed.
    m_loop.SetJobDevice(m_events.ShownDevice().identity);
    IJobIdSource &ids = m_services.jobIds != nullptr ? *m_services.jobIds : m_ownJobIds;
    TellJobStarted(m_ctx, mode, ids, m_services.store,
                   m_services.startTask ? m_services.startTask : m_services.startThread);
    if (!StartWatchedJob(
            m_watch, m_services.platform.clock.TickMs(), m_services.startThread,
            [this, mode] { UpgradeThread(m_ctx, m_services.runner, m_services.system, mode); })) {
        // Ended as any job ends, through its result: one verdict line, one
        // record line, and the loop counts a failed job rather than a refusal.
        m_view.PostUpgradeResult(mode, kJobThreadNotStarted);
    }
    return true;
}

JobStart StationSession::CheckAndStartJob() {
    m_declinedBy.clear();
    m_view.ClearRefusal();
    // The image is checked again for each device, so one unreadable for a
    // moment refuses this device only; and a refused one is the image again
    // for the next device.
    m_state.g_settings.FIRMWARE = m_options.image;
    if (m_state.g_findResult.load() == 1 && !InspectAndRemember(m_ctx, m_options.image)) {
        RecordRefusal(RefusalKey(m_view.LastRefusal()));
        return JobStart::Refused;
    }
    if (m_options.skipDone && m_state.g_findResult.load() == 1 && SkipDoneDevice())
        return JobStart::AlreadyDone;
    const bool started = m_options.mode == kModeUpgrade ? OnUpgrade(m_ctx) : OnRepair(m_ctx);
    m_state.g_settings.FIRMWARE = m_options.image;
    if (started) return JobStart::Started;
    if (!m_declinedBy.empty()) {
        m_view.ErrorLine(Text(ids::kStationLoaderDeclined));
        RecordRefusal(ids::kOlderLoaderQuestion);
        return JobStart::Refused;
    }
    // The click was given up before any check: a watcher cycle is still
    // inside the library.
    if (!m_view.RefusalShown()) return JobStart::Busy;
    const std::wstring refusal = m_view.LastRefusal();
    if (refusal == Text(ids::kSeveralDevicesRefused)) return JobStart::SeveralDevices;
    if (refusal == Text(ids::kNoDeviceRefused)) return JobStart::NoDevice;
    RecordRefusal(RefusalKey(refusal));
    return JobStart::Refused;
}

std::wstring StationSession::RefusalKey(const std::wstring &refusal) {
    for (const wchar_t *key : kRefusalKeys)
        if (Text(key) == refusal) return key;
    return L"";
}

bool StationSession::SkipDoneDevice() {
    if (m_recordPath.empty() || !m_services.recordFile) return false;
    const std::vector<VerifiedPass> passes =
        ReadVerifiedPasses(*m_services.recordFile, m_recordPath, m_events.ShownDevice().serial);
    // The image is hashed only for a device with a pass of some image.
    if (passes.empty()) return false;
    std::wstring sha256;
    if (!m_services.store.FileSha256(m_options.image, sha256) || sha256.empty()) return false;
    for (auto pass = passes.rbegin(); pass != passes.rend(); ++pass) {
        if (pass->imageSha256 != sha256) continue;
        const std::wstring text =
            FormatLangText(Text(ids::kStationAlreadyDone), pass->end + L", " + pass->computer);
        RecordWithoutJob(kJobAlreadyDone, kAlreadyDoneKey, text, sha256);
        return true;
    }
    return false;
}

void StationSession::RecordRefusal(const std::wstring &refusalKey) {
    RecordWithoutJob(kJobRefusedByChecks, refusalKey, m_view.LastRefusal(), L"");
}

void StationSession::RecordWithoutJob(int32_t code, const std::wstring &key,
                                      const std::wstring &text, const std::wstring &sha256) {
    // Told as a job that ended before it began, so the record (and the JSON)
    // has a line for every device the station met.
    // The watcher runs again once the checks are over: the facts come from
    // what it told, never from the record it may be rewriting.
    IJobIdSource &ids = m_services.jobIds != nullptr ? *m_services.jobIds : m_ownJobIds;
    JobStartedFacts job;
    job.jobId = ids.NewJobId();
    job.mode = m_options.mode == kModeUpgrade ? kModeUpgrade : kModeRepair;
    job.device = m_events.ShownDevice();
    job.image = m_events.AcceptedImage(m_options.image);
    job.image.path = m_options.image;
    job.startSeconds = m_services.platform.clock.NowSeconds();
    m_loop.SetJobDevice(job.device.identity);
    m_events.OnJobStarted(job);
    m_events.OnImageHashed(job.jobId, sha256);
    JobEndedFacts ended;
    ended.jobId = job.jobId;
    ended.code = code;
    ended.verdictKey = key;
    ended.verdictText = text;
    ended.declinedBy = m_declinedBy;
    m_events.OnJobEnded(ended);
    // Nothing was done to the device: its line needs no version after.
    m_recorder.Flush();
}

void StationSession::OnJobStarted(const JobStartedFacts &job) {
    // The device as every line of the job names it, and the verdict line with
    // its serial number.
    m_jobDevice = job.device.name;
    if (!job.device.serial.empty())
        m_jobDevice += (m_jobDevice.empty() ? L"" : L" ") + job.device.serial;
    m_verdictParts = VerdictLineParts{};
    m_verdictParts.device = job.device.serial.empty() ? job.device.name : job.device.serial;
    if (job.device.versionsRead) m_verdictParts.before = job.device.software;
    // What the job set out to write; the device's own reading of it comes
    // when it is back, after the verdict.
    m_verdictParts.after = job.image.software;
}

std::wstring StationSession::StationVerdictText(const JobEndedFacts &job) {
    std::wstring text = job.verdictText;
    const std::wstring windowSuffix = Text(ids::kFailureSuffix);
    const bool suffixed =
        !windowSuffix.empty() && text.size() >= windowSuffix.size() &&
        text.compare(text.size() - windowSuffix.size(), windowSuffix.size(), windowSuffix) == 0;
    if (suffixed) text.erase(text.size() - windowSuffix.size());
    if (job.verdictKey == ids::kUpgradeFinished || job.verdictKey == ids::kRepairFinished)
        text = Text(ids::kStationJobDone);
    else if (job.verdictKey == ids::kDownloadFailed)
        text = Text(ids::kStationDownloadNotWritten);
    else if (job.verdictKey == ids::kLoaderDeclined)
        text = Text(ids::kStationLoaderNotWritten);
    if (suffixed) text += Text(ids::kStationFailureSuffix);
    return OneLine(text);
}

void StationSession::OnJobEnded(const JobEndedFacts &job) {
    // A refusal has had its lines; a job closed by the exit has no verdict.
    if (job.code == kJobRefusedByChecks) return; // the refused device stays shown
    if (job.code == kJobAlreadyDone) {
        // Said as a verdict; the device stays shown, to be taken away.
        m_view.Line(job.verdictText + L" [" + std::to_wstring(job.code) + L"]", m_jobDevice);
        return;
    }
    if (job.code != kJobClosedDuringJob) {
        VerdictLineParts parts = m_verdictParts;
        parts.code = job.code;
        parts.text = StationVerdictText(job);
        if (!job.declinedBy.empty())
            parts.text += L" " + FormatLangText(Text(ids::kStationDeclined), job.declinedBy);
        m_view.Verdict(VerdictLine(parts, Text(ids::kStationPass), Text(ids::kStationFail)),
                       job.code == 0);
    }
}

void StationSession::Notify(StationNotice notice) {
    switch (notice) {
    case StationNotice::WaitingForDevice:
        // How long, when the wait has an end; and how to end it.
        if (m_options.waitSeconds > 0)
            m_view.Line(FormatLangText(Text(ids::kStationWaitingUpTo),
                                       std::to_wstring(m_options.waitSeconds)),
                        L"");
        else
            m_view.Line(Text(ids::kStationWaiting), L"");
        break;
    case StationNotice::RemoveDevice:
        m_view.Line(Text(ids::kStationRemoveDevice), L"");
        break;
    case StationNotice::Finishing:
        m_view.Line(Text(ids::kStationFinishing), m_jobDevice);
        break;
    case StationNotice::Stopped:
        m_view.Line(Text(ids::kStationStopped), L"");
        break;
    case StationNotice::StepNotReturned: {
        // The run ends under a call that never came back: the job's line
        // says which, instead of the exit's "closed during the job".
        JobWatch::Overdue overdue;
        m_watch.StepStillOverdue(m_services.platform.clock.TickMs(), overdue);
        const std::wstring verdict =
            FormatLangText(Text(ids::kStepNotReturnedVerdict), OverdueStepName(overdue));
        m_view.ErrorLine(verdict, m_jobDevice);
        TellJobEnded(m_ctx, kJobStepNotReturned, kStepNotReturnedKey, verdict, m_declinedBy);
        break;
    }
    case StationNotice::NoDeviceInTime:
        m_view.ErrorLine(FormatLangText(Text(ids::kStationNoDeviceInTime),
                                        std::to_wstring(m_options.waitSeconds)));
        break;
    case StationNotice::SeveralStayed:
        m_view.ErrorLine(FormatLangText(Text(ids::kStationSeveralStayed),
                                        std::to_wstring(m_options.waitSeconds)));
        break;
    case StationNotice::Progress:
        PrintProgress();
        break;
    case StationNotice::Summary:
        PrintSummary();
        break;
    }
}

namespace {

constexpr const wchar_t *kFigureGap = L"  ";

} // namespace

void StationSession::PrintProgress() {
    const StationTally &tally = m_loop.Tally();
    std::wstring line =
        FormatLangText(Text(ids::kStationPassed), std::to_wstring(tally.Passed())) + kFigureGap +
        FormatLangText(Text(ids::kStationFailed), std::to_wstring(tally.Failed())) + kFigureGap +
        FormatLangText(Text(ids::kStationPerHour), FormatTenths(tally.PerHour()));
    if (m_options.count > 0) {
        const int left = std::max(0, m_options.count - tally.Passed());
        line +=
            kFigureGap + FormatLangText(Text(ids::kStationToGo),
                                        std::to_wstring(left) + L" (" +
                                            FormatDuration(tally.ToGoMs(m_options.count)) + L")");
    }
    m_view.Line(line, L"");
}

void StationSession::PrintSummary() {
    const StationTally &tally = m_loop.Tally();
    const double yield = tally.FirstPassYieldPercent();
    const std::wstring medianSeconds = FormatTenths(tally.MedianCycleMs() / double(kMsPerSecond));
    const std::wstring figures =
        FormatLangText(Text(ids::kStationPassed), std::to_wstring(tally.Passed())) + kFigureGap +
        FormatLangText(Text(ids::kStationFailed),
                       FormatFailures(tally.Failed(), tally.FailedBy())) +
        kFigureGap +
        FormatLangText(Text(ids::kStationRefused), std::to_wstring(tally.RefusedCount())) +
        kFigureGap +
        FormatLangText(Text(ids::kStationNotVerifiedCount),
                       std::to_wstring(tally.NotVerifiedCount())) +
        kFigureGap +
        FormatLangText(Text(ids::kStationAlreadyDoneCount),
                       std::to_wstring(m_loop.DevicesAlreadyDone())) +
        kFigureGap +
        FormatLangText(Text(ids::kStationFirstPassYield),
                       yield < 0 ? std::wstring(kVersionUnknown) : FormatTenths(yield) + L"%") +
        kFigureGap + FormatLangText(Text(ids::kStationMedianCycle), medianSeconds) + kFigureGap +
        FormatLangText(Text(ids::kStationSlowestCycle),
                       FormatTenths(tally.SlowestCycleMs() / double(kMsPerSecond))) +
        kFigureGap + FormatLangText(Text(ids::kStationPerHour), FormatTenths(tally.PerHour()));
    m_view.Line(FormatLangText(Text(ids::kStationSummary), figures), L"");
    if (!m_options.json) return;
    // The last object of the output stream.
    const std::wstring json =
        L"{\"summary\": {\"passed\": " + std::to_wstring(tally.Passed()) + L", \"failed\": " +
        std::to_wstring(tally.Failed()) + L", \"refused\": " +
        std::to_wstring(tally.RefusedCount()) + L", \"not_verified\": " +
        std::to_wstring(tally.NotVerifiedCount()) + L", \"already_done\": " +
        std::to_wstring(m_loop.DevicesAlreadyDone()) + L", \"per_hour\": " +
        FormatTenths(tally.PerHour()) + L", \"median_cycle_s\": " + medianSeconds + L"}}";
    m_view.Raw(json);
}

void StationSession::OnJobResult(int mode, int code, uint64_t nowMs, bool stopRequested) {
    const JobMode jobMode = static_cast<JobMode>(mode);
    const VerdictKey key = VerdictKeyFor(jobMode, code);
    // The end is told, and the loop knows it, before the device goes back to
    // the watcher: a device back at once (a quick restart) is then shown
    // after the job's end, as the device back. Shown before it, the end
    // would take it for the job's own device and the loop would count its
    // announcement as seen, waiting a minute for a return that had come.
    const Verdict verdict = VerdictFor(m_ctx.texts, m_state.g_settings.APPTITLE, jobMode, code);
    // The verdict line is printed by the station's listener of the job's end.
    TellJobEnded(m_ctx, code, key.key, verdict.text, m_declinedBy);
    m_loop.JobEnded(code, Observe(nowMs, stopRequested));
    // The window's own handling: its box (taken, not shown), the job's
    // traces cleared, the device handed back to the watcher.
    m_view.BeginVerdict();
    ShowJobVerdict(m_ctx, jobMode, code);
    m_view.EndVerdict();
}

void StationSession::OnDevicePrompt(unsigned kind, int32_t *answer) {
    if (answer == nullptr) return;
    const PromptAnswer chosen =
        StationPromptAnswer(kind, m_options, m_state.g_autoConfirmLoader.load() != 0);
    *answer = chosen.answer;
    if (chosen.answer == 0 && chosen.flag != nullptr) m_declinedBy = chosen.flag;
}

void StationSession::Shutdown() {
    // A one-job run waits for its device's return only when a record or a
    // JSON object is to carry the version read after the job, or a pass is
    // to be verified.
    const bool recordWanted = (m_records && !m_records->Outboxes().empty()) || m_options.json;
    // A pass is proven only by the device back with the image's software,
    // and the exit code says whether it was.
    const bool proofWanted = m_verifyVersion && m_loop.ExitCode() == station_exit::kSuccess;
    if (m_options.run == StationOptions::Run::OneJob && (recordWanted || proofWanted))
        WaitForReturnAndWrite();
    else
        m_recorder.Flush();
    m_view.SetMuted(true);
    RunExitProcedure(m_ctx);
    // A job the exit procedure found still running has its line now, before
    // the destinations' last try.
    m_recorder.Flush();
    if (!m_records) return;
    // One last try at each destination; what one still refuses waits for
    // the next start.
    for (RecordOutbox *outbox : m_records->Outboxes()) {
        LastDelivery(*outbox);
        const size_t waiting = outbox->Waiting();
        if (waiting == 0) continue;
        // The server's rows said apart from the file's lines: each goes
        // with the next start from this folder, whatever became of the
        // other.
        const bool database = m_records->Database() == outbox;
        m_view.ErrorLine(
            FormatLangText(Text(database ? ids::kDatabaseRowsWaiting : ids::kRecordLinesWaiting),
                           std::to_wstring(waiting)));
    }
}

unsigned StationSession::CtrlCPresses() const {
    return m_services.ctrlCPresses ? m_services.ctrlCPresses() : 0;
}

void StationSession::WaitForReturnAndWrite() {
    // A Ctrl+C during the job asked for the end: the line is written at once.
    if (m_recorder.Pending() && CtrlCPresses() == 0)
        m_view.Line(FormatLangText(Text(ids::kStationReturnWait),
                                   std::to_wstring(kRecordAfterWaitMs / kMsPerSecond)),
                    m_jobDevice);
    m_recorder.WaitAndWrite([this] { return CtrlCPresses() != 0; });
}

void StationSession::LastDelivery(RecordOutbox &outbox) {
    // The last try is made even after a Ctrl+C; only one pressed during it
    // cuts it short.
    const unsigned pressesBefore = CtrlCPresses();
    // A line handed over a moment ago is normally out at once: the wait is
    // said only when it is not.
    for (int look = 0; look < kQuietDeliveryLooks && outbox.Waiting() > 0; ++look)
        m_services.platform.clock.SleepMs(kQuietDeliveryLookMs);
    if (outbox.Waiting() > 0)
        m_view.Line(
            FormatLangText(Text(ids::kStationDeliveryWait),
                           std::to_wstring((kOutboxStopWaitMs + kMsPerSecond - 1) / kMsPerSecond)),
            L"");
    outbox.Stop(kOutboxStopWaitMs,
                [this, pressesBefore] { return CtrlCPresses() != pressesBefore; });
}
