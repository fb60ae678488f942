// The durable outbox of one record destination. A completed job's record is
// first appended to a queue file of its own (flushed to the disk before
// Submit returns), then handed to the destination in order, and struck off
// the queue once the destination holds it. A record the destination cannot
// take now (the file held by a spreadsheet, a share away, a disk full) waits
// in the queue across the program's exit and a crash, and goes at the next
// chance: the next job, the next start, or the retry while records wait.
//
// A record goes to its destination once: a retry after an unknown outcome
// (a crash between the write and the strike) meets the destination, which
// knows the record by its jobId and answers AlreadyDelivered.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/platform.h"
#include "device/record_sink.h"

// How often a destination that failed is tried again while records wait.
inline constexpr uint32_t kOutboxRetryMs = 5000;
// How long the exit gives the last delivery before the records stay queued.
inline constexpr uint32_t kOutboxStopWaitMs = 2000;

// Failed: may pass (no connection, a held file, a full disk, a share away),
// the record waits. Refused: never (a row the server's rules reject, a
// record path that is a folder), the record is set aside with its reason.
enum class DeliveryOutcome { Delivered, AlreadyDelivered, Failed, Refused };

class IRecordDestination {
  public:
    virtual ~IRecordDestination() = default;
    // Writes one record. AlreadyDelivered: the destination already holds
    // this jobId (a retry after an unknown outcome), which counts as
    // written. Failed: error says why (never a password).
    virtual DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) = 0;
    // A short name for messages ("record file", "database").
    virtual std::wstring Name() const = 0;
};

// The queue file through the platform.
class IOutboxFile {
  public:
    virtual ~IOutboxFile() = default;
    // The whole file. True with nothing read when there is no file; false
    // with the reason when it is there but cannot be read.
    virtual bool Read(const std::wstring &path, std::string &bytes, std::wstring &error) = 0;
    // Appends the bytes, making the file and its folders when missing.
    // Durable: on the disk (not only in a cache) before it returns.
    virtual bool Append(const std::wstring &path, const std::string &bytes, bool durable,
                        std::wstring &error) = 0;
    // The file with these bytes instead of its own, on the disk, or left
    // as it was: never half of either.
    virtual bool Replace(const std::wstring &path, const std::string &bytes,
                         std::wstring &error) = 0;
    virtual bool Remove(const std::wstring &path) = 0;
    // The path's folder is there or can be made, and the path is not too
    // long for the platform: a queue file can be kept there.
    virtual bool CanHold(const std::wstring &path) = 0;
};

// The queue file's lines: one per record kept ("R"), one per record struck
// off ("D"), each with its sequence number and a checksum, the fields by
// name (unknown names are skipped, missing ones keep their defaults).
std::string OutboxRecordLine(uint64_t sequence, const JobRecordFields &fields);
std::string OutboxStruckLine(uint64_t sequence);

struct OutboxContents {
    struct Entry {
        uint64_t sequence = 0;
        JobRecordFields fields;
    };
    std::vector<Entry> waiting; // kept and not struck off, in order
    size_t damagedLines = 0;    // cut, garbled or failing their checksum
    uint64_t lastSequence = 0;
};
OutboxContents ReadOutboxContents(const std::string &bytes);

class RecordOutbox : public IRecordSink {
  public:
    // outboxPath: the durable queue file of this destination.
    RecordOutbox(IOutboxFile &file, std::wstring outboxPath, IRecordDestination &destination,
                 IClock &clock);
    ~RecordOutbox() override;
    RecordOutbox(const RecordOutbox &) = delete;
    RecordOutbox &operator=(const RecordOutbox &) = delete;

    // A queue file an earlier run kept elsewhere (the record's folder could
    // not hold it then): its records are taken in, before any of this run's,
    // when the queue is first read. Before Start or the first DeliverNow.
    void AdoptQueue(const std::wstring &otherPath);

    // Appends to the durable queue, wakes delivery.
    void Submit(const JobRecordFields &fields) override;
    size_t Waiting() const override;

    // A delivery thread: in order, stops at the first failure, retries
    // every kOutboxRetryMs while records wait.
    void Start();
    // At exit: one last bounded try, then the thread ends; waiting records
    // stay on disk. After a wait that ran out the thread is left to the
    // process's end, and this object must live as long.
    // cancel, when given, is asked as the wait goes on: true ends it early
    // (Ctrl+C), and what still waits is kept for the next start.
    void Stop(uint32_t waitMs, const std::function<bool()> &cancel = nullptr);
    // Synchronous, for tests and the one-job station run: records delivered
    // (or found already there) by this call.
    size_t DeliverNow();

    const std::wstring &Path() const { return m_path; }

    // Once per kind of failure (again after a delivery has worked).
    std::function<void(const std::wstring &message)> onError;
    std::function<void(size_t waiting)> onWaitingChanged;
    // Each record that waits: when its first delivery fails, and each
    // found waiting at the start.
    std::function<void(const JobRecordFields &fields)> onRecordWaiting;

  private:
    struct Queued {
        uint64_t sequence = 0;
        JobRecordFields fields;
        bool reported = false;
    };
    // Reads the queue file once; on the delivering side.
    void LoadOnce();
    void Report(const std::wstring &message);
    void ReportWaiting(size_t waiting);
    void ThreadMain();

    IOutboxFile &m_file;
    const std::wstring m_path;
    IRecordDestination &m_destination;
    IClock &m_clock;
    std::vector<std::wstring> m_adopt;

    std::mutex m_deliverGuard;  // one delivery at a time; taken before m_guard
    mutable std::mutex m_guard; // everything below
    std::condition_variable m_changed;
    bool m_loaded = false;
    std::deque<Queued> m_queue;
    uint64_t m_lastSequence = 0;
    std::wstring m_lastError; // the failure reported last; empty after a success
    bool m_wake = false;
    bool m_stopping = false;
    bool m_threadDone = false;
    std::thread m_thread;
};
