// The local queue of the job records: every record that a destination (the
// record file, the fleet database) does not hold yet waits on the computer's
// own disk, under the program's Log folder, never on the record's share.
//
// Laid out as mail queues have kept mail safe for decades: one file per
// record and destination, no shared index. A record is written under a
// temporary name, flushed, then renamed into place; it is claimed for a
// delivery by a rename and deleted once the destination holds it. Each file
// names its destination and carries the job id, so a later run delivers it
// where it was meant to go whatever the settings say then, and a
// destination that meets a job id again (a delivery whose outcome was not
// known) answers AlreadyDelivered.
//
// Names in a destination's folder (NAME: the job's end time and its id):
//   NAME.rec              waits for delivery; any program may claim it
//   NAME.rec.held-OWNER   saved at the verdict, completed when the device is back
//   NAME.rec.claim-OWNER  being delivered by OWNER
//   FILE.tmp-OWNER        FILE being written by OWNER
//   refused\NAME.rec      refused for good, with NAME.reason beside it
//   refused\NAME.damaged  a file that holds no whole record, kept to look at
// OWNER is a program's token; its mark in owners\ is held open for as long
// as that program runs, so a claim or a held record of a program that died
// is taken back by the next one that looks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/platform.h"
#include "records/record_sink.h"

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
    // written. Failed or Refused: error says why (never a password).
    // Written, with error set: something the user should hear once though
    // nothing waits (a table that lacks columns this program fills).
    virtual DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) = 0;
    // A short name for messages ("record file", "database").
    virtual std::wstring Name() const = 0;
    // Whether a record could be written now, without writing one (the
    // file's folder can be made and the file read, the server logs in):
    // what is wrong is said before the first job, not after it. True with
    // error set: a notice, as for Deliver.
    virtual bool Probe(std::wstring &error) {
        (void)error;
        return true;
    }
};

// The queue's files through the platform. Every call is one step that
// either happens whole or not at all.
class IQueueFiles {
  public:
    virtual ~IQueueFiles() = default;
    // The names (not paths) of a folder's files. True with none when the
    // folder is missing.
    virtual bool List(const std::wstring &folder, std::vector<std::wstring> &names,
                      std::wstring &error) = 0;
    // The whole file. True with nothing read when there is no file; false
    // with the reason when it is there but cannot be read.
    virtual bool Read(const std::wstring &path, std::string &bytes, std::wstring &error) = 0;
    // A new file with these bytes, on the disk (not only in a cache) before
    // it returns. Fails when the name is taken.
    virtual bool Create(const std::wstring &path, const std::string &bytes,
                        std::wstring &error) = 0;
    // Fails when `to` is taken or `from` is gone.
    virtual bool Rename(const std::wstring &from, const std::wstring &to, std::wstring &error) = 0;
    // True once the file is gone (also when it was never there).
    virtual bool Remove(const std::wstring &path, std::wstring &error) = 0;
    // The folder and every missing folder above it.
    virtual bool MakeFolder(const std::wstring &folder, std::wstring &error) = 0;
    // A file this program holds until its process ends, whatever way it ends.
    virtual bool HoldMark(const std::wstring &path, std::wstring &error) = 0;
    // A living program holds the mark.
    virtual bool MarkHeld(const std::wstring &path) = 0;
};

// A short hash of a text (FNV-1a), for file names that tell paths apart.
uint32_t Fnv1aHash(const std::wstring &text);

// The one place that says where records wait: the queue of every destination
// under the program folder's Log, each destination in a folder of its own.
std::wstring RecordQueueRoot(const std::wstring &programFolder);
// A destination as a queued record names it.
std::wstring FileDestinationName(const std::wstring &recordPath);
inline constexpr wchar_t kDatabaseDestinationName[] = L"database";
// The record path a file destination's name holds; empty for another one.
std::wstring RecordPathOfDestination(const std::wstring &destinationName);
std::wstring QueueFolderOf(const std::wstring &root, const std::wstring &destinationName);
std::wstring RefusedFolderOf(const std::wstring &queueFolder);

// A queued record's file: the destination and every field, one sealed line.
std::string QueuedRecordText(const std::wstring &destinationName, const JobRecordFields &fields);
bool ParseQueuedRecord(const std::string &bytes, std::wstring &destinationName,
                       JobRecordFields &fields);

// The earlier version's queue file: one line per record kept ("R"), one per
// record struck off ("D"), each with its sequence number and a checksum.
// Read once, at the first start after an upgrade, and carried over.
std::string OutboxRecordLine(uint64_t sequence, const JobRecordFields &fields);
struct OutboxContents {
    struct Entry {
        uint64_t sequence = 0;
        JobRecordFields fields;
    };
    std::vector<Entry> waiting; // kept and not struck off, in order
    size_t damagedLines = 0;    // cut, garbled or failing their checksum
};
OutboxContents ReadOutboxContents(const std::string &bytes);

