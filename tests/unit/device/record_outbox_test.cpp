// The records' queue and the CSV file behind it: every field kept exactly,
// records delivered in order and once, what waits kept across a restart and
// a crash at any file operation, a record refused for good set aside while
// the rest go on, two programs on one queue, the earlier version's queue
// carried over.
#include "records/record_outbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "records/csv_record_sink.h"
#include "records/record_import.h"
#include "records/record_keeping.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fakes/record_fakes.h"

namespace {

using fakes::CsvJobIds;
using fakes::FakeCrash;
using fakes::FakeDestination;
using fakes::FakeRecordFiles;
using fakes::ParseCsv;
using fakes::record_columns::kColJobId;

const std::wstring kProgram = L"C:\\QV\\";
const std::wstring kRoot = RecordQueueRoot(kProgram);
const std::wstring kFolder = QueueFolderOf(kRoot, kDatabaseDestinationName);
const std::wstring kOldQueue = L"C:\\QV\\Log\\database.outbox";
const std::wstring kRecord = L"C:\\QV\\Log\\jobs.csv";

JobRecordFields Job(const std::wstring &id) {
    JobRecordFields f;
    f.jobId = id;
    f.deviceSerial = L"SN-" + id;
    return f;
}

// A record line (or the header) as an earlier version wrote it: its first
// `count` columns.
std::string FirstColumns(const std::string &line, size_t count) {
    bool quoted = false;
    size_t fields = 1;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (!quoted && line[i] == ',' && fields++ == count) return line.substr(0, i) + "\r\n";
    }
    return line;
}

// One program's queue of the database, over files that outlive it.
struct Outboxed {
    FakeRecordFiles files;
    FakeDestination destination;
    FakeClock clock;
    std::vector<std::wstring> errors;
    std::vector<std::wstring> waitingIds;
    std::vector<size_t> counts;
    // The callbacks come from the caller's thread and the delivery thread.
    std::mutex guard;
    int runs = 0;
    std::wstring owner;
    std::unique_ptr<RecordOutbox> outbox;

    Outboxed() { Restart(); }
    // A new run of the program over the same files; the last one ended.
    void Restart() {
        files.marks.erase(kRoot + L"owners\\" + owner);
        owner = L"run" + std::to_wstring(++runs);
        outbox = std::make_unique<RecordOutbox>(files, kRoot, kDatabaseDestinationName, owner,
                                                destination, clock);
        outbox->AdoptQueue(kOldQueue);
        outbox->onError = [this](const std::wstring &message) {
            std::lock_guard<std::mutex> lock(guard);
            errors.push_back(message);
        };
        outbox->onRecordWaiting = [this](const JobRecordFields &f) {
            std::lock_guard<std::mutex> lock(guard);
            waitingIds.push_back(f.jobId);
        };
        outbox->onWaitingChanged = [this](size_t waiting) {
            std::lock_guard<std::mutex> lock(guard);
            counts.push_back(waiting);
        };
    }
    // Every file the queue's folder holds, refused ones apart.
    size_t Files() { return files.Count(kFolder, L""); }
};

TEST(RecordOutbox, EveryFieldComesBackExactly) {
    JobRecordFields f;
    f.jobId = L"0123456789abcdef0123456789abcdef";
    f.startSeconds = -1;
    f.endSeconds = INT64_MAX;
    f.durationMs = UINT64_MAX;
    f.computer = L"BENCH\tPC";
    f.programVersion = L"1.2.0.3";
    f.mode = L"repair";
    f.deviceKind = -4;
    f.deviceName = L"\x5347\x7EA7 back\\slash";
    f.deviceSerial = L"A=1\nB";
    f.deviceSoftwareBefore = L"a lone\rreturn";
    f.deviceLoaderBefore = L"\x01\x7F";
    f.imageFile = L"C:\\Images\\update, final.img";
    f.imageSoftware = L"N/A";
    f.imageLoader = L"1.41";
    f.imageSize = UINT32_MAX;
    f.imageSha256 = std::wstring(64, L'f');
    f.resultCode = INT32_MIN;
    f.verdictKey = L"CLOSED_DURING_JOB";
    f.verdictText = L"Line one.\r\n\r\nLine \"two\".";
    f.deviceSoftwareAfter = L"1.2.3";
    f.verified = kVerifiedNo;
    f.declinedBy = L"--yes-anyway";

    const std::string line = OutboxRecordLine(7, f);
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
    const OutboxContents read = ReadOutboxContents(line);
    ASSERT_EQ(read.waiting.size(), 1u);
    EXPECT_EQ(read.damagedLines, 0u);
    EXPECT_EQ(read.waiting[0].sequence, 7u);
    EXPECT_EQ(JobRecordLine(read.waiting[0].fields), JobRecordLine(f));
    EXPECT_EQ(read.waiting[0].fields.durationMs, f.durationMs);
    EXPECT_EQ(read.waiting[0].fields.declinedBy, f.declinedBy);

    const std::wstring destination = FileDestinationName(L"\\\\server\\jobs, \x5347.csv");
    std::wstring named;
    JobRecordFields queued;
    ASSERT_TRUE(ParseQueuedRecord(QueuedRecordText(destination, f), named, queued));
    EXPECT_EQ(named, destination);
    EXPECT_EQ(JobRecordLine(queued), JobRecordLine(f));
    const std::string whole = QueuedRecordText(destination, f);
    EXPECT_FALSE(ParseQueuedRecord(whole.substr(0, whole.size() - 1), named, queued)) << "cut";
    EXPECT_FALSE(ParseQueuedRecord(OutboxRecordLine(7, f), named, queued)) << "no destination";
}

