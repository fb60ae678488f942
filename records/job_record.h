// The job record: one CSV line per upgrade or repair, appended to the file
// that [SYSTEM] JOB_RECORD names, by the window and the station alike. It
// answers "what was written to which device, when, and how did it end"
// without any tool of ours: a spreadsheet or any CSV reader opens it.
//
// A job's line is completed once the same device has come back after the job
// (its software version read again by the watcher) or after
// kRecordAfterWaitMs, whichever comes first; the job's verdict never waits
// for it, and a record that cannot be written never changes the verdict.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/ini_file.h"
#include "base/platform.h"
#include "device/job_events.h"

// How long a finished job's record waits for the device to come back: the
// minute the verdict tells the user to wait.
inline constexpr uint32_t kRecordAfterWaitMs = 60000;

struct JobRecordFields {
    // Unique per job, across stations and restarts: a destination that meets
    // it again after an unknown outcome knows the line is already there.
    std::wstring jobId;
    int64_t startSeconds = 0; // UTC, seconds since 1970
    int64_t endSeconds = 0;
    uint64_t durationMs = 0;
    std::wstring computer;
    std::wstring programVersion;
    std::wstring mode; // "upgrade" or "repair"
    int32_t deviceKind = 0;
    std::wstring deviceName;
    std::wstring deviceSerial;
    std::wstring deviceSoftwareBefore; // empty when the device's versions were not read
    std::wstring deviceLoaderBefore;
    std::wstring imageFile;
    std::wstring imageSoftware; // as the window shows it ("1.2.3", "N/A")
    std::wstring imageLoader;   // "1.41"
    uint32_t imageSize = 0;
    std::wstring imageSha256; // lower-case hexadecimal; empty when the file could not be read
    int32_t resultCode = 0;
    std::wstring verdictKey; // "IDS_21"
    std::wstring verdictText;
    std::wstring deviceSoftwareAfter; // empty when the device did not come back in time
    // A pass proven by the device itself: kVerifiedYes when the software it
    // came back with is the image's, kVerifiedNo when it is another; empty
    // when there was nothing to compare (a failed job, no version read, the
    // comparison switched off).
    std::wstring verified;
    std::wstring operatorName; // who ran the station or the window; empty when not given
    JobPhaseTimes phases;      // kPhaseNotReached: a phase the job did not begin
    std::wstring startLocal;   // "2026-12-08 13:26:59", the computer's time at the start
    // Not a column: the station's flag that would have said Yes to a question
    // answered No during the job (its JSON carries it).
    std::wstring declinedBy;
};

inline constexpr const wchar_t *kVerifiedYes = L"yes";
inline constexpr const wchar_t *kVerifiedNo = L"no";

// The column names, in the order of every line.
const std::vector<const char *> &JobRecordColumns();
// The position of a column by its name; the number of columns when none.
size_t JobRecordColumnIndex(const std::string &name);

// "2026-12-08T12:03:23Z".
std::string FormatUtcIso8601(int64_t seconds);
// Its inverse: exactly that form, nothing before or after it.
bool ParseUtcIso8601(const std::string &text, int64_t &seconds);
// "2026-12-08 13:03:23": the civil time of seconds already shifted to a zone.
std::string FormatLocalDateTime(int64_t seconds);
// "2.345" seconds, to the millisecond; empty for kPhaseNotReached.
std::string PhaseSeconds(int64_t ms);

// One text field as CSV (RFC 4180) in UTF-8: quoted when it holds a comma, a
// quotation mark or a line break. A text that a spreadsheet would take for a
// formula (beginning with =, +, -, @, a tab or a carriage return) is quoted
// and led by an apostrophe, which the spreadsheet shows as text.
std::string CsvTextField(const std::wstring &text);

// The header line and one record line, each ending in CR LF.
std::string JobRecordHeaderLine();
std::string JobRecordLine(const JobRecordFields &fields);

// The same fields as one JSON object on one line (no line end), with the
// extra members given (already JSON values) after them. Plain ASCII: any
// other character is written as a \u escape.
std::string JobRecordJson(const JobRecordFields &fields,
                          const std::vector<std::pair<std::string, std::string>> &extra = {});
