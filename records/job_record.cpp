#include "records/job_record.h"

#include <chrono>
#include <cstdio>

#include "device/firmware_check.h"
#include "records/record_sink.h"
#include "res/version.h"

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian), as in Howard
// Hinnant's date algorithms: no gmtime, which is neither thread-safe nor
// the same on every platform.
void CivilFromDays(int64_t days, int64_t &year, unsigned &month, unsigned &day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// Its inverse: days since 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool StartsAsFormula(const std::wstring &text) {
    if (text.empty()) return false;
    switch (text[0]) {
    case L'=':
    case L'+':
    case L'-':
    case L'@':
    case L'\t':
    case L'\r':
        return true;
    default:
        return false;
    }
}

std::wstring EncodeWide(const std::string &ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string Number(int64_t value) {
    return std::to_string(value);
}

std::string Duration(uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned>(ms % 1000));
    return text;
}

// Every field of a line, already as CSV, in column order.
std::vector<std::string> CsvFields(const JobRecordFields &f) {
    return {FormatUtcIso8601(f.startSeconds),
            FormatUtcIso8601(f.endSeconds),
            Duration(f.durationMs),
            CsvTextField(f.computer),
            CsvTextField(f.programVersion),
            CsvTextField(f.mode),
            Number(f.deviceKind),
            CsvTextField(f.deviceName),
            CsvTextField(f.deviceSerial),
            CsvTextField(f.deviceSoftwareBefore),
            CsvTextField(f.deviceLoaderBefore),
            CsvTextField(f.imageFile),
            CsvTextField(f.imageSoftware),
            CsvTextField(f.imageLoader),
            Number(f.imageSize),
            CsvTextField(f.imageSha256),
            Number(f.resultCode),
            CsvTextField(f.verdictKey),
            CsvTextField(f.verdictText),
            CsvTextField(f.deviceSoftwareAfter),
            CsvTextField(f.jobId),
            CsvTextField(f.verified),
            CsvTextField(f.operatorName),
            PhaseSeconds(f.phases.switchMs),
            PhaseSeconds(f.phases.loaderMs),
            PhaseSeconds(f.phases.restartMs),
            PhaseSeconds(f.phases.downloadMs),
            f.startLocal.empty() ? std::string() : CsvTextField(f.startLocal)};
}

// A phase not reached is null in JSON: a reader tells it from a phase of 0 s.
std::string JsonPhaseSeconds(int64_t ms) {
    return ms == kPhaseNotReached ? "null" : PhaseSeconds(ms);
}

bool IsAbsolute(const std::wstring &path) {
    if (path.size() >= 2 && path[1] == L':') return true;          // C:\ or C:
    return !path.empty() && (path[0] == L'\\' || path[0] == L'/'); // \\server\share, \dir
}

} // namespace

const std::vector<const char *> &JobRecordColumns() {
    static const std::vector<const char *> columns = {"start",
                                                      "end",
                                                      "duration_s",
                                                      "computer",
                                                      "program_version",
                                                      "mode",
                                                      "device_kind",
                                                      "device_name",
                                                      "device_serial",
                                                      "device_software_before",
                                                      "device_loader_before",
                                                      "image_file",
                                                      "image_software",
                                                      "image_loader",
                                                      "image_size",
                                                      "image_sha256",
                                                      "result_code",
                                                      "verdict_key",
                                                      "verdict_text",
                                                      "device_software_after",
                                                      "job_id",
                                                      "verified",
                                                      "operator",
                                                      "time_switch_s",
                                                      "time_loader_s",
                                                      "time_restart_s",
                                                      "time_download_s",
                                                      "start_local"};
    return columns;
}

size_t JobRecordColumnIndex(const std::string &name) {
    const std::vector<const char *> &columns = JobRecordColumns();
    for (size_t i = 0; i < columns.size(); ++i)
        if (name == columns[i]) return i;
    return columns.size();
}

std::string PhaseSeconds(int64_t ms) {
    return ms < 0 ? std::string() : Duration(static_cast<uint64_t>(ms));
}

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerMinute = 60;

// The civil date and time of seconds since 1970-01-01, in the date's and the
// time's order (year, month, day, hour, minute, second) for the format.
std::string FormatCivilTime(int64_t seconds, const char *format) {
    int64_t days = seconds / kSecondsPerDay;
    int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, format, static_cast<long long>(year), month, day,
                  static_cast<unsigned>(rest / kSecondsPerHour),
                  static_cast<unsigned>(rest / kSecondsPerMinute % kSecondsPerMinute),
                  static_cast<unsigned>(rest % kSecondsPerMinute));
    return text;
}

} // namespace

std::string FormatLocalDateTime(int64_t seconds) {
    return FormatCivilTime(seconds, "%04lld-%02u-%02u %02u:%02u:%02u");
}

