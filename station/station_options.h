// The station's command line.
#pragma once

#include <string>
#include <vector>

struct StationOptions {
    // Records: list what waits in the records' queue and what was refused;
    // ResendRefused: the refused records back in line, delivered now;
    // ImportRecords: a record file's lines sent to the fleet database.
    enum class Run { Help, OneJob, Loop, Records, ResendRefused, ImportRecords };
    Run run = Run::OneJob;
    int mode = 0; // 0 upgrade, 1 repair
    std::wstring image;
    // Seconds to wait for a device; 0 waits for ever. A one-job run waits 60
    // seconds unless told otherwise, the station loop for ever.
    unsigned waitSeconds = 60;
    bool yesLoader = false;   // question kind 0 and the loader question before a job
    bool yesContinue = false; // kind 1
    bool yesAnyway = false;   // kind 2
    bool json = false;
    // --count N: the loop ends once N devices have passed; 0 never.
    int count = 0;
    // --beep: a sound for each verdict, one for a pass, another for a failure.
    bool beep = false;
    // A device whose serial number has a verified pass of the same image in
    // the record file is not written again.
    bool skipDone = false;
    bool recordGiven = false;
    std::wstring record; // --record FILE
    // --database CONN: an ODBC connection string in place of [SYSTEM]
    // JOB_DATABASE; an empty one turns the database off for this run.
    bool databaseGiven = false;
    std::wstring database;
    // --operator NAME: who runs the station, in place of [SYSTEM] OPERATOR.
    bool operatorGiven = false;
    std::wstring operatorName;
    std::wstring importFile; // --import-records FILE
};

// The operator of this run's records: --operator when it was given, else the
// setting (already read); empty: none named.
std::wstring StationOperator(const StationOptions &options, const std::wstring &operatorSetting);

// The fleet database's connection string for this run: --database when it
// was given, else the setting (already read); empty: no database.
std::wstring StationDatabaseConnection(const StationOptions &options,
                                       const std::wstring &jobDatabaseSetting);

inline constexpr unsigned kDefaultWaitSeconds = 60;

// False with a one-line reason (English: no language is chosen yet) when
// the arguments make no run.
bool ParseStationArguments(const std::vector<std::wstring> &arguments, StationOptions &options,
                           std::wstring &error);

// What --help prints.
std::wstring StationUsage();
