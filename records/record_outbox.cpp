#include "records/record_outbox.h"

#include "base/parked_threads.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

// How often a wait that can be cancelled looks at its cancel.
constexpr std::chrono::milliseconds kCancelSlice{50};

constexpr char kRecordKind = 'R';
constexpr char kStruckKind = 'D';
// The field of a queued record that names where it goes.
constexpr char kDestinationField[] = "destination";

uint32_t Crc32(const std::string &bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
}

// Plain ASCII, one line: every character outside printable ASCII as its
// code unit, so that any text comes back exactly as it went in.
std::string EscapeText(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text) {
        const uint32_t u = static_cast<uint32_t>(c);
        if (c == L'\\') {
            out += "\\\\";
        } else if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else {
            char escaped[16];
            if (u <= 0xFFFF)
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(u));
            else
                std::snprintf(escaped, sizeof escaped, "\\U%08x", static_cast<unsigned>(u));
            out += escaped;
        }
    }
    return out;
}

bool ParseHex(const std::string &text, size_t at, size_t digits, uint32_t &value) {
    if (at + digits > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + digits; ++i) {
        const char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else
            return false;
        value = value << 4 | digit;
    }
    return true;
}

bool UnescapeText(const std::string &text, std::wstring &out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
            continue;
        }
        if (++i >= text.size()) return false;
        uint32_t value = 0;
        if (text[i] == '\\') {
            out += L'\\';
        } else if (text[i] == 'u' && ParseHex(text, i + 1, 4, value)) {
            out += static_cast<wchar_t>(value);
            i += 4;
        } else if (text[i] == 'U' && ParseHex(text, i + 1, 8, value)) {
            out += static_cast<wchar_t>(value);
            i += 8;
        } else {
            return false;
        }
    }
    return true;
}

struct TextField {
    const char *name;
    std::wstring JobRecordFields::*member;
};
const TextField kTextFields[] = {
    {"job_id", &JobRecordFields::jobId},
    {"computer", &JobRecordFields::computer},
    {"program_version", &JobRecordFields::programVersion},
    {"mode", &JobRecordFields::mode},
    {"device_name", &JobRecordFields::deviceName},
    {"device_serial", &JobRecordFields::deviceSerial},
    {"device_software_before", &JobRecordFields::deviceSoftwareBefore},
    {"device_loader_before", &JobRecordFields::deviceLoaderBefore},
    {"image_file", &JobRecordFields::imageFile},
    {"image_software", &JobRecordFields::imageSoftware},
    {"image_loader", &JobRecordFields::imageLoader},
    {"image_sha256", &JobRecordFields::imageSha256},
    {"verdict_key", &JobRecordFields::verdictKey},
    {"verdict_text", &JobRecordFields::verdictText},
    {"device_software_after", &JobRecordFields::deviceSoftwareAfter},
    {"declined_by", &JobRecordFields::declinedBy},
    {"verified", &JobRecordFields::verified},
    {"operator", &JobRecordFields::operatorName},
    {"start_local", &JobRecordFields::startLocal},
};

// The numbers, each kept as a 64-bit value of its sign.
struct NumberField {
    const char *name;
    bool isSigned;
    std::function<int64_t(const JobRecordFields &)> get;
    std::function<void(JobRecordFields &, int64_t)> set;
};
const std::vector<NumberField> &NumberFields() {
    static const std::vector<NumberField> fields = {
        {"start", true, [](const JobRecordFields &f) { return f.startSeconds; },
         [](JobRecordFields &f, int64_t v) { f.startSeconds = v; }},
        {"end", true, [](const JobRecordFields &f) { return f.endSeconds; },
         [](JobRecordFields &f, int64_t v) { f.endSeconds = v; }},
        {"duration_ms", false,
         [](const JobRecordFields &f) { return static_cast<int64_t>(f.durationMs); },
         [](JobRecordFields &f, int64_t v) { f.durationMs = static_cast<uint64_t>(v); }},
        {"device_kind", true, [](const JobRecordFields &f) { return int64_t{f.deviceKind}; },
         [](JobRecordFields &f, int64_t v) { f.deviceKind = static_cast<int32_t>(v); }},
        {"image_size", false, [](const JobRecordFields &f) { return int64_t{f.imageSize}; },
         [](JobRecordFields &f, int64_t v) { f.imageSize = static_cast<uint32_t>(v); }},
        {"result_code", true, [](const JobRecordFields &f) { return int64_t{f.resultCode}; },
         [](JobRecordFields &f, int64_t v) { f.resultCode = static_cast<int32_t>(v); }},
        // A record queued before these existed keeps them not reached.
        {"time_switch_ms", true, [](const JobRecordFields &f) { return f.phases.switchMs; },
         [](JobRecordFields &f, int64_t v) { f.phases.switchMs = v; }},
        {"time_loader_ms", true, [](const JobRecordFields &f) { return f.phases.loaderMs; },
         [](JobRecordFields &f, int64_t v) { f.phases.loaderMs = v; }},
        {"time_restart_ms", true, [](const JobRecordFields &f) { return f.phases.restartMs; },
         [](JobRecordFields &f, int64_t v) { f.phases.restartMs = v; }},
        {"time_download_ms", true, [](const JobRecordFields &f) { return f.phases.downloadMs; },
         [](JobRecordFields &f, int64_t v) { f.phases.downloadMs = v; }},
    };
    return fields;
}