// What the queue holds, for a station's listing.
struct QueuedRecord {
    std::wstring destinationName;
    std::wstring file; // its name in the destination's folder
    JobRecordFields fields;
    std::wstring reason; // refused: why
};
struct QueueListing {
    std::vector<QueuedRecord> waiting; // waiting, held or being delivered
    std::vector<QueuedRecord> refused;
    std::vector<std::wstring> unreadable; // files that could not be read now, with why
};
QueueListing ListRecordQueue(IQueueFiles &files, const std::wstring &root);
// Every record path whose queue holds a record (waiting or refused), apart
// from `except`: a record path no longer set still gets its lines.
std::vector<std::wstring> QueuedRecordPaths(IQueueFiles &files, const std::wstring &root,
                                            const std::wstring &except);

class RecordOutbox : public IRecordSink {
  public:
    // root: RecordQueueRoot. owner: this program's token, unique among the
    // programs that share the queue.
    RecordOutbox(IQueueFiles &files, std::wstring root, std::wstring destinationName,
                 std::wstring owner, IRecordDestination &destination, IClock &clock);
    ~RecordOutbox() override;
    RecordOutbox(const RecordOutbox &) = delete;
    RecordOutbox &operator=(const RecordOutbox &) = delete;

    // The earlier version's queue file of this destination: its waiting
    // records are carried over when the queue is first opened, and the
    // file is removed once every one of them is kept. Before Start or the
    // first DeliverNow.
    void AdoptQueue(const std::wstring &earlierQueueFile);

    // Kept at the verdict, not delivered until Submit completes it (or,
    // should this program end first, the next one that opens the queue
    // takes it as it stands).
    void Hold(const JobRecordFields &fields) override;
    // Kept durably, then delivery wakes.
    void Submit(const JobRecordFields &fields) override;
    size_t Waiting() const override;

    // A delivery thread: in order, stops at the first failure that may
    // pass, retries every kOutboxRetryMs while records wait.
    void Start();
    // At exit: one last bounded try, then the thread ends; waiting records
    // stay on disk. After a wait that ran out the thread is left to the
    // process's end, and this object must live as long.
    // cancel, when given, is asked as the wait goes on: true ends it early
    // (Ctrl+C), and what still waits is kept for the next start.
    void Stop(uint32_t waitMs, const std::function<bool()> &cancel = nullptr);
    // Synchronous: records delivered (or found already there) by this call.
    size_t DeliverNow();
    // The refused records back in the queue; how many. Delivery follows.
    size_t ResendRefused();
    // The destination tried without a record (IRecordDestination::Probe);
    // a failure found so is not reported again by the deliveries after it.
    bool Probe(std::wstring &error);

    IRecordDestination &Destination() { return m_destination; }

    // Once per kind of failure (again after a delivery has worked).
    std::function<void(const std::wstring &message)> onError;
    // What a destination says while it takes the records (see Deliver),
    // named like a failure.
    std::function<void(const std::wstring &message)> onNotice;
    std::function<void(size_t waiting)> onWaitingChanged;
    // Each record that waits: when its first delivery fails, and each
    // found waiting at the start.
    std::function<void(const JobRecordFields &fields)> onRecordWaiting;
    // Each record refused for good, once, as it is set aside.
    std::function<void(const JobRecordFields &fields, const std::wstring &reason)> onRefused;

  private:
    // The folders and the owner's mark, the earlier queue carried over;
    // again at each round until they are there.
    bool Open();
    // Claims, held records and half-written files of programs that ended;
    // true when one of them moved.
    bool TakeBackAbandoned(const std::vector<std::wstring> &names);
    // Written under a temporary name, then renamed to `name`.
    bool Save(const std::wstring &name, const JobRecordFields &fields, std::wstring &error);
    std::wstring NameFor(const JobRecordFields &fields);
    // One waiting file: claimed, delivered, removed. False: stop the round.
    enum class Step { Done, Skipped, Stop };
    Step DeliverOne(const std::wstring &name, size_t &delivered);
    // Records this program could not keep on disk: kept again, else
    // delivered from memory. False: stop the round.
    bool DeliverUnsaved(bool open, size_t &delivered);
    void SetWaiting(size_t waiting);
    void Report(const std::wstring &message);
    void ReportFailure(const std::wstring &error);
    // Deliver, with a notice passed on and no earlier step's error taken
    // for one.
    DeliveryOutcome Send(const JobRecordFields &fields, std::wstring &error);
    void ThreadMain();

    IQueueFiles &m_files;
    const std::wstring m_root;
    const std::wstring m_destinationName;
    const std::wstring m_folder;
    const std::wstring m_owner;
    IRecordDestination &m_destination;
    IClock &m_clock;

    std::mutex m_deliverGuard;  // one delivery at a time; taken before the others
    std::mutex m_openGuard;     // one opening at a time; taken before m_guard
    mutable std::mutex m_guard; // everything below
    std::condition_variable m_changed;
    std::vector<std::wstring> m_adopt;
    bool m_open = false;
    std::wstring m_openError;
    std::map<std::wstring, std::wstring> m_heldNames; // job id -> NAME
    std::deque<JobRecordFields> m_unsaved;
    std::set<std::wstring> m_reported; // waiting records already named
    uint64_t m_counter = 0;
    size_t m_waiting = 0;
    std::wstring m_lastError; // the failure reported last; empty after a success
    bool m_wake = false;
    bool m_stopping = false;
    bool m_threadDone = false;
    std::thread m_thread;
};
