// The outbox of a record destination and the CSV file behind it: every
// field kept exactly, records delivered in order and once (a retry after an
// unknown outcome included), what waits kept across a restart, a damaged
// queue set aside without stopping anything.
#include "device/record_outbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "device/csv_record_sink.h"
#include "tests/fakes/ini_profile_fake.h"
#include "tests/fakes/record_fakes.h"

namespace {

using fakes::CsvJobIds;
using fakes::FakeDestination;
using fakes::FakeRecordFiles;
using fakes::ParseCsv;

const std::wstring kQueue = L"C:\\QV\\Log\\jobs.csv.outbox";
const std::wstring kRecord = L"C:\\QV\\Log\\jobs.csv";

JobRecordFields Job(const std::wstring &id) {
    JobRecordFields f;
    f.jobId = id;
    f.deviceSerial = L"SN-" + id;
    return f;
}

struct Outboxed {
    FakeRecordFiles files;
    FakeDestination destination;
    FakeClock clock;
    std::vector<std::wstring> errors;
    std::vector<std::wstring> waitingIds;
    std::vector<size_t> counts;
    // The callbacks come from the caller's thread and the delivery thread.
    std::mutex guard;
    std::unique_ptr<RecordOutbox> outbox;

    Outboxed() { Restart(); }
    // A new run of the program over the same files.
    void Restart() {
        outbox = std::make_unique<RecordOutbox>(files, kQueue, destination, clock);
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
}

TEST(RecordOutbox, KeptOnDiskBeforeSubmitReturnsAndDeliveredInOrderOnce) {
    Outboxed o;
    o.destination.failing = true;
    for (const wchar_t *id : {L"a", L"b", L"c"})
        o.outbox->Submit(Job(id));
    EXPECT_EQ(o.files.durableAppends, 3);
    EXPECT_EQ(ReadOutboxContents(o.files.Bytes(kQueue)).waiting.size(), 3u);
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
    EXPECT_FALSE(o.files.Has(kQueue)) << "an empty queue leaves no file";
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

// The program stopped between the destination's write and the strike: the
// record is offered again and the destination already holds it.
TEST(RecordOutbox, ARetryAfterAnUnknownOutcomeNeverDoubles) {
    Outboxed o;
    o.outbox->Submit(Job(L"a"));
    const std::string beforeStrike = o.files.Bytes(kQueue);
    o.outbox->DeliverNow();
    o.files.files[kQueue] = beforeStrike; // as the crash left it
    o.Restart();
    EXPECT_EQ(o.outbox->DeliverNow(), 1u);
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a"}));
    EXPECT_FALSE(o.files.Has(kQueue));
}

TEST(CsvRecordSink, ALineWrittenButReportedFailedIsNotWrittenAgain) {
    FakeRecordFiles files;
    FakeClock clock;
    CsvRecordSink sink(files, files, clock, kRecord, OutboxPathBeside(kRecord));
    files.failAfterNextWrite = true;
    sink.Submit(Job(L"a"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 0u);
    sink.Submit(Job(L"b"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 2u);
    EXPECT_EQ(CsvJobIds(files.Bytes(kRecord)), (std::vector<std::string>{"a", "b"}));
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
    std::string oldLine = JobRecordLine(old); // a line written before the job_id column
    oldLine.erase(oldLine.rfind(','), 1);
    const std::string bytes = "\xEF\xBB\xBF" + JobRecordHeaderLine() + JobRecordLine(Job(L"id-1")) +
                              oldLine + JobRecordLine(two);
    std::set<std::wstring> ids;
    EXPECT_EQ(ScanRecordJobIds(bytes, ids), bytes.size());
    EXPECT_EQ(ids, (std::set<std::wstring>{L"id-1", L"id-2"}));

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
        CsvRecordSink sink(files, files, clock, kRecord, OutboxPathBeside(kRecord));
        sink.Submit(Job(L"b"));
        EXPECT_EQ(sink.Outbox().DeliverNow(), 1u);
        const auto records = ParseCsv(files.Bytes(kRecord));
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records[records.size() - 2], c.lastFields);
        EXPECT_EQ(records.back(), ParseCsv(JobRecordLine(Job(L"b")))[0]);

        // The next run offers the same record again (its strike was lost).
        CsvRecordSink next(files, files, clock, kRecord, OutboxPathBeside(kRecord));
        next.Submit(Job(L"b"));
        EXPECT_EQ(next.Outbox().DeliverNow(), 1u);
        EXPECT_EQ(files.csvAppends, 1) << "found, not written twice";
    }
}

// A file begun before the job_id column: its header gets the name, its lines
// keep every byte, and a header of anyone else's making is left alone.
TEST(CsvRecordSink, AFileOfTheEarlierLayoutGetsTheJobIdHeading) {
    std::string earlierHeader = JobRecordHeaderLine();
    earlierHeader.erase(earlierHeader.find(",job_id"), std::strlen(",job_id"));
    JobRecordFields earlier = Job(L"");
    earlier.verdictText = L"Not \"written\"";
    earlier.deviceSoftwareAfter = L"1.2"; // the quotation ends close to the line's end
    std::string earlierLine = JobRecordLine(earlier);
    earlierLine.erase(earlierLine.rfind(','), 1);
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
        CsvRecordSink sink(files, files, clock, kRecord, OutboxPathBeside(kRecord));
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
    CsvRecordSink sink(files, files, clock, kRecord, OutboxPathBeside(kRecord));
    sink.Submit(Job(L"b"));
    EXPECT_EQ(sink.Outbox().DeliverNow(), 0u);
    EXPECT_EQ(files.Bytes(kRecord), bom + earlierHeader + lines);
    files.held = false;
    files.failAfterNextWrite = true;
    EXPECT_EQ(sink.Outbox().DeliverNow(), 0u);
    EXPECT_EQ(sink.Outbox().DeliverNow(), 1u);
    EXPECT_EQ(files.Bytes(kRecord), bom + JobRecordHeaderLine() + lines + b);
}

TEST(RecordOutbox, ADamagedQueueIsSetAsideAndTheRestDelivered) {
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
        o.files.files[kQueue] = c.bytes;
        o.outbox->DeliverNow();
        EXPECT_EQ(o.destination.HeldIds(), c.delivered);
        const bool damaged = std::string(c.name) != "a line end only";
        ASSERT_EQ(o.errors.size(), damaged ? 1u : 0u);
        if (!damaged) continue;
        EXPECT_NE(o.errors[0].find(L"set aside in " + kQueue + L".damaged-"), std::wstring::npos);
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

TEST(RecordOutbox, AQueueThatCannotBeWrittenIsReportedAndStillDelivers) {
    Outboxed o;
    o.files.queueRefused = true;
    o.outbox->Submit(Job(L"a"));
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0], kQueue + L": access denied");
    o.outbox->DeliverNow();
    EXPECT_EQ(o.destination.HeldIds(), (std::vector<std::wstring>{L"a"}));
}

// The record's folder could not hold the queue at one start (a share away);
// at the next, the queue kept locally goes first and is removed.
TEST(CsvRecordSink, AQueueKeptLocallyIsTakenInWhenTheRecordsFolderIsBack) {
    FakeRecordFiles files;
    FakeClock clock;
    const std::wstring shared = L"\\\\server\\records\\jobs.csv";
    const std::wstring local = OutboxPathIn(L"C:\\QV\\Log", shared);
    EXPECT_EQ(local.substr(0, 19), L"C:\\QV\\Log\\jobs.csv-");
    files.unusable.insert(L"\\\\server\\");
    files.held = true;
    auto away = MakeCsvRecordSink(files, files, clock, shared, L"C:\\QV\\Log");
    away->Submit(Job(L"a"));
    away->Outbox().DeliverNow();
    EXPECT_EQ(away->Outbox().Path(), local);
    away.reset();

    files.unusable.clear();
    files.held = false;
    auto back = MakeCsvRecordSink(files, files, clock, shared, L"C:\\QV\\Log");
    EXPECT_EQ(back->Outbox().Path(), OutboxPathBeside(shared));
    back->Submit(Job(L"b"));
    back->Outbox().DeliverNow();
    EXPECT_EQ(CsvJobIds(files.Bytes(shared)), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(files.Has(local));
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
    EXPECT_TRUE(o.files.Has(kQueue));
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

} // namespace