std::string NumberText(const NumberField &field, const JobRecordFields &fields) {
    const int64_t value = field.get(fields);
    return field.isSigned ? std::to_string(value) : std::to_string(static_cast<uint64_t>(value));
}

bool ParseNumber(const std::string &text, bool isSigned, int64_t &value) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    if (isSigned)
        value = std::strtoll(text.c_str(), &end, 10);
    else
        value = static_cast<int64_t>(std::strtoull(text.c_str(), &end, 10));
    return errno == 0 && end == text.c_str() + text.size() && (isSigned || text[0] != '-');
}

std::string Sealed(const std::string &body) {
    return Hex8(Crc32(body)) + '\t' + body + '\n';
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// One line without its end: kind, sequence and fields when it is whole;
// the destination, when the line names one.
bool ParseLine(const std::string &line, char &kind, uint64_t &sequence, JobRecordFields &fields,
               std::wstring *destination = nullptr) {
    constexpr size_t kCrcDigits = 8;
    uint32_t crc = 0;
    if (line.size() < kCrcDigits + 1 || line[kCrcDigits] != '\t' ||
        !ParseHex(line, 0, kCrcDigits, crc))
        return false;
    const std::string body = line.substr(kCrcDigits + 1);
    if (Crc32(body) != crc) return false;
    const std::vector<std::string> parts = Split(body, '\t');
    int64_t number = 0;
    if (parts.size() < 2 || parts[0].size() != 1 || !ParseNumber(parts[1], false, number))
        return false;
    kind = parts[0][0];
    sequence = static_cast<uint64_t>(number);
    if (kind == kStruckKind) return parts.size() == 2;
    if (kind != kRecordKind) return false;
    fields = JobRecordFields{};
    for (size_t i = 2; i < parts.size(); ++i) {
        const size_t equals = parts[i].find('=');
        if (equals == std::string::npos) return false;
        const std::string name = parts[i].substr(0, equals);
        const std::string value = parts[i].substr(equals + 1);
        for (const TextField &text : kTextFields)
            if (name == text.name && !UnescapeText(value, fields.*text.member)) return false;
        if (destination && name == kDestinationField && !UnescapeText(value, *destination))
            return false;
        for (const NumberField &numeric : NumberFields()) {
            if (name != numeric.name) continue;
            if (!ParseNumber(value, numeric.isSigned, number)) return false;
            numeric.set(fields, number);
        }
    }
    return true;
}

std::string UtcStamp(int64_t seconds) {
    std::string stamp = FormatUtcIso8601(seconds); // 2026-12-08T12:03:23Z
    std::string compact;
    for (char c : stamp)
        if (c != '-' && c != ':') compact += c;
    return compact;
}

std::string FieldsText(const JobRecordFields &fields) {
    std::string body;
    for (const TextField &text : kTextFields)
        body += std::string("\t") + text.name + '=' + EscapeText(fields.*text.member);
    for (const NumberField &numeric : NumberFields())
        body += std::string("\t") + numeric.name + '=' + NumberText(numeric, fields);
    return body;
}

} // namespace