std::string FormatUtcIso8601(int64_t seconds) {
    return FormatCivilTime(seconds, "%04lld-%02u-%02uT%02u:%02u:%02uZ");
}

bool ParseUtcIso8601(const std::string &text, int64_t &seconds) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c%n", &year, &month, &day, &hour,
                    &minute, &second, &zone, &used) != 7 ||
        zone != 'Z' || static_cast<size_t>(used) != text.size())
        return false;
    constexpr unsigned kMonths = 12, kDays = 31, kHours = 23, kMinutes = 59, kSeconds = 60;
    if (month < 1 || month > kMonths || day < 1 || day > kDays || hour > kHours ||
        minute > kMinutes || second > kSeconds)
        return false;
    seconds = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * kSecondsPerHour +
              minute * kSecondsPerMinute + second;
    return true;
}

std::string EncodeUtf8Text(const std::wstring &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        // Surrogate pairs (wchar_t is 16 bits on Windows); a lone half
        // becomes U+FFFD rather than invalid UTF-8.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string CsvTextField(const std::wstring &text) {
    const bool formula = StartsAsFormula(text);
    const std::string utf8 = EncodeUtf8Text(text);
    const bool quote =
        formula || utf8.find_first_of(",\"\r\n") != std::string::npos || utf8 != utf8.c_str();
    if (!quote) return utf8;
    std::string out = "\"";
    if (formula) out += '\'';
    for (char c : utf8) {
        if (c == '"') out += '"';
        if (c != '\0') out += c;
    }
    out += '"';
    return out;
}

std::string JobRecordHeaderLine() {
    std::string line;
    for (const char *column : JobRecordColumns()) {
        if (!line.empty()) line += ',';
        line += column;
    }
    return line + "\r\n";
}

std::string JobRecordLine(const JobRecordFields &fields) {
    std::string line;
    bool first = true;
    for (const std::string &field : CsvFields(fields)) {
        if (!first) line += ',';
        first = false;
        line += field;
    }
    return line + "\r\n";
}

std::string JsonString(const std::wstring &text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        const uint32_t u = static_cast<uint32_t>(c);
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == L'\n') {
            out += "\\n";
        } else if (c == L'\r') {
            out += "\\r";
        } else if (c == L'\t') {
            out += "\\t";
        } else if (u < 0x20 || u >= 0x7F) {
            // UTF-16 units as they stand (a pair stays a pair): the object is
            // plain ASCII, whatever stream or code page carries it.
            auto unit = [&out](uint32_t value) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(value));
                out += escaped;
            };
            if (u > 0xFFFF) {
                unit(0xD800 + ((u - 0x10000) >> 10));
                unit(0xDC00 + ((u - 0x10000) & 0x3FF));
            } else {
                unit(u);
            }
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JobRecordJson(const JobRecordFields &f,
                          const std::vector<std::pair<std::string, std::string>> &extra) {
    auto text = [](const std::string &s) { return JsonString(std::wstring(s.begin(), s.end())); };
    const std::vector<std::pair<std::string, std::string>> members = {
        {"job_id", JsonString(f.jobId)},
        {"start", text(FormatUtcIso8601(f.startSeconds))},
        {"end", text(FormatUtcIso8601(f.endSeconds))},
        {"duration_s", Duration(f.durationMs)},
        {"computer", JsonString(f.computer)},
        {"program_version", JsonString(f.programVersion)},
        {"mode", JsonString(f.mode)},
        {"device_kind", Number(f.deviceKind)},
        {"device_name", JsonString(f.deviceName)},
        {"device_serial", JsonString(f.deviceSerial)},
        {"device_software_before", JsonString(f.deviceSoftwareBefore)},
        {"device_loader_before", JsonString(f.deviceLoaderBefore)},
        {"image_file", JsonString(f.imageFile)},
        {"image_software", JsonString(f.imageSoftware)},
        {"image_loader", JsonString(f.imageLoader)},
        {"image_size", Number(f.imageSize)},
        {"image_sha256", JsonString(f.imageSha256)},
        {"result_code", Number(f.resultCode)},
        {"verdict_key", JsonString(f.verdictKey)},
        {"verdict_text", JsonString(f.verdictText)},
        {"device_software_after", JsonString(f.deviceSoftwareAfter)},
        {"verified", JsonString(f.verified)},
        {"operator", JsonString(f.operatorName)},
        {"time_switch_s", JsonPhaseSeconds(f.phases.switchMs)},
        {"time_loader_s", JsonPhaseSeconds(f.phases.loaderMs)},
        {"time_restart_s", JsonPhaseSeconds(f.phases.restartMs)},
        {"time_download_s", JsonPhaseSeconds(f.phases.downloadMs)},
        {"start_local", JsonString(f.startLocal)}};
    std::string out = "{";
    bool first = true;
    for (const auto *list : {&members, &extra}) {
        for (const auto &member : *list) {
            if (!first) out += ',';
            first = false;
            out += '"' + member.first + "\":" + member.second;
        }
    }
    return out + "}";
}