std::string JsonString(const std::wstring &text);

std::string EncodeUtf8Text(const std::wstring &text);

// The record file as [SYSTEM] JOB_RECORD names it: empty when the setting is
// missing or empty; a relative path is taken from the program folder.
std::wstring ReadJobRecordPath(CIniFile &ini, const std::wstring &programFolder);
// [SYSTEM] OPERATOR, surrounding blanks dropped; empty when missing.
std::wstring ReadOperatorSetting(CIniFile &ini);
std::wstring ResolveRecordPath(const std::wstring &path, const std::wstring &programFolder);
// [SYSTEM] VERIFY_VERSION: on unless set to 0.
bool ReadVerifyVersion(CIniFile &ini);

class IRecordSink; // records/record_sink.h

// Collects one job's record at a time from the job events and hands it to
// every sink when it is complete: the device of the job is back (shown again
// with the same identity) and the image's digest is known, or
// kRecordAfterWaitMs after the job's end, whichever comes first. The events
// come from the watcher, the job's starter and a hashing worker; Poll, Flush
// and WaitAndWrite from whoever writes. All may be on different threads.
class JobRecorder : public IJobEventListener {
  public:
    explicit JobRecorder(IClock &clock);

    // Sinks are added before the first job and live as long as the recorder.
    void AddSink(IRecordSink &sink);
    void SetComputer(const std::wstring &computer);
    // Whether a successful job's line compares the software the device came
    // back with to the image's (on by default).
    void SetVerifyVersion(bool verify);
    void SetOperator(const std::wstring &operatorName);

    // A job starts: the facts known before it. A record still pending from
    // an earlier job is handed on first.
    void OnJobStarted(const JobStartedFacts &job) override;
    void OnImageHashed(const std::wstring &jobId, const std::wstring &sha256) override;
    void OnJobPhaseTimes(const std::wstring &jobId, const JobPhaseTimes &times) override;
    // The job's verdict: its end time is taken now, and the wait for the
    // device's return begins.
    void OnJobEnded(const JobEndedFacts &job) override;
    // Only the same device gives the record its version after the job.
    void OnDeviceBack(const DeviceFacts &device) override;

    // The wait for the device's return starts again from now: the window
    // calls it when its verdict box has been closed and the watcher resumes.
    void StartReturnWait();

    // Hands on the finished record when its wait is over. True when a record
    // was completed by this call.
    bool Poll();
    // Hands on the finished record now, without waiting.
    void Flush();
    // Blocks until the finished record is complete (device back or wait
    // over) and hands it on. Returns at once when none is pending. cancel,
    // when given, is asked as the wait goes on: true hands the record on as
    // it stands (Ctrl+C).
    void WaitAndWrite(const std::function<bool()> &cancel = nullptr);
    bool Pending() const;

    // Every completed record (the station's JSON), after the sinks have it.
    std::function<void(const JobRecordFields &)> onCompleted;

  private:
    enum class Phase { Idle, Running, Finished, Complete };
    bool DueLocked() const;
    // Takes the record out under the lock; hands it on outside.
    std::optional<JobRecordFields> TakeLocked();
    void Hand(const JobRecordFields &fields);
    // The finished record as it stands, kept by every sink until it is
    // complete.
    void HoldFinished();
    void TakeHashLocked(const std::wstring &jobId, const std::wstring &sha256);

    IClock &m_clock;
    mutable std::mutex m_guard; // everything below
    std::condition_variable m_changed;
    std::vector<IRecordSink *> m_sinks;
    std::wstring m_computer;
    bool m_verifyVersion = true;
    std::wstring m_operator;
    Phase m_phase = Phase::Idle;
    JobRecordFields m_fields;
    std::wstring m_deviceIdentity;
    bool m_hashKnown = false;
    // The image of the job under way and of the last job whose digest is
    // known: an image whose content changed while its facts were not read
    // again (replaced with the same size and time) has no versions to name.
    uint64_t m_inspection = 0;
    std::wstring m_lastImage;
    uint64_t m_lastInspection = 0;
    std::wstring m_lastSha256;
    bool m_lastStale = false;
    uint64_t m_startTick = 0;
    uint64_t m_deadline = 0;
};