std::string OutboxRecordLine(uint64_t sequence, const JobRecordFields &fields) {
    return Sealed(std::string(1, kRecordKind) + '\t' + std::to_string(sequence) +
                  FieldsText(fields));
}

OutboxContents ReadOutboxContents(const std::string &bytes) {
    OutboxContents contents;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t end = bytes.find('\n', at);
        // A line without its end was cut while it was written.
        const bool whole = end != std::string::npos;
        std::string line = bytes.substr(at, whole ? end - at : std::string::npos);
        at = whole ? end + 1 : bytes.size();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() && whole) continue;
        char kind = 0;
        uint64_t sequence = 0;
        JobRecordFields fields;
        if (!whole || !ParseLine(line, kind, sequence, fields)) {
            ++contents.damagedLines;
            continue;
        }
        if (kind == kRecordKind) {
            contents.waiting.push_back({sequence, std::move(fields)});
        } else {
            for (auto it = contents.waiting.begin(); it != contents.waiting.end(); ++it) {
                if (it->sequence != sequence) continue;
                contents.waiting.erase(it);
                break;
            }
        }
    }
    return contents;
}

// ---------------------------------------------------------------------------
// Where records wait

namespace {

constexpr wchar_t kQueueFolder[] = L"Log\\queue\\";
constexpr wchar_t kOwnersFolder[] = L"owners\\";
constexpr wchar_t kRefusedFolder[] = L"refused\\";
constexpr wchar_t kFileDestinationPrefix[] = L"file:";
constexpr wchar_t kFileFolderPrefix[] = L"file-";
constexpr wchar_t kWaitingSuffix[] = L".rec";
constexpr wchar_t kReasonSuffix[] = L".reason";
constexpr wchar_t kDamagedSuffix[] = L".damaged";
constexpr wchar_t kHeldMark[] = L".held-";
constexpr wchar_t kClaimMark[] = L".claim-";
constexpr wchar_t kWritingMark[] = L".tmp-";

bool EndsWith(const std::wstring &text, const std::wstring &end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::wstring Widen(const std::string &text) {
    return std::wstring(text.begin(), text.end());
}

// A file of a program's: its NAME and its owner, when the name carries `mark`.
bool SplitOwned(const std::wstring &file, const wchar_t *mark, std::wstring &name,
                std::wstring &owner) {
    const size_t at = file.rfind(mark);
    if (at == std::wstring::npos || at == 0) return false;
    name = file.substr(0, at);
    owner = file.substr(at + std::wcslen(mark));
    return !owner.empty() && owner.find(L'.') == std::wstring::npos;
}

// The characters a job id may bring into a file name.
std::wstring SafeName(const std::wstring &text) {
    std::wstring safe;
    for (wchar_t c : text)
        safe += (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                        c == L'-' || c == L'_'
                    ? c
                    : L'_';
    return safe;
}

// The lower-case path, its separators one kind: one record file, one folder.
std::wstring PathKey(const std::wstring &path) {
    std::wstring key;
    for (wchar_t c : path)
        key += c == L'/' ? L'\\'
                         : (c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c);
    return key;
}

bool ReadQueued(IQueueFiles &files, const std::wstring &path, QueuedRecord &record,
                std::wstring &error) {
    std::string bytes;
    if (!files.Read(path, bytes, error)) return false;
    if (!ParseQueuedRecord(bytes, record.destinationName, record.fields)) {
        error = L"the file is damaged: it does not hold a whole record";
        return false;
    }
    return true;
}

} // namespace

uint32_t Fnv1aHash(const std::wstring &text) {
    constexpr uint32_t kOffsetBasis = 2166136261u;
    constexpr uint32_t kPrime = 16777619u;
    uint32_t hash = kOffsetBasis;
    for (wchar_t c : text) {
        hash ^= static_cast<uint32_t>(c);
        hash *= kPrime;
    }
    return hash;
}

std::wstring RecordQueueRoot(const std::wstring &programFolder) {
    std::wstring root = programFolder;
    if (!root.empty() && root.back() != L'\\' && root.back() != L'/') root += L'\\';
    return root + kQueueFolder;
}

std::wstring FileDestinationName(const std::wstring &recordPath) {
    return kFileDestinationPrefix + recordPath;
}

std::wstring RecordPathOfDestination(const std::wstring &destinationName) {
    const std::wstring prefix = kFileDestinationPrefix;
    return destinationName.compare(0, prefix.size(), prefix) == 0
               ? destinationName.substr(prefix.size())
               : std::wstring();
}

std::wstring QueueFolderOf(const std::wstring &root, const std::wstring &destinationName) {
    const std::wstring path = RecordPathOfDestination(destinationName);
    if (path.empty()) return root + SafeName(destinationName) + L"\\";
    // Named by its path's hash: any path fits, and two spellings of one
    // path share the folder.
    wchar_t hash[16];
    std::swprintf(hash, sizeof hash / sizeof hash[0], L"%08x",
                  static_cast<unsigned>(Fnv1aHash(PathKey(path))));
    return root + kFileFolderPrefix + hash + L"\\";
}

std::wstring RefusedFolderOf(const std::wstring &queueFolder) {
    return queueFolder + kRefusedFolder;
}

std::string QueuedRecordText(const std::wstring &destinationName, const JobRecordFields &fields) {
    return Sealed(std::string(1, kRecordKind) + "\t0\t" + kDestinationField + '=' +
                  EscapeText(destinationName) + FieldsText(fields));
}

bool ParseQueuedRecord(const std::string &bytes, std::wstring &destinationName,
                       JobRecordFields &fields) {
    // One whole line: a file cut while it was written has no line end.
    if (bytes.empty() || bytes.back() != '\n' || bytes.find('\n') != bytes.size() - 1) return false;
    char kind = 0;
    uint64_t sequence = 0;
    destinationName.clear();
    return ParseLine(bytes.substr(0, bytes.size() - 1), kind, sequence, fields, &destinationName) &&
           kind == kRecordKind && !destinationName.empty();
}

QueueListing ListRecordQueue(IQueueFiles &files, const std::wstring &root) {
    QueueListing listing;
    std::vector<std::wstring> folders;
    std::wstring error;
    if (!files.List(root, folders, error)) {
        listing.unreadable.push_back(root + L": " + error);
        return listing;
    }
    std::sort(folders.begin(), folders.end());
    for (const std::wstring &folder : folders) {
        if (folder + L"\\" == kOwnersFolder) continue;
        const std::wstring queue = root + folder + L"\\";
        for (const bool refused : {false, true}) {
            const std::wstring where = refused ? RefusedFolderOf(queue) : queue;
            std::vector<std::wstring> names;
            if (!files.List(where, names, error)) {
                listing.unreadable.push_back(where + L": " + error);
                continue;
            }
            std::sort(names.begin(), names.end());
            for (const std::wstring &file : names) {
                std::wstring name, owner;
                const bool record = EndsWith(file, kWaitingSuffix) ||
                                    (refused && EndsWith(file, kDamagedSuffix)) ||
                                    (!refused && (SplitOwned(file, kHeldMark, name, owner) ||
                                                  SplitOwned(file, kClaimMark, name, owner)));
                if (!record) continue;
                QueuedRecord queued;
                queued.file = file;
                if (!ReadQueued(files, where + file, queued, error)) {
                    listing.unreadable.push_back(where + file + L": " + error);
                    continue;
                }
                if (refused) {
                    std::string reason;
                    const std::wstring base =
                        file.substr(0, file.size() - std::wcslen(kWaitingSuffix));
                    if (files.Read(where + base + kReasonSuffix, reason, error)) {
                        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
                            reason.pop_back();
                        UnescapeText(reason, queued.reason);
                    }
                    listing.refused.push_back(std::move(queued));
                } else {
                    listing.waiting.push_back(std::move(queued));
                }
            }
        }
    }
    return listing;
}

std::vector<std::wstring> QueuedRecordPaths(IQueueFiles &files, const std::wstring &root,
                                            const std::wstring &except) {
    std::vector<std::wstring> paths;
    const QueueListing listing = ListRecordQueue(files, root);
    for (const auto *list : {&listing.waiting, &listing.refused})
        for (const QueuedRecord &record : *list) {
            const std::wstring path = RecordPathOfDestination(record.destinationName);
            if (path.empty() || PathKey(path) == PathKey(except)) continue;
            bool known = false;
            for (const std::wstring &seen : paths)
                known = known || PathKey(seen) == PathKey(path);
            if (!known) paths.push_back(path);
        }
    return paths;
}

// ---------------------------------------------------------------------------

RecordOutbox::RecordOutbox(IQueueFiles &files, std::wstring root, std::wstring destinationName,
                           std::wstring owner, IRecordDestination &destination, IClock &clock)
    : m_files(files), m_root(std::move(root)), m_destinationName(std::move(destinationName)),
      m_folder(QueueFolderOf(m_root, m_destinationName)), m_owner(SafeName(owner)),
      m_destination(destination), m_clock(clock) {}

RecordOutbox::~RecordOutbox() {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        m_stopping = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
}

void RecordOutbox::AdoptQueue(const std::wstring &earlierQueueFile) {
    std::lock_guard<std::mutex> lock(m_guard);
    m_adopt.push_back(earlierQueueFile);
}

void RecordOutbox::Report(const std::wstring &message) {
    if (onError) onError(message);
}

DeliveryOutcome RecordOutbox::Send(const JobRecordFields &fields, std::wstring &error) {
    error.clear();
    const DeliveryOutcome outcome = m_destination.Deliver(fields, error);
    const bool written =
        outcome == DeliveryOutcome::Delivered || outcome == DeliveryOutcome::AlreadyDelivered;
    if (written && !error.empty()) {
        if (onNotice) onNotice(m_destination.Name() + L": " + error);
        error.clear();
    }
    return outcome;
}

void RecordOutbox::SetWaiting(size_t waiting) {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        m_waiting = waiting;
    }
    if (onWaitingChanged) onWaitingChanged(waiting);
}

std::wstring RecordOutbox::NameFor(const JobRecordFields &fields) {
    std::lock_guard<std::mutex> lock(m_guard);
    if (!fields.jobId.empty()) {
        const auto held = m_heldNames.find(fields.jobId);
        if (held != m_heldNames.end()) return held->second;
    }
    // The end time first: the folder's order is the order of the verdicts.
    const int64_t seconds = fields.endSeconds != 0 ? fields.endSeconds : m_clock.NowSeconds();
    const std::wstring stamp = Widen(UtcStamp(seconds));
    const std::wstring id = SafeName(fields.jobId);
    if (!id.empty() && id == fields.jobId) return stamp + L"-" + id;
    return stamp + L"-" + m_owner + L"-" + std::to_wstring(++m_counter);
}

bool RecordOutbox::Save(const std::wstring &name, const JobRecordFields &fields,
                        std::wstring &error) {
    const std::wstring writing = m_folder + name + kWritingMark + m_owner;
    std::wstring ignored;
    m_files.Remove(writing, ignored); // a try of this run that failed half-way
    if (!m_files.Create(writing, QueuedRecordText(m_destinationName, fields), error)) {
        m_files.Remove(writing, ignored);
        return false;
    }
    if (m_files.Rename(writing, m_folder + name, error)) return true;
    m_files.Remove(writing, ignored);
    return false;
}

bool RecordOutbox::Open() {
    std::lock_guard<std::mutex> opening(m_openGuard);
    std::vector<std::wstring> adopt;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (m_open) return true;
        adopt = m_adopt;
    }
    std::wstring error;
    const bool ready = m_files.MakeFolder(m_folder, error) &&
                       m_files.MakeFolder(RefusedFolderOf(m_folder), error) &&
                       m_files.MakeFolder(m_root + kOwnersFolder, error) &&
                       m_files.HoldMark(m_root + kOwnersFolder + m_owner, error);
    if (!ready) {
        bool report = false;
        {
            std::lock_guard<std::mutex> lock(m_guard);
            report = error != m_openError;
            m_openError = error;
        }
        if (report)
            Report(m_folder + L": the records cannot be kept on the disk (" + error +
                   L"); they are delivered from memory and lost if the program ends first");
        return false;
    }
    // The earlier version's queue: each waiting record becomes a file of
    // its own; the old file goes only once every one of them is kept.
    std::vector<std::wstring> carried;
    for (const std::wstring &path : adopt) {
        std::string bytes;
        if (!m_files.Read(path, bytes, error)) {
            Report(path + L": " + error + L"; its records are carried over at the next start");
            continue;
        }
        if (bytes.empty()) {
            carried.push_back(path);
            continue;
        }
        const OutboxContents contents = ReadOutboxContents(bytes);
        bool kept = true;
        if (contents.damagedLines > 0) {
            const std::wstring aside =
                path + kDamagedSuffix + L"-" + Widen(UtcStamp(m_clock.NowSeconds()));
            kept = m_files.Create(aside, bytes, error);
            Report(path + L": " + std::to_wstring(contents.damagedLines) +
                   L" line(s) could not be read" +
                   (kept ? L" and were set aside in " + aside
                         : L" and could not be set aside: " + error));
        }
        std::vector<std::wstring> present;
        m_files.List(m_folder, present, error);
        for (const OutboxContents::Entry &entry : contents.waiting) {
            const std::wstring name = NameFor(entry.fields);
            const std::wstring file = name + kWaitingSuffix;
            // Carried over by a run that ended before the old file went.
            if (std::find(present.begin(), present.end(), file) != present.end()) continue;
            if (!Save(file, entry.fields, error)) {
                kept = false;
                Report(path + L": a record could not be carried over: " + error);
            }
        }
        if (kept) carried.push_back(path);
    }
    for (const std::wstring &path : carried)
        m_files.Remove(path, error);
    std::lock_guard<std::mutex> lock(m_guard);
    m_open = true;
    m_openError.clear();
    m_adopt.clear();
    return true;
}