std::wstring ResolveRecordPath(const std::wstring &path, const std::wstring &programFolder) {
    if (path.empty() || IsAbsolute(path)) return path;
    return programFolder + path;
}

std::wstring ReadJobRecordPath(CIniFile &ini, const std::wstring &programFolder) {
    // Read with room for the longest path the platform knows: cut to the
    // usual 259 characters, the value could name another, existing file and
    // the record would go there. A value this long is refused by the file
    // system, and the failed write is reported like any other.
    constexpr size_t kLongestPathChars = 32768;
    return ResolveRecordPath(ini.GetString(L"SYSTEM", L"JOB_RECORD", kLongestPathChars),
                             programFolder);
}

std::wstring ReadOperatorSetting(CIniFile &ini) {
    const std::wstring value = ini.GetString(L"SYSTEM", L"OPERATOR");
    const size_t first = value.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return L"";
    return value.substr(first, value.find_last_not_of(L" \t") - first + 1);
}

bool ReadVerifyVersion(CIniFile &ini) {
    // GetInt reads a missing key as 0, which here must mean "on".
    constexpr size_t kSwitchChars = 16;
    std::wstring value = ini.GetString(L"SYSTEM", L"VERIFY_VERSION", kSwitchChars);
    const size_t first = value.find_first_not_of(L" \t");
    const size_t last = value.find_last_not_of(L" \t");
    value = first == std::wstring::npos ? L"" : value.substr(first, last - first + 1);
    return value != L"0";
}

// ---------------------------------------------------------------------------
// JobRecorder

JobRecorder::JobRecorder(IClock &clock) : m_clock(clock) {}

void JobRecorder::AddSink(IRecordSink &sink) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_sinks.push_back(&sink);
}

void JobRecorder::SetComputer(const std::wstring &computer) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_computer = computer;
}

void JobRecorder::SetOperator(const std::wstring &operatorName) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_operator = operatorName;
}

void JobRecorder::OnJobPhaseTimes(const std::wstring &jobId, const JobPhaseTimes &times) {
    std::lock_guard<std::mutex> lock(m_guard);
    if (m_phase != Phase::Running || jobId != m_fields.jobId) return;
    m_fields.phases = times;
}

void JobRecorder::SetVerifyVersion(bool verify) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_verifyVersion = verify;
}

void JobRecorder::OnJobStarted(const JobStartedFacts &job) {
    Flush();
    std::lock_guard<std::mutex> lock(m_guard);
    JobRecordFields f;
    f.jobId = job.jobId;
    f.computer = m_computer;
    const std::string version = QV_VERSION_STRING;
    f.programVersion.assign(version.begin(), version.end());
    f.mode = job.mode == kModeUpgrade ? L"upgrade" : L"repair";
    f.deviceKind = job.device.kind;
    f.deviceName = job.device.name;
    f.deviceSerial = job.device.serial;
    if (job.device.versionsRead) {
        f.deviceSoftwareBefore = job.device.software;
        f.deviceLoaderBefore = job.device.loader;
    }
    f.imageFile = job.image.path;
    f.imageSoftware = job.image.software;
    f.imageLoader = job.image.loader;
    f.imageSize = job.image.size;
    f.startSeconds = job.startSeconds != 0 ? job.startSeconds : m_clock.NowSeconds();
    f.startLocal = EncodeWide(
        FormatLocalDateTime(f.startSeconds + m_clock.LocalOffsetSeconds(f.startSeconds)));
    f.operatorName = m_operator;
    m_fields = std::move(f);
    m_deviceIdentity = job.device.identity;
    m_hashKnown = job.image.path.empty();
    m_inspection = job.image.inspection;
    m_startTick = m_clock.TickMs();
    m_phase = Phase::Running;
}

void JobRecorder::OnImageHashed(const std::wstring &jobId, const std::wstring &sha256) {
    bool finished = false;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        finished = m_phase == Phase::Finished && jobId == m_fields.jobId;
        TakeHashLocked(jobId, sha256);
    }
    // A digest that came after the verdict: the kept record gets it too.
    if (finished) HoldFinished();
}

