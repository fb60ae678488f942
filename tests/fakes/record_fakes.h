// Doubles of where a job's record goes: a sink that keeps what it is handed,
// the records' queue and the CSV file in memory (with the faults a real
// disk, a spreadsheet and a crash bring, at any file operation), a destination that
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

#include "records/csv_record_sink.h"
#include "records/record_outbox.h"
#include "records/record_sink.h"

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
    kColJobId = 20,
    kColVerified = 21,
    kColOperator = 22,
    kColTimeSwitch = 23,
    kColTimeLoader = 24,
    kColTimeRestart = 25,
    kColTimeDownload = 26,
    kColStartLocal = 27,
};
} // namespace record_columns

// The job_id column of each line below the header (the last of a line
// written before the columns after it).
inline std::vector<std::string> CsvJobIds(const std::string &bytes) {
    std::vector<std::string> ids;
    const auto records = ParseCsv(bytes);
    for (size_t i = 1; i < records.size(); ++i)
        ids.push_back(records[i].size() > record_columns::kColJobId
                          ? records[i][record_columns::kColJobId]
                          : records[i].back());
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
    static constexpr int64_t kLocalOffsetSeconds = 3600; // a zone an hour ahead of UTC
    int64_t NowSeconds() override { return kDateSeconds; }
    int64_t LocalOffsetSeconds(int64_t) override { return kLocalOffsetSeconds; }
    uint64_t TickMs() override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
};

class FakeRecordSink : public IRecordSink {
  public:
    // Each record kept at its verdict, before it is complete.
    void Hold(const JobRecordFields &fields) override {
        std::lock_guard<std::mutex> lock(m_guard);
        m_holds.push_back(fields);
    }
    std::vector<JobRecordFields> Holds() const {
        std::lock_guard<std::mutex> lock(m_guard);
        return m_holds;
    }
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
    std::vector<JobRecordFields> m_holds;
};

// A program killed at a file operation of the queue's (see FakeRecordFiles).
struct FakeCrash {};

// Files in memory for the records' queue and the CSV record.
class FakeRecordFiles : public IRecordFile, public IQueueFiles {
  public:
    std::map<std::wstring, std::string> files;
    // The CSV is held by a spreadsheet: appends fail.
    bool held = false;
    // The next CSV append writes its line and then reports a failure (the
    // outcome a lost connection leaves unknown).
    bool failAfterNextWrite = false;
    // No copy can be made beside the CSV (a folder that takes appends only).
    bool copyRefused = false;
    // The queue's disk is full: no file can be made.
    bool queueRefused = false;
    // Files of the queue that cannot be read now (a scanner holds them).
    std::set<std::wstring> unreadable;
    // The owner marks of living programs.
    std::set<std::wstring> marks;
    // Record paths whose folder cannot be made (a drive that is not there).
    std::set<std::wstring> unmakeable;
    // Folders standing where a CSV is looked for: neither read nor written.
    std::set<std::wstring> folders;
    int csvAppends = 0;
    uint64_t csvBytesRead = 0;
    // A fault at the queue's file operation number faultAt (counted from 1
    // in queueOps): it fails, or with crash the program dies in it (a write
    // left half done), by throwing FakeCrash.
    int faultAt = 0;
    bool crash = false;
    int queueOps = 0;