bool RecordOutbox::TakeBackAbandoned(const std::vector<std::wstring> &names) {
    std::wstring error;
    bool changed = false;
    for (const std::wstring &file : names) {
        std::wstring name, owner;
        const bool held = SplitOwned(file, kHeldMark, name, owner);
        const bool claim = !held && SplitOwned(file, kClaimMark, name, owner);
        const bool writing = !held && !claim && SplitOwned(file, kWritingMark, name, owner);
        if (!held && !claim && !writing) continue;
        if (owner == m_owner || m_files.MarkHeld(m_root + kOwnersFolder + owner)) continue;
        changed = true;
        const std::wstring waiting = m_folder + name;
        if (held && std::find(names.begin(), names.end(), name) != names.end()) {
            // Completed and renamed before its program ended: only the
            // held copy was left to remove.
            m_files.Remove(m_folder + file, error);
            continue;
        }
        if (writing) {
            // Written whole and not yet renamed, or cut: a cut one is set
            // aside, never deleted.
            QueuedRecord record;
            if (!ReadQueued(m_files, m_folder + file, record, error)) {
                m_files.Rename(m_folder + file, RefusedFolderOf(m_folder) + name + kDamagedSuffix,
                               error);
                continue;
            }
        }
        m_files.Rename(m_folder + file, waiting, error);
    }
    return changed;
}

