// Figures of the job records' queue on the real file system:
//   - the hand-over of one record (kept on the disk before Submit returns);
//   - lines per second appended to the CSV from a queue of waiting records
//     (the file was held by a spreadsheet while they came);
//   - the time a job's verdict waits for the record, kept at the verdict,
//     while the file is held;
//   - the first delivery of a run into a record file of 100,000 lines, and
//     the memory it takes (goal: under 50 ms, not growing with the file).
// Usage: record_outbox_bench [lines]
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "records/job_record.h"
#include "records/queue_files_win.h"
#include "records/record_files_win.h"
#include "tests/fakes/record_fakes.h"

namespace {

using Clock = std::chrono::steady_clock;

// Nothing to hash: the bench measures the record, not the image.

JobRecordFields Fields(int job) {
    JobRecordFields f;
    wchar_t id[40];
    std::swprintf(id, 40, L"%032x", job);
    f.jobId = id;
    f.computer = L"BENCH-PC";
    f.programVersion = L"1.2.0.3";
    f.mode = L"upgrade";
    f.deviceKind = 4;
    f.deviceName = L"QV70 Storage Device";
    f.deviceSerial = L"A" + std::to_wstring(job);
    f.deviceSoftwareBefore = L"1.0.0";
    f.deviceLoaderBefore = L"2.05";
    f.imageFile = L"C:\\QV70\\QV70-sample.img";
    f.imageSoftware = L"1.2.3";
    f.imageLoader = L"2.05";
    f.imageSize = 266320;
    f.imageSha256 = std::wstring(64, L'a');
    f.verdictKey = L"IDS_21";
    f.verdictText = L"The upgrade has finished and the device is restarting. Wait until this "
                    L"window shows the device again before you disconnect it.";
    return f;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::wstring TempProgramFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"qv_outbox_bench_" + std::to_wstring(GetCurrentProcessId()) +
           L"\\";
}

double WorkingSetMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize / (1024.0 * 1024.0);
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    const int lines = argc > 1 ? std::max(1, _wtoi(argv[1])) : 1000;
    const std::wstring program = TempProgramFolder();
    const std::wstring record = program + L"jobs.csv";
    RecordFilesWin files;
    QueueFilesWin queue;
    fakes::FixedDateClock clock;
    std::wstring error;
    MakeParentFolders(record, error);
    files.Append(record, JobRecordHeaderLine(), JobRecordLine(Fields(0)), error);

    // A spreadsheet holds the file while the jobs come.
    HANDLE hold = CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<double> submits;
    {
        auto sink = MakeCsvRecordSink(files, queue, clock, record, program, L"first");
        for (int job = 1; job <= lines; ++job) {
            const auto start = Clock::now();
            sink->Submit(Fields(job));
            submits.push_back(Ms(Clock::now() - start));
        }
        sink->Outbox().DeliverNow(); // refused: the file is held
    }
    CloseHandle(hold);
    std::sort(submits.begin(), submits.end());
    std::printf("hand-over of one record (on the disk before it returns): median %.3f ms, "
                "95th %.3f ms, max %.3f ms\n",
                submits[submits.size() / 2], submits[submits.size() * 95 / 100], submits.back());

    // The next start: every waiting line appended in order.
    auto next = MakeCsvRecordSink(files, queue, clock, record, program, L"next");
    const auto start = Clock::now();
    const size_t delivered = next->Outbox().DeliverNow();
    const double ms = Ms(Clock::now() - start);
    std::printf("%zu waiting lines appended in %.1f ms: %.0f lines per second\n", delivered, ms,
                delivered * 1000.0 / ms);

    // The verdict: the job ends while the file is held again.
    hold = CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    JobRecorder recorder(clock);
    recorder.AddSink(*next);
    next->Outbox().Start();
    double worstFinish = 0;
    double worstWrite = 0;
    constexpr int kJobs = 20;
    for (int job = 0; job < kJobs; ++job) {
        const JobRecordFields fields = Fields(lines + 1 + job);
        JobStartedFacts started;
        started.jobId = fields.jobId;
        started.device.serial = fields.deviceSerial;
        started.image.path = fields.imageFile;
        recorder.OnJobStarted(started);
        recorder.OnImageHashed(fields.jobId, std::wstring(64, L'a'));
        const auto verdict = Clock::now();
        recorder.OnJobEnded(
            JobEndedFacts{fields.jobId, 0, L"IDS_21", L"The upgrade has finished.", L""});
        worstFinish = std::max(worstFinish, Ms(Clock::now() - verdict));
        const auto write = Clock::now();
        recorder.Flush(); // beside the verdict: the window's writer thread
        worstWrite = std::max(worstWrite, Ms(Clock::now() - write));
    }
    std::printf("the verdict waits for the record: at most %.3f ms over %d jobs (goal: none); "
                "the writer beside it: at most %.3f ms, the file held throughout\n",
                worstFinish, kJobs, worstWrite);
    CloseHandle(hold);
    next->Outbox().Stop(kOutboxStopWaitMs);
    std::printf("after the file was let go: %zu line(s) wait\n", next->Waiting());
    next.reset();

    // A record file of years: 100,000 lines, then a new run's first line.
    constexpr int kLongFile = 100000;
    const std::wstring longRecord = program + L"long.csv";
    {
        std::string bytes = JobRecordHeaderLine();
        for (int job = 1; job <= kLongFile; ++job)
            bytes += JobRecordLine(Fields(job));
        files.Append(longRecord, JobRecordHeaderLine(), bytes, error);
    }
    const double before = WorkingSetMiB();
    auto longSink = MakeCsvRecordSink(files, queue, clock, longRecord, program, L"long");
    longSink->Submit(Fields(kLongFile + 1));
    const auto first = Clock::now();
    longSink->Outbox().DeliverNow();
    std::printf("first delivery into a file of %d lines: %.1f ms (goal: under 50 ms), working set "
                "%+.1f MiB\n",
                kLongFile, Ms(Clock::now() - first), WorkingSetMiB() - before);
    longSink.reset();
    DeleteFileW(longRecord.c_str());
    DeleteFileW(record.c_str());
    return 0;
}
