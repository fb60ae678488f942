// Not a test: how fast a backlog of waiting records reaches the fleet
// database, and what the database costs the process in memory.
//
//   database_bench_win "CONNECTION STRING" [ROWS]
//
// Sends ROWS (1000 by default) records one after another through one
// destination, as a delivery thread empties its outbox after the server came
// back, and prints the rows per second, the first row's time (connection,
// table check, first insert) and the working set before and after. The
// records spread over three stations, two weeks, a handful of images and
// results, so that the queries of docs/fleet.md have something to show.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "records/job_database_win.h"

namespace {

constexpr int kDefaultRows = 1000;
constexpr int kStations = 3;
constexpr int64_t kFirstStart = 1796083200; // 2026-12-01T00:00:00Z
constexpr int64_t kSecondsPerDay = 86400;

double WorkingSetMb() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

JobRecordFields Record(int n, uint32_t seed) {
    static const wchar_t *const kImages[] = {L"C:\\images\\QV70-1.2.3.img",
                                             L"C:\\images\\QV70-1.2.4.img",
                                             L"C:\\images\\QV70-2.0.0.img"};
    static const wchar_t *const kSoftware[] = {L"1.2.3", L"1.2.4", L"2.0.0"};
    static const int32_t kResults[] = {0, 0, 0, 0, 0, 0, 0, 0, -9, -3, -6, 0};
    JobRecordFields f;
    wchar_t id[40];
    swprintf(id, 40, L"%08x%024x", seed, n);
    f.jobId = id;
    const int image = n % 3;
    f.startSeconds = kFirstStart + (n % 14) * kSecondsPerDay + 8 * 3600 + n * 17 % 30000;
    f.durationMs = 60000 + static_cast<uint64_t>(n * 7919 % 120000);
    f.endSeconds = f.startSeconds + static_cast<int64_t>(f.durationMs / 1000);
    f.computer = L"STATION-" + std::to_wstring(n % kStations + 1);
    f.programVersion = L"1.2.0.3";
    f.mode = n % 10 == 0 ? L"repair" : L"upgrade";
    f.deviceKind = 4;
    f.deviceName = L"QV70 Storage Device";
    f.deviceSerial = L"A" + std::to_wstring(10000 + n);
    f.deviceSoftwareBefore = L"1.0.0";
    f.deviceLoaderBefore = L"1.41";
    f.imageFile = kImages[image];
    f.imageSoftware = kSoftware[image];
    f.imageLoader = L"2.05";
    f.imageSize = 734003200u + static_cast<uint32_t>(image);
    f.imageSha256 = std::wstring(63, L'0') + std::to_wstring(image);
    f.resultCode = kResults[n % 12];
    f.verdictKey = f.resultCode == 0 ? L"IDS_21" : L"IDS_118";
    f.verdictText = f.resultCode == 0 ? L"The upgrade has finished." : L"The job failed.";
    f.deviceSoftwareAfter = f.resultCode == 0 ? kSoftware[image] : L"";
    return f;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: database_bench_win \"CONNECTION STRING\" [ROWS]\n");
        return 2;
    }
    const int rows = argc > 2 ? _wtoi(argv[2]) : kDefaultRows;
    const uint32_t seed = GetTickCount() ^ GetCurrentProcessId();
    const double before = WorkingSetMb();

    // One destination per station, as each station has its own.
    std::unique_ptr<DatabaseRecordDestination> stations[kStations];
    for (int s = 0; s < kStations; ++s)
        stations[s] = MakeDatabaseDestination(argv[1], L"STATION-" + std::to_wstring(s + 1));

    LARGE_INTEGER frequency, start, firstDone, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    firstDone = start;
    int failed = 0;
    for (int n = 0; n < rows; ++n) {
        std::wstring error;
        if (stations[n % kStations]->Deliver(Record(n, seed), error) == DeliveryOutcome::Failed) {
            if (failed++ == 0) std::fwprintf(stderr, L"%ls\n", error.c_str());
        }
        if (n == (rows < kStations ? rows : kStations) - 1) QueryPerformanceCounter(&firstDone);
    }
    QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
    const double firstMs = 1000.0 * static_cast<double>(firstDone.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
    const int connected = rows < kStations ? rows : kStations;
    const double rest = static_cast<double>(end.QuadPart - firstDone.QuadPart) /
                        static_cast<double>(frequency.QuadPart);
    const double steady = rows > kStations && rest > 0 ? (rows - kStations) / rest : 0.0;
    std::wprintf(L"rows: %d sent, %d failed, in %.3f s: %.0f rows/s overall, %.0f rows/s once "
                 L"connected\n",
                 rows - failed, failed, seconds, static_cast<double>(rows) / seconds, steady);
    std::wprintf(L"first row of each of %d stations (connect, table check, insert): %.1f ms\n",
                 connected, firstMs);
    std::wprintf(L"working set: %.1f MB before, %.1f MB with %d connections\n", before,
                 WorkingSetMb(), connected);
    return failed == 0 ? 0 : 1;
}
