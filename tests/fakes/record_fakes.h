// Doubles of where a job's record goes: a sink that keeps what it is handed,
// the outbox's queue file and the CSV file in memory (with the faults a
// real disk, a spreadsheet and a crash bring), a destination that
// remembers what it holds by job id, the record's platform half, a clock
// for the real file system, and a reader of the CSV as a spreadsheet reads
// it.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/csv_record_sink.h"
#include "device/record_outbox.h"
#include "device/record_sink.h"

namespace fakes {

// What a spreadsheet makes of CSV bytes: the records, each its fields (a
// byte-order mark and the header included as they stand). A last line
// without its line break is a record too, as a spreadsheet shows it.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string &bytes) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields(1);
    bool quoted = false;
    bool unended = false; // a record begun and not yet ended by a line break
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        unended = true;
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            records.push_back(fields);
            fields.assign(1, std::string());
            unended = false;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    if (unended) records.push_back(fields);
    return records;
}

// Positions of the record line's columns, counted from 0.
namespace record_columns {
enum RecordColumn : size_t {
    kColDuration = 2,
    kColComputer = 3,
    kColVersion = 4,
    kColMode = 5,
    kColKind = 6,
    kColName = 7,
    kColSerial = 8,
    kColSoftwareBefore = 9,
    kColLoaderBefore = 10,
    kColImage = 11,
    kColImageSoftware = 12,
    kColImageLoader = 13,
    kColImageSize = 14,
    kColSha = 15,
    kColCode = 16,
    kColKey = 17,
    kColAfter = 19, // device_software_after; job_id follows it
};
} // namespace record_columns

// The job_id column of each line below the header.
inline std::vector<std::string> CsvJobIds(const std::string &bytes) {
    std::vector<std::string> ids;
    const auto records = ParseCsv(bytes);
    for (size_t i = 1; i < records.size(); ++i)
        ids.push_back(records[i].back());
    return ids;
}

// The record's platform half: the image's digest as the file holds it now.
class FakeRecordStore : public IJobRecordStore {
  public:
    int digests = 0;
    std::wstring content = L"ab12";
    bool FileSha256(const std::wstring &, std::wstring &hex) override {
        ++digests;
        hex = content;
        return true;
    }
    std::wstring ComputerName() override { return L"BENCH-PC"; }
};

// For the real file system: time passes and sleeps last as on the computer,
// on a fixed date, so that a file named after the date has a known name.
class FixedDateClock : public IClock {
  public:
    static constexpr int64_t kDateSeconds = 1796731403; // 2026-12-08T12:03:23Z
    void SleepMs(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    int64_t NowSeconds() override { return kDateSeconds; }
    uint64_t TickMs() override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
};

class FakeRecordSink : public IRecordSink {
  public:
    void Submit(const JobRecordFields &fields) override {
        std::lock_guard<std::mutex> lock(m_guard);
        m_records.push_back(fields);
    }
    size_t Waiting() const override { return 0; }
    std::vector<JobRecordFields> Records() const {
        std::lock_guard<std::mutex> lock(m_guard);
        return m_records;
    }
    // The CSV lines the records make.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const JobRecordFields &fields : Records())
            lines.push_back(JobRecordLine(fields));
        return lines;
    }

  private:
    mutable std::mutex m_guard;
    std::vector<JobRecordFields> m_records;
};

// Files in memory for the outbox's queue and the CSV record.
class FakeRecordFiles : public IRecordFile, public IOutboxFile {
  public:
    std::map<std::wstring, std::string> files;
    // The CSV is held by a spreadsheet: appends fail.
    bool held = false;
    // The next CSV append writes its line and then reports a failure (the
    // outcome a lost connection leaves unknown).
    bool failAfterNextWrite = false;
    // No copy can be made beside the CSV (a folder that takes appends only).
    bool copyRefused = false;
    // Queue appends fail (a folder that cannot be written).
    bool queueRefused = false;
    // Folders that cannot hold a queue.
    std::set<std::wstring> unusable;
    // Folders standing where a CSV is looked for: neither read nor written.
    std::set<std::wstring> folders;
    int durableAppends = 0;
    int csvAppends = 0;

