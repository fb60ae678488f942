// A program that keeps job records and is then killed: it hands COUNT
// records to the CSV sink of RECORD (whose file the test holds open, so
// they wait in the outbox), says so by making RECORD.kept, and waits to be
// ended from outside.
//   record_outbox_child RECORD COUNT
#include <windows.h>

#include <cstdlib>
#include <string>

#include "device/record_files_win.h"
#include "tests/fakes/record_fakes.h"

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) return 2;
    const std::wstring record = argv[1];
    const int count = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    RecordFilesWin files;
    fakes::FixedDateClock clock;
    auto sink = MakeCsvRecordSink(files, files, clock, record, record + L".local");
    for (int i = 1; i <= count; ++i) {
        JobRecordFields fields;
        fields.jobId = L"job-" + std::to_wstring(i);
        fields.deviceSerial = L"SN" + std::to_wstring(i);
        sink->Submit(fields);
    }
    sink->Outbox().DeliverNow();
    HANDLE kept = CreateFileW((record + L".kept").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    if (kept != INVALID_HANDLE_VALUE) CloseHandle(kept);
    for (;;)
        Sleep(INFINITE);
}