void JobRecorder::TakeHashLocked(const std::wstring &jobId, const std::wstring &sha256) {
    if (m_phase == Phase::Idle || jobId != m_fields.jobId) return;
    m_fields.imageSha256 = sha256;
    m_hashKnown = true;
    if (sha256.empty() || m_inspection == 0) return;
    const bool sameFacts = m_fields.imageFile == m_lastImage && m_inspection == m_lastInspection;
    // The facts were read from other content than this job's: its versions
    // are not known, and naming the other image's would be false. (Its size
    // is: a replacement that went unnoticed had the same.)
    const bool stale = sameFacts && (m_lastStale || sha256 != m_lastSha256);
    if (stale) {
        m_fields.imageSoftware.clear();
        m_fields.imageLoader.clear();
    }
    m_lastImage = m_fields.imageFile;
    m_lastInspection = m_inspection;
    m_lastSha256 = sha256;
    m_lastStale = stale;
    m_changed.notify_all();
}

void JobRecorder::OnJobEnded(const JobEndedFacts &job) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (m_phase != Phase::Running || job.jobId != m_fields.jobId) return;
        m_fields.resultCode = job.code;
        m_fields.verdictKey = job.verdictKey;
        m_fields.verdictText = job.verdictText;
        m_fields.declinedBy = job.declinedBy;
        m_fields.endSeconds = m_clock.NowSeconds();
        const uint64_t now = m_clock.TickMs();
        m_fields.durationMs = now - m_startTick;
        m_deadline = now + kRecordAfterWaitMs;
        m_phase = Phase::Finished;
        m_changed.notify_all();
    }
    // Kept now: a program closed or killed while the device is away loses
    // nothing of the job but the version it would have read after it.
    HoldFinished();
}

void JobRecorder::HoldFinished() {
    std::optional<JobRecordFields> finished;
    std::vector<IRecordSink *> sinks;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (m_phase != Phase::Finished) return;
        finished = m_fields;
        sinks = m_sinks;
    }
    for (IRecordSink *sink : sinks)
        sink->Hold(*finished);
}

void JobRecorder::StartReturnWait() {
    std::lock_guard<std::mutex> lock(m_guard);
    if (m_phase == Phase::Finished) m_deadline = m_clock.TickMs() + kRecordAfterWaitMs;
}

void JobRecorder::OnDeviceBack(const DeviceFacts &device) {
    std::lock_guard<std::mutex> lock(m_guard);
    // Before the verdict the job still runs: what the watcher reads then is
    // no version after the job.
    if (m_phase != Phase::Finished || device.identity != m_deviceIdentity) return;
    if (device.versionsRead) m_fields.deviceSoftwareAfter = device.software;
    // Only a pass is proven; an image whose version is not known (its facts
    // stale, or unreadable) proves nothing either way.
    if (m_verifyVersion && device.versionsRead && m_fields.resultCode == kJobFinished &&
        !m_fields.imageSoftware.empty() && m_fields.imageSoftware != kVersionNotAvailable)
        m_fields.verified = device.software == m_fields.imageSoftware ? kVerifiedYes : kVerifiedNo;
    m_phase = Phase::Complete;
    m_changed.notify_all();
}

bool JobRecorder::Pending() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_phase == Phase::Finished || m_phase == Phase::Complete;
}

bool JobRecorder::DueLocked() const {
    if (m_phase == Phase::Complete && m_hashKnown) return true;
    return (m_phase == Phase::Finished || m_phase == Phase::Complete) &&
           m_clock.TickMs() >= m_deadline;
}

std::optional<JobRecordFields> JobRecorder::TakeLocked() {
    if (m_phase != Phase::Finished && m_phase != Phase::Complete) return std::nullopt;
    m_phase = Phase::Idle;
    return std::move(m_fields);
}

bool JobRecorder::Poll() {
    std::optional<JobRecordFields> taken;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (DueLocked()) taken = TakeLocked();
    }
    if (!taken) return false;
    Hand(*taken);
    return true;
}

void JobRecorder::Flush() {
    std::optional<JobRecordFields> taken;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        taken = TakeLocked();
    }
    if (taken) Hand(*taken);
}

void JobRecorder::WaitAndWrite(const std::function<bool()> &cancel) {
    std::optional<JobRecordFields> taken;
    {
        std::unique_lock<std::mutex> lock(m_guard);
        // The deadline is on the clock's counter; the real wait is cut into
        // short slices so that the counter, and the cancel, are looked at
        // again.
        while ((m_phase == Phase::Finished || m_phase == Phase::Complete) && !DueLocked()) {
            if (cancel) {
                lock.unlock();
                const bool cancelled = cancel();
                lock.lock();
                if (cancelled) break;
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        taken = TakeLocked();
    }
    if (taken) Hand(*taken);
}

void JobRecorder::Hand(const JobRecordFields &fields) {
    std::vector<IRecordSink *> sinks;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        sinks = m_sinks;
    }
    for (IRecordSink *sink : sinks)
        sink->Submit(fields);
    if (onCompleted) onCompleted(fields);
}