void RecordOutbox::Hold(const JobRecordFields &fields) {
    if (fields.jobId.empty()) return; // nothing could complete it later
    Open();
    const std::wstring name = NameFor(fields);
    std::wstring error;
    const std::wstring held = name + kWaitingSuffix + kHeldMark + m_owner;
    std::wstring ignored;
    m_files.Remove(m_folder + held, ignored); // held again: the newer facts count
    if (!Save(held, fields, error)) {
        Report(m_folder + L": the record of job " + fields.jobId +
               L" could not be kept at its verdict: " + error);
        return;
    }
    std::lock_guard<std::mutex> lock(m_guard);
    m_heldNames[fields.jobId] = name;
}

void RecordOutbox::Submit(const JobRecordFields &fields) {
    const bool open = Open();
    const std::wstring name = NameFor(fields);
    std::wstring error;
    bool kept = false;
    if (open) kept = Save(name + kWaitingSuffix, fields, error);
    size_t waiting = 0;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        const auto held = m_heldNames.find(fields.jobId);
        if (kept && held != m_heldNames.end()) {
            std::wstring ignored;
            m_files.Remove(m_folder + name + kWaitingSuffix + kHeldMark + m_owner, ignored);
        }
        if (held != m_heldNames.end()) m_heldNames.erase(held);
        // Still delivered from memory, but lost if the program ends first.
        if (!kept) m_unsaved.push_back(fields);
        waiting = ++m_waiting;
        m_wake = true;
        m_changed.notify_all();
    }
    if (open && !kept) Report(m_folder + L": " + error);
    if (onWaitingChanged) onWaitingChanged(waiting);
}

