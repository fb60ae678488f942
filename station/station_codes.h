// The station's exit codes. A job's own result code (0 for success, -1 to -17
// for the failures the window reports) is the exit code of a one-job run;
// everything else that ends the station has a code of its own, outside that
// range.
#pragma once

namespace station_exit {
constexpr int kSuccess = 0;
constexpr int kSettingsUnavailable = 1; // as the window: setting.ini cannot be opened
constexpr int kBadArguments = 2;
constexpr int kLibraryMissing = 3; // QVAndroidDLL.dll or one of its exports
constexpr int kAnotherCopy = 4;    // the window or another station runs
constexpr int kImageRefused = 5;   // the image failed its inspection
constexpr int kJobRefused = 6;     // the checks before a job refused it
constexpr int kNoDevice = 7;       // no device within --wait seconds
constexpr int kStopped = 8;        // Ctrl+C before any job ran (one-job run)
constexpr int kSomeJobsFailed = 9; // station loop: at least one job did not succeed
// One job: written, but the device came back with other software than the
// image's.
constexpr int kWrittenNotVerified = 10;
// Two or more devices stayed connected until the wait ran out (a one-job
// run, or a loop that did no device).
constexpr int kSeveralStayed = 11;
// The run was ended (Ctrl+C) while a library call of its job had not
// returned long past its limit.
constexpr int kStepNotReturned = 12;
// --records, --resend-refused: records still wait or were refused for good.
constexpr int kRecordsWaiting = 13;
// --import-records: the file could not be read, no database is named, or
// lines were refused or not sent; an import run again sends what is missing.
constexpr int kImportIncomplete = 14;
} // namespace station_exit
