#include "device/record_outbox.h"

#include "base/parked_threads.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// How often a wait that can be cancelled looks at its cancel.
constexpr std::chrono::milliseconds kCancelSlice{50};

constexpr char kRecordKind = 'R';
constexpr char kStruckKind = 'D';

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

// One line without its end: kind, sequence and fields when it is whole.
bool ParseLine(const std::string &line, char &kind, uint64_t &sequence, JobRecordFields &fields) {
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

} // namespace

std::string OutboxRecordLine(uint64_t sequence, const JobRecordFields &fields) {
    std::string body = std::string(1, kRecordKind) + '\t' + std::to_string(sequence);
    for (const TextField &text : kTextFields)
        body += std::string("\t") + text.name + '=' + EscapeText(fields.*text.member);
    for (const NumberField &numeric : NumberFields())
        body += std::string("\t") + numeric.name + '=' + NumberText(numeric, fields);
    return Sealed(body);
}

std::string OutboxStruckLine(uint64_t sequence) {
    return Sealed(std::string(1, kStruckKind) + '\t' + std::to_string(sequence));
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
        if (sequence > contents.lastSequence) contents.lastSequence = sequence;
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

RecordOutbox::RecordOutbox(IOutboxFile &file, std::wstring outboxPath,
                           IRecordDestination &destination, IClock &clock)
    : m_file(file), m_path(std::move(outboxPath)), m_destination(destination), m_clock(clock) {}

RecordOutbox::~RecordOutbox() {
    {
        std::lock_guard<std::mutex> lock(m_guard);
        m_stopping = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
}

void RecordOutbox::AdoptQueue(const std::wstring &otherPath) {
    std::lock_guard<std::mutex> lock(m_guard);
    if (otherPath != m_path) m_adopt.push_back(otherPath);
}

void RecordOutbox::Report(const std::wstring &message) {
    if (onError) onError(message);
}

void RecordOutbox::ReportWaiting(size_t waiting) {
    if (onWaitingChanged) onWaitingChanged(waiting);
}

void RecordOutbox::LoadOnce() {
    std::vector<std::wstring> messages;
    std::vector<JobRecordFields> found;
    size_t waiting = 0;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        if (m_loaded) return;
        m_loaded = true;
        std::vector<std::wstring> paths = m_adopt;
        paths.insert(paths.begin(), m_path);
        std::string rewritten;
        bool rewrite = false;
        for (const std::wstring &path : paths) {
            const bool own = path == m_path;
            std::string bytes;
            std::wstring error;
            if (!m_file.Read(path, bytes, error)) {
                messages.push_back(path + L": " + error);
                continue;
            }
            if (bytes.empty()) continue;
            const OutboxContents contents = ReadOutboxContents(bytes);
            if (contents.damagedLines > 0) {
                // Kept whole for whoever wants to look; the queue goes on
                // with what could be read.
                const std::wstring aside = path + L".damaged-" + [&] {
                    const std::string stamp = UtcStamp(m_clock.NowSeconds());
                    return std::wstring(stamp.begin(), stamp.end());
                }();
                std::wstring asideError;
                const bool setAside = m_file.Append(aside, bytes, true, asideError);
                messages.push_back(path + L": " + std::to_wstring(contents.damagedLines) +
                                   L" line(s) could not be read" +
                                   (setAside ? L" and were set aside in " + aside
                                             : L" and could not be set aside: " + asideError));
            }
            std::string part;
            for (const OutboxContents::Entry &entry : contents.waiting) {
                Queued queued;
                queued.sequence = ++m_lastSequence;
                queued.fields = entry.fields;
                queued.reported = true;
                part += OutboxRecordLine(queued.sequence, queued.fields);
                found.push_back(entry.fields);
                m_queue.push_back(std::move(queued));
            }
            // A queue with struck-off or damaged lines, or taken in from
            // elsewhere, is written again with only what waits.
            rewrite = rewrite || !own || part != bytes;
            rewritten += part;
        }
        if (rewrite) {
            std::wstring error;
            const bool kept = m_queue.empty() ? (m_file.Remove(m_path), true)
                                              : m_file.Replace(m_path, rewritten, error);
            if (!kept) messages.push_back(m_path + L": " + error);
            if (kept)
                for (const std::wstring &path : m_adopt)
                    m_file.Remove(path);
        }
        waiting = m_queue.size();
    }
    for (const std::wstring &message : messages)
        Report(message);
    for (const JobRecordFields &fields : found)
        if (onRecordWaiting) onRecordWaiting(fields);
    if (waiting > 0) ReportWaiting(waiting);
}

void RecordOutbox::Submit(const JobRecordFields &fields) {
    LoadOnce();
    std::wstring error;
    size_t waiting = 0;
    bool kept = false;
    {
        std::lock_guard<std::mutex> lock(m_guard);
        Queued queued;
        queued.sequence = ++m_lastSequence;
        queued.fields = fields;
        kept = m_file.Append(m_path, OutboxRecordLine(queued.sequence, fields), true, error);
        m_queue.push_back(std::move(queued));
        waiting = m_queue.size();
        m_wake = true;
        m_changed.notify_all();
    }
    // Still delivered from memory, but lost if the program ends first.
    if (!kept) Report(m_path + L": " + error);
    ReportWaiting(waiting);
}

size_t RecordOutbox::Waiting() const {
    std::lock_guard<std::mutex> lock(m_guard);
    return m_queue.size();
}

size_t RecordOutbox::DeliverNow() {
    std::lock_guard<std::mutex> delivering(m_deliverGuard);
    LoadOnce();
    size_t delivered = 0;
    for (;;) {
        Queued front;
        {
            std::lock_guard<std::mutex> lock(m_guard);
            if (m_queue.empty()) break;
            front = m_queue.front();
        }
        std::wstring error;
        const DeliveryOutcome outcome = m_destination.Deliver(front.fields, error);
        if (outcome == DeliveryOutcome::Failed || outcome == DeliveryOutcome::Refused) {
            std::vector<JobRecordFields> newlyWaiting;
            bool report = false;
            {
                std::lock_guard<std::mutex> lock(m_guard);
                report = error != m_lastError;
                m_lastError = error;
                for (Queued &queued : m_queue) {
                    if (queued.reported) continue;
                    queued.reported = true;
                    newlyWaiting.push_back(queued.fields);
                }
            }
            if (report) Report(m_destination.Name() + L": " + error);
            for (const JobRecordFields &fields : newlyWaiting)
                if (onRecordWaiting) onRecordWaiting(fields);
            break;
        }
        ++delivered;
        size_t waiting = 0;
        {
            std::lock_guard<std::mutex> lock(m_guard);
            m_lastError.clear();
            m_queue.pop_front();
            waiting = m_queue.size();
            // Struck off without a flush: lost in a crash, the record is
            // offered again and the destination knows it already.
            std::wstring ignored;
            if (waiting == 0)
                m_file.Remove(m_path);
            else
                m_file.Append(m_path, OutboxStruckLine(front.sequence), false, ignored);
        }
        ReportWaiting(waiting);
    }
    return delivered;
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
        if (m_queue.empty())
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