size_t RecordOutbox::Waiting() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_waiting;
}

void RecordOutbox::ReportFailure(const std::wstring &error) {
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        report = error != m_lastError;
        m_lastError = error;
    }
    if (report) Report(m_destination.Name() + L": " + error);
}

bool RecordOutbox::DeliverUnsaved(bool open, size_t &delivered) {
    std::deque<JobRecordFields> unsaved;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        unsaved.swap(m_unsaved);
    }
    bool goOn = true;
    std::wstring error;
    while (!unsaved.empty()) {
        const JobRecordFields &fields = unsaved.front();
        if (open && Save(NameFor(fields) + kWaitingSuffix, fields, error)) {
            unsaved.pop_front();
            continue;
        }
        const DeliveryOutcome outcome = goOn ? Send(fields, error) : DeliveryOutcome::Failed;
        if (outcome == DeliveryOutcome::Failed) {
            if (goOn) ReportFailure(error);
            goOn = false;
            break;
        }
        if (outcome == DeliveryOutcome::Refused) {
            Report(m_destination.Name() + L": the record of job " + fields.jobId +
                   L" was refused for good and could not be kept: " + error);
            if (onRefused) onRefused(fields, error);
        } else {
            ++delivered;
        }
        unsaved.pop_front();
    }
    std::lock_guard<std::mutex> lock(m_guard);
    m_unsaved.insert(m_unsaved.begin(), unsaved.begin(), unsaved.end());
    return goOn;
}

