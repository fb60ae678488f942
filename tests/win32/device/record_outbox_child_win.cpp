// A program that keeps job records and is then killed: it hands COUNT
// records to the CSV sink of RECORD, its queue under PROGRAM_FOLDER, and
// after each one that is kept appends its id to PROGRAM_FOLDER\kept.txt.
// With "deliver" it also delivers after each, as a second station on the
// same queue would. Then it makes RECORD.kept and waits to be ended from
// outside.
//   record_outbox_child PROGRAM_FOLDER RECORD COUNT [deliver]
#include <windows.h>

#include <cstdlib>
#include <string>

#include "records/queue_files_win.h"
#include "records/record_files_win.h"
#include "tests/fakes/record_fakes.h"

int wmain(int argc, wchar_t **argv) {
    if (argc != 4 && argc != 5) return 2;
    // Without its last backslash, which would escape the closing quote.
    const std::wstring program = std::wstring(argv[1]) + L"\\";
    const std::wstring record = argv[2];
    const int count = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    const bool deliver = argc == 5 && std::wstring(argv[4]) == L"deliver";
    RecordFilesWin files;
    QueueFilesWin queue;
    fakes::FixedDateClock clock;
    auto sink = MakeCsvRecordSink(files, queue, clock, record, program, NewQueueOwner());
    HANDLE kept = CreateFileW((program + L"kept.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
    for (int i = 1; i <= count; ++i) {
        JobRecordFields fields;
        fields.jobId = L"job-" + std::to_wstring(i);
        fields.deviceSerial = L"SN" + std::to_wstring(i);
        sink->Submit(fields);
        const std::string line = "job-" + std::to_string(i) + "\n";
        DWORD written = 0;
        WriteFile(kept, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        if (deliver) sink->Outbox().DeliverNow();
    }
    sink->Outbox().DeliverNow();
    HANDLE done = CreateFileW((record + L".kept").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    if (done != INVALID_HANDLE_VALUE) CloseHandle(done);
    for (;;)
        Sleep(INFINITE);
}