    bool ReadFrom(const std::wstring &path, uint64_t offset, std::string &bytes, uint64_t &size,
                  std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (folders.count(path) != 0) {
            error = L"it is a folder, not a file";
            return false;
        }
        const std::string &all = files[path];
        size = all.size();
        bytes = offset < all.size() ? all.substr(offset) : std::string();
        return true;
    }
    bool Append(const std::wstring &path, const std::string &header, const std::string &line,
                std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (folders.count(path) != 0) {
            error = L"it is a folder, not a file";
            return false;
        }
        if (held) {
            error = L"held open by another program";
            return false;
        }
        ++csvAppends;
        std::string &all = files[path];
        if (all.empty()) all = "\xEF\xBB\xBF" + header;
        all += line;
        if (failAfterNextWrite) {
            failAfterNextWrite = false;
            error = L"the network name is no longer available";
            return false;
        }
        return true;
    }
    bool ReplaceStart(const std::wstring &path, const std::string &before, const std::string &after,
                      std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        std::string &all = files[path];
        if (held || copyRefused) {
            error = L"access denied";
            return false;
        }
        if (all.compare(0, before.size(), before) != 0) {
            error = L"the file begins otherwise";
            return false;
        }
        all = after + all.substr(before.size());
        return true;
    }
    bool IsFolder(const std::wstring &path) override {
        std::lock_guard<std::mutex> lock(m_guard);
        return folders.count(path) != 0;
    }
    bool Read(const std::wstring &path, std::string &bytes, std::wstring &) override {
        std::lock_guard<std::mutex> lock(m_guard);
        const auto found = files.find(path);
        bytes = found == files.end() ? std::string() : found->second;
        return true;
    }
    bool Append(const std::wstring &path, const std::string &bytes, bool durable,
                std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (queueRefused) {
            error = L"access denied";
            return false;
        }
        if (durable) ++durableAppends;
        files[path] += bytes;
        return true;
    }
    bool Replace(const std::wstring &path, const std::string &bytes, std::wstring &) override {
        std::lock_guard<std::mutex> lock(m_guard);
        files[path] = bytes;
        return true;
    }
    bool Remove(const std::wstring &path) override {
        std::lock_guard<std::mutex> lock(m_guard);
        files.erase(path);
        return true;
    }
    bool CanHold(const std::wstring &path) override {
        for (const std::wstring &folder : unusable)
            if (path.compare(0, folder.size(), folder) == 0) return false;
        return true;
    }
    bool Has(const std::wstring &path) {
        std::lock_guard<std::mutex> lock(m_guard);
        return files.count(path) != 0;
    }
    std::string Bytes(const std::wstring &path) {
        std::lock_guard<std::mutex> lock(m_guard);
        const auto found = files.find(path);
        return found == files.end() ? std::string() : found->second;
    }

  private:
    std::mutex m_guard;
};

// A destination that holds records by job id, as a database would.
class FakeDestination : public IRecordDestination {
  public:
    bool failing = false;
    // The next attempts that fail before the server answers again.
    int failuresLeft = 0;
    std::wstring failure = L"the server does not answer";
    // Called on the delivering thread at each attempt, before its outcome:
    // what happens meanwhile elsewhere (another job handing its record over).
    std::function<void()> duringAttempt;
    DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) override {
        if (duringAttempt) duringAttempt();
        std::lock_guard<std::mutex> lock(m_guard);
        ++attempts;
        if (failing || failuresLeft > 0) {
            if (failuresLeft > 0) --failuresLeft;
            error = failure;
            return DeliveryOutcome::Failed;
        }
        for (const JobRecordFields &held : m_held)
            if (held.jobId == fields.jobId) return DeliveryOutcome::AlreadyDelivered;
        m_held.push_back(fields);
        return DeliveryOutcome::Delivered;
    }
    std::wstring Name() const override { return L"database"; }
    std::vector<std::wstring> HeldIds() const {
        std::lock_guard<std::mutex> lock(m_guard);
        std::vector<std::wstring> ids;
        for (const JobRecordFields &held : m_held)
            ids.push_back(held.jobId);
        return ids;
    }
    std::vector<JobRecordFields> Held() const {
        std::lock_guard<std::mutex> lock(m_guard);
        return m_held;
    }
    int attempts = 0;

  private:
    mutable std::mutex m_guard;
    std::vector<JobRecordFields> m_held;
};

} // namespace fakes