RecordOutbox::Step RecordOutbox::DeliverOne(const std::wstring &file, size_t &delivered) {
    const std::wstring claim = m_folder + file + kClaimMark + m_owner;
    std::wstring error;
    // Another program took it first: it is that program's to deliver.
    if (!m_files.Rename(m_folder + file, claim, error)) return Step::Skipped;
    const std::wstring name = file.substr(0, file.size() - std::wcslen(kWaitingSuffix));
    QueuedRecord record;
    std::string bytes;
    if (!m_files.Read(claim, bytes, error)) {
        // Held by a scanner, say: tried again later, never dropped.
        m_files.Rename(claim, m_folder + file, error);
        return Step::Skipped;
    }
    if (!ParseQueuedRecord(bytes, record.destinationName, record.fields)) {
        m_files.Rename(claim, RefusedFolderOf(m_folder) + name + kDamagedSuffix, error);
        Report(m_folder + file + L": the file is damaged and was set aside in " +
               RefusedFolderOf(m_folder));
        return Step::Skipped;
    }
    const DeliveryOutcome outcome = Send(record.fields, error);
    if (outcome == DeliveryOutcome::Failed) {
        std::wstring ignored;
        m_files.Rename(claim, m_folder + file, ignored);
        ReportFailure(error);
        return Step::Stop;
    }
    if (outcome == DeliveryOutcome::Refused) {
        const std::wstring refused = RefusedFolderOf(m_folder);
        std::wstring ignored;
        m_files.Create(refused + name + kReasonSuffix, EscapeText(error) + "\n", ignored);
        if (!m_files.Rename(claim, refused + file, ignored)) {
            m_files.Rename(claim, m_folder + file, ignored);
            return Step::Stop;
        }
        Report(m_destination.Name() + L": the record of job " + record.fields.jobId +
               L" was refused for good and set aside in " + refused + L": " + error);
        if (onRefused) onRefused(record.fields, error);
        return Step::Done;
    }
    {
        std::lock_guard<std::mutex> lock(m_guard);
        m_lastError.clear();
        m_reported.erase(file);
    }
    // Not removed (the program ends now): the next run offers it again and
    // the destination knows it already.
    m_files.Remove(claim, error);
    ++delivered;
    return Step::Done;
}