    bool ReadFrom(const std::wstring &path, uint64_t offset, uint64_t limit, std::string &bytes,
                  uint64_t &size, std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (folders.count(path) != 0) {
            error = L"it is a folder, not a file";
            return false;
        }
        const std::string &all = files[path];
        size = all.size();
        bytes = offset < all.size() ? all.substr(offset, limit) : std::string();
        csvBytesRead += bytes.size();
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
    bool MakeFolderOf(const std::wstring &path, std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (unmakeable.count(path) == 0) return true;
        error = L"the folder cannot be made";
        return false;
    }
    bool IsFolder(const std::wstring &path) override {
        std::lock_guard<std::mutex> lock(m_guard);
        return folders.count(path) != 0;
    }

    bool List(const std::wstring &folder, std::vector<std::wstring> &names,
              std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (Fault(error)) return false;
        const std::wstring at = Slashed(folder);
        std::set<std::wstring> found;
        for (const auto &file : files)
            if (file.first.compare(0, at.size(), at) == 0 && file.first.size() > at.size())
                found.insert(
                    file.first.substr(at.size(), file.first.find(L'\\', at.size()) - at.size()));
        for (const std::wstring &made : m_folders)
            if (made.compare(0, at.size(), at) == 0 && made.size() > at.size())
                found.insert(made.substr(at.size(), made.find(L'\\', at.size()) - at.size()));
        names.assign(found.begin(), found.end());
        return true;
    }
    bool Read(const std::wstring &path, std::string &bytes, std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (Fault(error)) return false;
        if (unreadable.count(path) != 0) {
            error = L"the file is held by another program";
            return false;
        }
        const auto found = files.find(path);
        bytes = found == files.end() ? std::string() : found->second;
        return true;
    }
    bool Create(const std::wstring &path, const std::string &bytes, std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (crash && queueOps + 1 == faultAt) files[path] = bytes.substr(0, bytes.size() / 2);
        if (Fault(error)) return false;
        if (queueRefused || files.count(path) != 0) {
            error = queueRefused ? L"the disk is full" : L"the file exists";
            return false;
        }
        files[path] = bytes;
        return true;
    }
    bool Rename(const std::wstring &from, const std::wstring &to, std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (Fault(error)) return false;
        const auto found = files.find(from);
        if (found == files.end() || files.count(to) != 0) {
            error = L"the name is taken or the file is gone";
            return false;
        }
        files[to] = found->second;
        files.erase(from);
        return true;
    }
    bool Remove(const std::wstring &path, std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (Fault(error)) return false;
        files.erase(path);
        return true;
    }
    bool MakeFolder(const std::wstring &folder, std::wstring &error) override {
        std::lock_guard<std::mutex> lock(m_guard);
        if (Fault(error)) return false;
        const std::wstring at = Slashed(folder);
        for (size_t end = at.find(L'\\'); end != std::wstring::npos; end = at.find(L'\\', end + 1))
            if (files.count(at.substr(0, end)) != 0) {
                error = L"a file has the name of the folder " + at.substr(0, end);
                return false;
            }
        m_folders.insert(at);
        return true;
    }
    bool HoldMark(const std::wstring &path, std::wstring &) override {
        std::lock_guard<std::mutex> lock(m_guard);
        marks.insert(path);
        return true;
    }
    bool MarkHeld(const std::wstring &path) override {
        std::lock_guard<std::mutex> lock(m_guard);
        return marks.count(path) != 0;
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
    // The files under a folder whose names end so (".rec": waiting records).
    size_t Count(const std::wstring &folder, const std::wstring &end) {
        std::lock_guard<std::mutex> lock(m_guard);
        size_t count = 0;
        for (const auto &file : files)
            if (file.first.compare(0, folder.size(), folder) == 0 &&
                file.first.find(L'\\', folder.size()) == std::wstring::npos &&
                file.first.size() >= end.size() &&
                file.first.compare(file.first.size() - end.size(), end.size(), end) == 0)
                ++count;
        return count;
    }

  private:
    static std::wstring Slashed(const std::wstring &folder) {
        return !folder.empty() && folder.back() == L'\\' ? folder : folder + L'\\';
    }
    bool Fault(std::wstring &error) {
        if (++queueOps != faultAt) return false;
        if (crash) throw FakeCrash{};
        error = L"an injected fault";
        return true;
    }
    std::mutex m_guard;
    std::set<std::wstring> m_folders;
};

// A destination that holds records by job id, as a database would.
class FakeDestination : public IRecordDestination {
  public:
    bool failing = false;
    // Job ids the server refuses for good.
    std::set<std::wstring> refused;
    // The next attempts that fail before the server answers again.
    int failuresLeft = 0;
    std::wstring failure = L"the server does not answer";
    // Said with the next record written, once (a table that lacks columns).
    std::wstring notice;
    // Called on the delivering thread at each attempt, before its outcome:
    // what happens meanwhile elsewhere (another job handing its record over).
    std::function<void()> duringAttempt;
    DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) override {
        if (duringAttempt) duringAttempt();
        std::lock_guard<std::mutex> lock(m_guard);
        ++attempts;
        ++m_attemptsOf[fields.jobId];
        if (refused.count(fields.jobId) != 0) {
            error = L"the row breaks a rule of the server";
            return DeliveryOutcome::Refused;
        }
        if (failing || failuresLeft > 0) {
            if (failuresLeft > 0) --failuresLeft;
            error = failure;
            return DeliveryOutcome::Failed;
        }
        for (const JobRecordFields &held : m_held)
            if (held.jobId == fields.jobId) return DeliveryOutcome::AlreadyDelivered;
        m_held.push_back(fields);
        error.swap(notice);
        notice.clear();
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
    // Every attempt at a job id, answered or not: a record offered twice is
    // seen even where the destination swallowed the second.
    int AttemptsOf(const std::wstring &jobId) const {
        std::lock_guard<std::mutex> lock(m_guard);
        const auto found = m_attemptsOf.find(jobId);
        return found == m_attemptsOf.end() ? 0 : found->second;
    }
    int attempts = 0;

  private:
    mutable std::mutex m_guard;
    std::vector<JobRecordFields> m_held;
    std::map<std::wstring, int> m_attemptsOf;
};

} // namespace fakes