TEST(RecordOutbox, KeptOnDiskBeforeSubmitReturnsAndDeliveredInOrderOnce) {
    Outboxed o;
    o.destination.failing = true;
    for (const wchar_t *id : {L"a", L"b", L"c"})
        o.outbox->Submit(Job(id));
    EXPECT_EQ(o.files.Count(kFolder, L".rec"), 3u)
        << "each a file of its own before Submit returns";
    EXPECT_EQ(o.outbox->DeliverNow(), 0u);
    EXPECT_EQ(o.outbox->Waiting(), 3u);
    EXPECT_EQ(o.waitingIds, (std::vector<std::wstring>{L"a", L"b", L"c"})) << "each reported";
    EXPECT_EQ(o.errors, (std::vector<std::wstring>{L"database: the server does not answer"}));

    EXPECT_EQ(o.outbox->DeliverNow(), 0u);
    EXPECT_EQ(o.errors.size(), 1u) << "the same failure is reported once";
    EXPECT_EQ(o.waitingIds.size(), 3u);

    o.destination.failing = false;
    EXPECT_EQ(o.outbox->DeliverNow(), 3u);
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(o.outbox->Waiting(), 0u);
    EXPECT_EQ(o.counts.back(), 0u);
    EXPECT_EQ(o.Files(), 0u) << "nothing left behind";
    EXPECT_EQ(o.outbox->DeliverNow(), 0u);
    EXPECT_EQ(o.destination.HeldIds().size(), 3u);
}

TEST(RecordOutbox, WhatWaitsIsThereAtTheNextStartAndReported) {
    Outboxed o;
    o.destination.failing = true;
    o.outbox->Submit(Job(L"a"));
    o.outbox->Submit(Job(L"b"));
    o.destination.failing = false;
    o.outbox->DeliverNow(); // "a" struck off, "b" left when the program ends
    o.destination.failing = true;
    o.outbox->Submit(Job(L"c"));
    o.outbox->DeliverNow();

    o.Restart();
    o.waitingIds.clear();
    EXPECT_EQ(o.outbox->DeliverNow(), 0u);
    EXPECT_EQ(o.waitingIds, (std::vector<std::wstring>{L"c"}));
    EXPECT_EQ(o.outbox->Waiting(), 1u);
    o.destination.failing = false;
    o.outbox->DeliverNow();
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a", L"b", L"c"}));
}