size_t RecordOutbox::DeliverNow() {
    std::lock_guard<std::mutex> delivering(m_deliverGuard);
    const bool open = Open();
    size_t delivered = 0;
    bool goOn = DeliverUnsaved(open, delivered);
    std::vector<std::wstring> names;
    std::wstring error;
    if (open && m_files.List(m_folder, names, error)) {
        // Listed again only when a file of a program that ended moved.
        if (TakeBackAbandoned(names)) {
            names.clear();
            m_files.List(m_folder, names, error);
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<std::wstring> waiting;
    for (const std::wstring &file : names)
        if (EndsWith(file, kWaitingSuffix)) waiting.push_back(file);

    size_t left = waiting.size();
    size_t next = 0;
    for (; next < waiting.size() && goOn; ++next) {
        const Step step = DeliverOne(waiting[next], delivered);
        if (step == Step::Stop) goOn = false;
        if (step == Step::Done) --left;
    }
    // Each record that waits behind a failure, this run's or one an earlier
    // run left, is named once.
    for (size_t at = goOn ? waiting.size() : next - 1; at < waiting.size(); ++at) {
        {
            std::lock_guard<std::mutex> lock(m_guard);
            if (!m_reported.insert(waiting[at]).second) continue;
        }
        QueuedRecord record;
        if (ReadQueued(m_files, m_folder + waiting[at], record, error) && onRecordWaiting)
            onRecordWaiting(record.fields);
    }
    size_t unsaved = 0;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        unsaved = m_unsaved.size();
    }
    // What this program still waits for: the files and what is in memory.
    // Records handed over meanwhile are counted by the next round.
    SetWaiting(left + unsaved);
    return delivered;
}

bool RecordOutbox::Probe(std::wstring &error) {
    error.clear();
    if (m_destination.Probe(error)) {
        if (!error.empty() && onNotice) onNotice(m_destination.Name() + L": " + error);
        error.clear();
        return true;
    }
    std::lock_guard<std::mutex> lock(m_guard);
    m_lastError = error;
    return false;
}

size_t RecordOutbox::ResendRefused() {
    std::lock_guard<std::mutex> delivering(m_deliverGuard);
    const std::wstring refused = RefusedFolderOf(m_folder);
    std::vector<std::wstring> names;
    std::wstring error;
    if (!m_files.List(refused, names, error)) {
        Report(refused + L": " + error);
        return 0;
    }
    size_t moved = 0;
    for (const std::wstring &file : names) {
        if (!EndsWith(file, kWaitingSuffix)) continue;
        if (!m_files.Rename(refused + file, m_folder + file, error)) {
            Report(refused + file + L": " + error);
            continue;
        }
        const std::wstring name = file.substr(0, file.size() - std::wcslen(kWaitingSuffix));
        m_files.Remove(refused + name + kReasonSuffix, error);
        ++moved;
    }
    std::lock_guard<std::mutex> lock(m_guard);
    m_waiting += moved;
    m_wake = true;
    m_changed.notify_all();
    return moved;
}

void RecordOutbox::Start() {
    std::lock_guard<std::mutex> lock(m_guard);
    if (m_thread.joinable()) return;
    m_wake = true;
    m_thread = std::thread([this] { ThreadMain(); });
}

void RecordOutbox::ThreadMain() {
    for (;;) {
        {
            // Cleared before the delivery, never after it: a record handed
            // over while the delivery runs must wake the next round, not
            // wait for the retry.
            std::lock_guard<std::mutex> lock(m_guard);
            m_wake = false;
        }
        DeliverNow();
        std::unique_lock<std::mutex> lock(m_guard);
        if (m_stopping) break;
        const auto woken = [this] { return m_wake || m_stopping; };
        if (m_waiting == 0 && m_open)
            m_changed.wait(lock, woken);
        else
            m_changed.wait_for(lock, std::chrono::milliseconds(kOutboxRetryMs), woken);
        // Stopping: one last try, then the end.
    }
    std::lock_guard<std::mutex> lock(m_guard);
    m_threadDone = true;
    m_changed.notify_all();
}

void RecordOutbox::Stop(uint32_t waitMs, const std::function<bool()> &cancel) {
    std::unique_lock<std::mutex> lock(m_guard);
    if (!m_thread.joinable()) return;
    m_stopping = true;
    m_changed.notify_all();
    // In slices, so that a cancel is seen soon.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    bool done = m_threadDone;
    while (!done && std::chrono::steady_clock::now() < deadline && !(cancel && cancel()))
        done = m_changed.wait_until(
            lock, std::min(deadline, std::chrono::steady_clock::now() + kCancelSlice),
            [this] { return m_threadDone; });
    lock.unlock();
    if (done)
        m_thread.join();
    else
        ParkThread(m_thread); // still inside the destination; the process ends under it
}