TEST(CsvRecordSink, ALineWrittenButReportedFailedIsNotWrittenAgain) {
    FakeRecordFiles files;
    FakeClock clock;
    CsvRecordSink sink(files, files, clock, kRoot, L"A", kRecord);
    files.failAfterNextWrite = true;
    sink.Submit(Job(L"a"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 0u);
    sink.Submit(Job(L"b"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 2u);
    EXPECT_EQ(CsvJobIds(files.Bytes(kRecord)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(files.csvAppends, 2);

    // The file replaced by a shorter one (the lines so far archived, one
    // kept): read again from its start, its lines are known.
    files.files[kRecord] = "\xEF\xBB\xBF" + JobRecordHeaderLine() + JobRecordLine(Job(L"b"));
    sink.Submit(Job(L"b"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 1u);
    EXPECT_EQ(files.csvAppends, 2);
}

// A folder where the record file should be never takes a line; a file held
// open or a share away only makes the line wait.
TEST(CsvRecordSink, ARecordPathThatIsAFolderIsRefusedForGood) {
    FakeRecordFiles files;
    CsvRecordDestination destination(files, kRecord);
    std::wstring error;
    files.held = true;
    EXPECT_EQ(destination.Deliver(Job(L"a"), error), DeliveryOutcome::Failed);
    files.failAfterNextWrite = true;
    files.held = false;
    EXPECT_EQ(destination.Deliver(Job(L"a"), error), DeliveryOutcome::Failed);

    files.folders.insert(kRecord);
    error.clear();
    EXPECT_EQ(destination.Deliver(Job(L"b"), error), DeliveryOutcome::Refused);
    EXPECT_NE(error.find(L"folder"), std::wstring::npos);
    files.folders.clear();
    EXPECT_EQ(destination.Deliver(Job(L"b"), error), DeliveryOutcome::Delivered);
    EXPECT_EQ(CsvJobIds(files.Bytes(kRecord)), (std::vector<std::string>{"a", "b"}));
}

TEST(CsvRecordSink, JobIdsAreKnownFromWholeLinesOnly) {
    JobRecordFields two = Job(L"id-2");
    two.verdictText = L"line\r\nbreak, \"quoted\"";
    JobRecordFields old = Job(L"");
    // A line written before the job_id column, and one before the later ones.
    const std::string oldLine = FirstColumns(JobRecordLine(old), kColJobId);
    const std::string beforeVerified = FirstColumns(JobRecordLine(Job(L"id-0")), kColJobId + 1);
    const std::string bytes = "\xEF\xBB\xBF" + JobRecordHeaderLine() + JobRecordLine(Job(L"id-1")) +
                              oldLine + beforeVerified + JobRecordLine(two);
    std::set<std::wstring> ids;
    EXPECT_EQ(ScanRecordJobIds(bytes, ids), bytes.size());
    EXPECT_EQ(ids, (std::set<std::wstring>{L"id-0", L"id-1", L"id-2"}));

    const std::string cut = JobRecordLine(Job(L"id-3"));
    std::set<std::wstring> none;
    EXPECT_EQ(ScanRecordJobIds(cut.substr(0, cut.size() - 1), none), 0u) << "not yet ended";
    EXPECT_TRUE(none.empty());
}

// A record file edited by hand and saved without a line break after its last
// line: the next line starts on a line of its own, and a later run still
// finds its job id.
TEST(CsvRecordSink, ALineNeverJoinsALastLineLeftWithoutItsBreak) {
    const std::string start = "\xEF\xBB\xBF" + JobRecordHeaderLine();
    const std::string a = JobRecordLine(Job(L"a"));
    const struct {
        const char *name;
        std::string bytes;
        std::vector<std::string> lastFields; // the line before the new one
    } cases[] = {
        {"a note typed below the lines", start + a + "checked, ok", {"checked", " ok"}},
        {"the last line's break removed", start + a.substr(0, a.size() - 2), ParseCsv(a)[0]},
        {"only its carriage return left", start + a.substr(0, a.size() - 1), ParseCsv(a)[0]},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeRecordFiles files;
        FakeClock clock;
        files.files[kRecord] = c.bytes;
        CsvRecordSink sink(files, files, clock, kRoot, L"A", kRecord);
        sink.Submit(Job(L"b"));
        EXPECT_EQ(sink.Outbox().DeliverNow(), 1u);
        const auto records = ParseCsv(files.Bytes(kRecord));
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records[records.size() - 2], c.lastFields);
        EXPECT_EQ(records.back(), ParseCsv(JobRecordLine(Job(L"b")))[0]);

        // The next run offers the same record again (its strike was lost).
        CsvRecordSink next(files, files, clock, kRoot, L"B", kRecord);
        next.Submit(Job(L"b"));
        EXPECT_EQ(next.Outbox().DeliverNow(), 1u);
        EXPECT_EQ(files.csvAppends, 1) << "found, not written twice";
    }
}

// A file begun before the job_id column: its header gets the name, its lines
// keep every byte, and a header of anyone else's making is left alone.
TEST(CsvRecordSink, AFileOfTheEarlierLayoutGetsTheJobIdHeading) {
    const std::string earlierHeader = FirstColumns(JobRecordHeaderLine(), kColJobId);
    const std::string beforeVerifiedHeader = FirstColumns(JobRecordHeaderLine(), kColJobId + 1);
    JobRecordFields earlier = Job(L"");
    earlier.verdictText = L"Not \"written\"";
    earlier.deviceSoftwareAfter = L"1.2"; // the quotation ends close to the line's end
    const std::string earlierLine = FirstColumns(JobRecordLine(earlier), kColJobId);
    const std::string beforeVerifiedLine = FirstColumns(JobRecordLine(Job(L"a")), kColJobId + 1);
    const std::string bom = "\xEF\xBB\xBF";
    const std::string lines = earlierLine + earlierLine;
    const std::string b = JobRecordLine(Job(L"b"));
    std::string ownHeader = earlierHeader;
    ownHeader.insert(ownHeader.size() - 2, ",checked_by");
    const struct {
        const char *name;
        std::string bytes;
        bool copyRefused;
        std::string after;
    } cases[] = {
        {"written by the earlier version", bom + earlierHeader + lines, false,
         bom + JobRecordHeaderLine() + lines + b},
        {"no copy can be made beside it: the line still goes", bom + earlierHeader + lines, true,
         bom + earlierHeader + lines + b},
        {"written before the verified column", bom + beforeVerifiedHeader + beforeVerifiedLine,
         false, bom + JobRecordHeaderLine() + beforeVerifiedLine + b},
        {"a header of its own", bom + ownHeader + lines, false, bom + ownHeader + lines + b},
        {"the earlier header, not at the start", bom + lines + earlierHeader, false,
         bom + lines + earlierHeader + b},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeRecordFiles files;
        FakeClock clock;
        files.files[kRecord] = c.bytes;
        files.copyRefused = c.copyRefused;
        CsvRecordSink sink(files, files, clock, kRoot, L"A", kRecord);
        sink.Submit(Job(L"b"));
        EXPECT_EQ(sink.Outbox().DeliverNow(), 1u);
        EXPECT_EQ(files.Bytes(kRecord), c.after);
        EXPECT_EQ(CsvJobIds(files.Bytes(kRecord)).back(), "b");
    }

    // Held by a spreadsheet, the file takes neither; both come once it is
    // free, and a line whose outcome was lost is still found after the
    // header grew.
    FakeRecordFiles files;
    FakeClock clock;
    files.files[kRecord] = bom + earlierHeader + lines;
    files.held = true;
    CsvRecordSink sink(files, files, clock, kRoot, L"A", kRecord);
    sink.Submit(Job(L"b"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 0u);
    EXPECT_EQ(files.Bytes(kRecord), bom + earlierHeader + lines);
    files.held = false;
    files.failAfterNextWrite = true;
    EXPECT_EQ(sink.Outbox().DeliverNow(), 0u);
    EXPECT_EQ(sink.Outbox().DeliverNow(), 1u);
    EXPECT_EQ(files.Bytes(kRecord), bom + JobRecordHeaderLine() + lines + b);
}

// The earlier version's queue file, read once at the first start after an
// upgrade: what it holds waits on in the new queue, damaged lines are kept
// aside whole, and the file goes.
TEST(RecordOutbox, TheEarlierQueueIsCarriedOverAndItsDamageSetAside) {
    const std::string a = OutboxRecordLine(1, Job(L"a"));
    const std::string b = OutboxRecordLine(2, Job(L"b"));
    std::string flipped = b;
    flipped[flipped.size() / 2] ^= 0x01;
    struct Case {
        const char *name;
        std::string bytes;
        std::vector<std::wstring> delivered;
    } cases[] = {
        {"cut in the middle of a line", a + b.substr(0, b.size() / 2), {L"a"}},
        {"garbage between lines", a + "\x01\xff garbage\n" + b, {L"a", L"b"}},
        {"a changed character", a + flipped, {L"a"}},
        {"nothing but garbage", std::string(300, '\xfe'), {}},
        {"a line end only", "\n\n" + a, {L"a"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Outboxed o;
        o.files.files[kOldQueue] = c.bytes;
        o.outbox->DeliverNow();
        EXPECT_FALSE(o.files.Has(kOldQueue));
        EXPECT_EQ(o.destination.HeldIds(), c.delivered);
        const bool damaged = std::string(c.name) != "a line end only";
        ASSERT_EQ(o.errors.size(), damaged ? 1u : 0u);
        if (!damaged) continue;
        EXPECT_NE(o.errors[0].find(L"set aside in " + kOldQueue + L".damaged-"),
                  std::wstring::npos);
        size_t asideFiles = 0;
        for (const auto &file : o.files.files) {
            if (file.first.find(L".damaged-") == std::wstring::npos) continue;
            ++asideFiles;
            EXPECT_EQ(file.second, c.bytes) << "kept whole";
        }
        EXPECT_EQ(asideFiles, 1u);
        o.outbox->Submit(Job(L"next"));
        o.outbox->DeliverNow();
        EXPECT_EQ(o.destination.HeldIds().back(), L"next") << "the queue goes on";
    }
}

// Bad places for the queue: the disk full, its folder a file, the earlier
// queue unreadable for a moment. Each is said, and nothing is lost.
TEST(RecordOutbox, AQueueThatCannotBeWrittenIsReportedAndNothingIsLost) {
    {
        Outboxed o;
        o.files.queueRefused = true;
        o.destination.failing = true;
        o.outbox->Submit(Job(L"a"));
        ASSERT_EQ(o.errors.size(), 1u);
        EXPECT_EQ(o.errors[0], kFolder + L": the disk is full");
        o.outbox->DeliverNow();
        o.files.queueRefused = false; // room again: kept on the disk now
        o.outbox->DeliverNow();
        EXPECT_EQ(o.files.Count(kFolder, L".rec"), 1u);
        o.destination.failing = false;
        o.outbox->DeliverNow();
        EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a"}));
    }
    {
        Outboxed o;
        o.files.files[kRoot.substr(0, kRoot.size() - 1)] = "a file where the folder goes";
        o.outbox->Submit(Job(L"a"));
        ASSERT_FALSE(o.errors.empty());
        EXPECT_NE(o.errors[0].find(L"cannot be kept on the disk"), std::wstring::npos);
        o.outbox->DeliverNow();
        EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a"})) << "from memory";
    }
    {
        Outboxed o;
        o.files.files[kOldQueue] = OutboxRecordLine(1, Job(L"old"));
        o.files.unreadable.insert(kOldQueue);
        o.outbox->DeliverNow();
        EXPECT_TRUE(o.files.Has(kOldQueue)) << "never deleted unread";
        o.files.unreadable.clear();
        o.Restart();
        o.outbox->DeliverNow();
        EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"old"}));
        EXPECT_FALSE(o.files.Has(kOldQueue));
    }
}

// A fault at each file operation of a run in turn, as a failure the run
// goes on from or as the program's death in it; then the next program
// delivers what is left. Every record the caller was told is kept arrives
// once, none is offered twice but the one a fault left in doubt, and
// nothing is left behind.
TEST(RecordOutbox, AFaultAtAnyFileOperationLosesAndDoublesNothing) {
    auto run = [](Outboxed &o, std::vector<std::wstring> &kept) {
        o.destination.failuresLeft = 1; // "a" waits at first
        o.outbox->Submit(Job(L"a"));
        kept.push_back(L"a");
        o.outbox->DeliverNow();
        o.outbox->Hold(Job(L"b")); // at its verdict; completed later
        kept.push_back(L"b");
        o.outbox->Submit(Job(L"b"));
        o.outbox->Submit(Job(L"c"));
        kept.push_back(L"c");
        o.outbox->DeliverNow();
    };
    Outboxed clean;
    std::vector<std::wstring> all;
    const int before = clean.files.queueOps;
    run(clean, all);
    const int operations = clean.files.queueOps - before;
    ASSERT_GT(operations, 20);
    for (const bool crash : {false, true}) {
        for (int at = 1; at <= operations; ++at) {
            SCOPED_TRACE((crash ? "died at operation " : "failed at operation ") +
                         std::to_string(at));
            Outboxed o;
            o.files.faultAt = o.files.queueOps + at;
            o.files.crash = crash;
            std::vector<std::wstring> kept;
            try {
                run(o, kept);
            } catch (const FakeCrash &) {
            }
            o.files.faultAt = 0;
            o.Restart();
            for (int round = 0; round < 3; ++round)
                o.outbox->DeliverNow();
            std::vector<std::wstring> held = o.destination.HeldIds();
            std::sort(held.begin(), held.end());
            for (const std::wstring &id : kept)
                EXPECT_EQ(std::count(held.begin(), held.end(), id), 1) << "lost: " << id.size();
            EXPECT_TRUE(std::adjacent_find(held.begin(), held.end()) == held.end());
            int offers = 0;
            for (const wchar_t *id : {L"a", L"b", L"c"})
                offers += std::max(0, o.destination.AttemptsOf(id) - (id[0] == L'a' ? 2 : 1));
            EXPECT_LE(offers, 1) << "one fault offers one record again at most";
            EXPECT_EQ(o.Files(), 0u) << "nothing left behind";
        }
    }
}

// Two programs on one queue: a waiting record goes once, by whichever
// claims it; a living program's claim and held record are its own; a dead
// program's are taken back, a record it left half-written is set aside.
TEST(RecordOutbox, TwoProgramsOnOneQueueNeverTakeEachOthersRecords) {
    Outboxed o;
    FakeDestination second;
    RecordOutbox other(o.files, kRoot, kDatabaseDestinationName, L"B", second, o.clock);
    o.destination.failing = true;
    o.outbox->Submit(Job(L"a"));
    o.outbox->Hold(Job(L"h"));
    o.outbox->DeliverNow();
    other.Submit(Job(L"b"));
    EXPECT_EQ(other.DeliverNow(), 2u) << "both waiting records, the held one not";
    EXPECT_EQ(second.HeldIds(), (std::vector<std::wstring>{L"a", L"b"}));
    o.destination.failing = false;
    EXPECT_EQ(o.outbox->DeliverNow(), 0u);
    EXPECT_TRUE(o.destination.HeldIds().empty()) << "never a second time";

    // A claim of A's stays while A lives, and comes back when A is gone.
    o.files.files[kFolder + L"20261208T120323Z-c.rec.claim-" + o.owner] =
        QueuedRecordText(kDatabaseDestinationName, Job(L"c"));
    o.files.files[kFolder + L"20261208T120323Z-d.rec.tmp-" + o.owner] = "cut in the mid";
    EXPECT_EQ(other.DeliverNow(), 0u);
    o.files.marks.erase(kRoot + L"owners\\" + o.owner);
    EXPECT_EQ(other.DeliverNow(), 2u);
    std::vector<std::wstring> ids = second.HeldIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::wstring>{L"a", L"b", L"c", L"h"}));
    EXPECT_EQ(o.files.Count(RefusedFolderOf(kFolder), L".damaged"), 1u);
    EXPECT_EQ(o.Files(), 0u);
}

// A record the destination refuses for good is set aside with its reason
// and said once; the records behind it go on; sent again once the cause is
// mended, it arrives.
TEST(RecordOutbox, ARecordRefusedForGoodIsSetAsideAndTheRestGoOn) {
    Outboxed o;
    o.destination.refused = {L"b"};
    std::vector<std::wstring> refusedIds;
    o.outbox->onRefused = [&](const JobRecordFields &f, const std::wstring &) {
        refusedIds.push_back(f.jobId);
    };
    for (const wchar_t *id : {L"a", L"b", L"c", L"d"})
        o.outbox->Submit(Job(id));
    EXPECT_EQ(o.outbox->DeliverNow(), 3u);
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a", L"c", L"d"}));
    EXPECT_EQ(o.outbox->Waiting(), 0u);
    EXPECT_EQ(refusedIds, (std::vector<std::wstring>{L"b"}));
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_NE(o.errors[0].find(L"job b"), std::wstring::npos);
    EXPECT_NE(o.errors[0].find(L"breaks a rule"), std::wstring::npos);

    o.Restart();
    o.outbox->DeliverNow();
    EXPECT_EQ(o.destination.AttemptsOf(L"b"), 1) << "not tried again by itself";
    QueueListing listing = ListRecordQueue(o.files, kRoot);
    ASSERT_EQ(listing.refused.size(), 1u);
    EXPECT_EQ(listing.refused[0].fields.jobId, L"b");
    EXPECT_EQ(listing.refused[0].reason, L"the row breaks a rule of the server");
    EXPECT_TRUE(listing.waiting.empty());

    EXPECT_EQ(o.outbox->ResendRefused(), 1u); // the cause is still there
    o.outbox->DeliverNow();
    EXPECT_EQ(ListRecordQueue(o.files, kRoot).refused.size(), 1u);
    o.destination.refused.clear();
    EXPECT_EQ(o.outbox->ResendRefused(), 1u);
    EXPECT_EQ(o.outbox->DeliverNow(), 1u);
    EXPECT_EQ(o.destination.HeldIds().back(), L"b");
    listing = ListRecordQueue(o.files, kRoot);
    EXPECT_TRUE(listing.refused.empty() && listing.waiting.empty());
}

// A destination that takes the records but has something to say (a table
// without some columns): said once, as a notice, and nothing waits for it.
TEST(RecordOutbox, ANoticeOfTheDestinationIsSaidOnceAndHoldsNothingBack) {
    Outboxed o;
    std::vector<std::wstring> notices;
    o.outbox->onNotice = [&](const std::wstring &message) { notices.push_back(message); };
    o.destination.failuresLeft = 1;
    o.outbox->Submit(Job(L"a"));
    EXPECT_EQ(o.outbox->DeliverNow(), 0u);
    o.destination.notice = L"the table has no column operator";
    o.outbox->Submit(Job(L"b"));
    EXPECT_EQ(o.outbox->DeliverNow(), 2u);
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(notices, (std::vector<std::wstring>{L"database: the table has no column operator"}));
    EXPECT_EQ(o.errors, (std::vector<std::wstring>{L"database: the server does not answer"}))
        << "the failure is not said again as a notice";
    EXPECT_EQ(o.outbox->Waiting(), 0u);
}

// Kept at the verdict: the program ending before the device is back loses
// nothing; completed, only the complete record goes.
TEST(RecordOutbox, ARecordHeldAtItsVerdictSurvivesTheProgram) {
    Outboxed o;
    o.outbox->Hold(Job(L"a"));
    EXPECT_EQ(o.outbox->DeliverNow(), 0u) << "not before it is complete";
    o.Restart(); // killed while the device was away
    EXPECT_EQ(o.outbox->DeliverNow(), 1u);
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a"}));

    JobRecordFields complete = Job(L"b");
    o.outbox->Hold(complete);
    complete.deviceSoftwareAfter = L"1.2.3";
    o.outbox->Submit(complete);
    o.Restart();
    o.outbox->DeliverNow();
    ASSERT_EQ(o.destination.Held().size(), 2u);
    EXPECT_EQ(o.destination.Held()[1].deviceSoftwareAfter, L"1.2.3");
    EXPECT_EQ(o.destination.AttemptsOf(L"b"), 1);
}

// A record path changed between runs (--record batch2.csv): the lines kept
// for batch1.csv still go there, and only there.
TEST(RecordKeeping, LinesForAnEarlierRecordPathGoWhereTheyWereMeantTo) {
    FakeRecordFiles files;
    FakeClock clock;
    const std::wstring batch1 = L"C:\\QV\\batch1.csv";
    const std::wstring batch2 = L"C:\\QV\\batch2.csv";
    {
        RecordKeeping first(files, files, clock, kProgram, L"A");
        files.held = true;
        first.OpenFile(batch1)->Submit(Job(L"a"));
        first.File()->Outbox().DeliverNow();
        files.marks.clear();
    }
    files.held = false;
    RecordKeeping second(files, files, clock, kProgram, L"B");
    second.OpenFile(batch2)->Submit(Job(L"b"));
    ASSERT_EQ(second.Outboxes().size(), 2u);
    for (RecordOutbox *outbox : second.Outboxes())
        outbox->DeliverNow();
    EXPECT_EQ(CsvJobIds(files.Bytes(batch1)), (std::vector<std::string>{"a"}));
    EXPECT_EQ(CsvJobIds(files.Bytes(batch2)), (std::vector<std::string>{"b"}));
    EXPECT_EQ(second.Waiting(), 0u);
}

// A record file of years: a run's first line reads only the file's end for
// the job ids a retry may meet there, and still never doubles a line.
TEST(CsvRecordSink, ALongFileIsReadAtItsEndOnly) {
    FakeRecordFiles files;
    FakeClock clock;
    std::string bytes = "\xEF\xBB\xBF" + JobRecordHeaderLine();
    for (int job = 0; bytes.size() < kRecordTailScanBytes + kRecordTailScanBytes / 4; ++job)
        bytes += JobRecordLine(Job(L"old-" + std::to_wstring(job)));
    bytes += JobRecordLine(Job(L"last"));
    files.files[kRecord] = bytes;
    CsvRecordSink sink(files, files, clock, kRoot, L"A", kRecord);
    sink.Submit(Job(L"last")); // its delivery was cut off before its file went
    sink.Submit(Job(L"new"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 2u);
    EXPECT_EQ(files.csvAppends, 1) << "the last line found, not written again";
    EXPECT_EQ(CsvJobIds(files.Bytes(kRecord)).back(), "new");
    EXPECT_LT(files.csvBytesRead, kRecordTailScanBytes + 4096);
}

// The earlier version kept a record file's queue beside it, or in the Log
// folder while the share was away: both are carried over and go.
TEST(CsvRecordSink, TheEarlierQueuesOfARecordFileAreCarriedOver) {
    FakeRecordFiles files;
    FakeClock clock;
    const std::wstring shared = L"\\\\server\\records\\jobs.csv";
    const std::wstring local = OutboxPathIn(L"C:\\QV\\Log", shared);
    EXPECT_EQ(local.substr(0, 19), L"C:\\QV\\Log\\jobs.csv-");
    files.files[OutboxPathBeside(shared)] = OutboxRecordLine(1, Job(L"a"));
    files.files[local] = OutboxRecordLine(1, Job(L"b"));
    auto sink = MakeCsvRecordSink(files, files, clock, shared, kProgram, L"A");
    sink->Submit(Job(L"c"));
    sink->Outbox().DeliverNow();
    std::vector<std::string> ids = CsvJobIds(files.Bytes(shared));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(files.Has(local));
    EXPECT_FALSE(files.Has(OutboxPathBeside(shared)));
}

// The delivery thread: a submitted record goes without being asked, and
// the stop makes one last try.
TEST(RecordOutbox, TheThreadDeliversWhatIsSubmittedAndStops) {
    Outboxed o;
    o.outbox->Start();
    o.outbox->Submit(Job(L"a"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (o.outbox->Waiting() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a"}));
    o.outbox->Stop(kOutboxStopWaitMs);
    o.outbox->Submit(Job(L"b")); // after the end: kept for the next start
    EXPECT_EQ(o.outbox->Waiting(), 1u);
    EXPECT_EQ(o.files.Count(kFolder, L".rec"), 1u);
}

// A record handed over while the thread is busy with another is not left
// to the next retry: it goes as soon as the thread is free.
TEST(RecordOutbox, ARecordHandedOverDuringADeliveryGoesWithoutTheRetryWait) {
    Outboxed o;
    o.destination.failuresLeft = 1; // a file held for a moment
    bool handedOver = false;
    o.destination.duringAttempt = [&] {
        if (handedOver) return;
        handedOver = true;
        o.outbox->Submit(Job(L"b"));
    };
    o.outbox->Start();
    const auto start = std::chrono::steady_clock::now();
    o.outbox->Submit(Job(L"a"));
    const auto deadline = start + 2 * std::chrono::milliseconds(kOutboxRetryMs);
    while (o.outbox->Waiting() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_LT(took, std::chrono::milliseconds(kOutboxRetryMs / 2));
    o.outbox->Stop(kOutboxStopWaitMs);
}

// A record file read back for the import gives every field as it was
// written: texts a spreadsheet would take for formulas, line breaks, quotes,
// other scripts.
TEST(RecordImport, EveryFieldOfALineComesBack) {
    JobRecordFields f = Job(L"0123456789abcdef0123456789abcdef");
    f.startSeconds = 1796732819;
    f.endSeconds = 1796732822;
    f.durationMs = 3179;
    f.computer = L"BENCH\tPC";
    f.mode = L"repair";
    f.deviceKind = 4;
    f.deviceName = L"\x5347\x7EA7 =SUM(A1)";
    f.deviceSerial = L"=cmd|' /c calc'!A1";
    f.imageFile = L"C:\\Images\\update, final.img";
    f.imageSize = UINT32_MAX;
    f.resultCode = -104;
    f.verdictText = L"Line one.\r\n\r\nLine \"two\".";
    f.deviceSoftwareAfter = L"-1.2";
    const RecordFileContents read =
        ReadRecordFileForImport(RecordStart() + JobRecordLine(f) + JobRecordLine(Job(L"b")));
    ASSERT_FALSE(read.notARecord);
    ASSERT_EQ(read.lines.size(), 2u);
    EXPECT_EQ(read.lines[0].line, 2u);
    EXPECT_EQ(read.lines[0].problem, ImportLine::Problem::None);
    EXPECT_EQ(JobRecordLine(read.lines[0].fields), JobRecordLine(f));
    EXPECT_EQ(read.lines[0].fields.deviceSerial, f.deviceSerial);
    EXPECT_EQ(read.lines[0].fields.durationMs, f.durationMs);
    EXPECT_EQ(read.lines[1].line, 3u);
}

// The earliest layout has no job_id: a line gets one from its content, the
// same whether its header got the job_id column since or not.
TEST(RecordImport, ALineWithoutAJobIdGetsTheSameOneAtEveryImport) {
    const std::string early = FirstColumns(JobRecordLine(Job(L"")), kColJobId);
    const RecordFileContents before = ReadRecordFileForImport(EarlierRecordStart() + early);
    const RecordFileContents after = ReadRecordFileForImport(RecordStart() + early);
    const RecordFileContents written =
        ReadRecordFileForImport(RecordStart() + JobRecordLine(Job(L"")));
    ASSERT_EQ(before.lines.size(), 1u);
    ASSERT_EQ(after.lines.size(), 1u);
    const std::wstring id = before.lines[0].fields.jobId;
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << id.size();
    EXPECT_EQ(after.lines[0].fields.jobId, id);
    EXPECT_EQ(written.lines[0].fields.jobId, id);
    JobRecordFields other = Job(L"");
    other.deviceSerial = L"SN-other";
    EXPECT_NE(ReadRecordFileForImport(RecordStart() + JobRecordLine(other)).lines[0].fields.jobId,
              id);
}

// Columns are found by their names, in any order and with names of the
// user's own among them; a server away stops the import, and counts what it
// did not send.
TEST(RecordImport, ColumnsAreReadByNameAndAServerAwayStopsTheImport) {
    const RecordFileContents read = ReadRecordFileForImport(
        "note,result_code,device_serial,end\r\nmine,-9,A1,2026-12-08T13:28:51Z\r\n"
        "x,0,A2,2026-12-08T13:28:52Z,extra\r\nx,0,A3,2026-12-08T13:28:53Z");
    ASSERT_EQ(read.lines.size(), 3u);
    EXPECT_EQ(read.lines[0].fields.resultCode, -9);
    EXPECT_EQ(read.lines[0].fields.deviceSerial, L"A1");
    EXPECT_EQ(read.lines[0].fields.endSeconds, 1796736531);
    EXPECT_EQ(read.lines[1].problem, ImportLine::Problem::TooManyFields);
    EXPECT_EQ(read.lines[2].fields.deviceSerial, L"A3") << "a last line without its break";
    EXPECT_TRUE(ReadRecordFileForImport("name,price\r\nbread,2\r\n").notARecord);

    FakeDestination database;
    database.failuresLeft = 1;
    const ImportTally away = ImportRecordLines(read.lines, database);
    EXPECT_EQ(away.sent, 0u);
    EXPECT_EQ(away.notSent, 2u);
    EXPECT_EQ(away.notSentReason, database.failure);
    EXPECT_EQ(database.attempts, 1) << "not one log-in per line";
    database.refused.insert(read.lines[2].fields.jobId);
    database.notice = L"the table has no column operator";
    const ImportTally back = ImportRecordLines(read.lines, database);
    EXPECT_EQ(back.sent, 1u);
    EXPECT_EQ(back.notice, L"the table has no column operator");
    ASSERT_EQ(back.refused.size(), 1u);
    EXPECT_EQ(back.refused[0].first, 4u);
}

} // namespace
