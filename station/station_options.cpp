#include "station/station_options.h"

#include "records/job_database.h"

namespace {

// Seven digits: more than a wait or a count can mean, less than overflows.
constexpr size_t kMaxDigits = 7;

bool ParseSeconds(const std::wstring &text, unsigned &seconds) {
    if (text.empty() || text.size() > kMaxDigits) return false;
    unsigned value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    seconds = value;
    return true;
}

// The arguments' own reading; ParseStationArguments masks what it says.
bool ParseArguments(const std::vector<std::wstring> &arguments, StationOptions &options,
                    std::wstring &error) {
    options = StationOptions();
    bool loop = false;
    bool jobGiven = false;
    // Help: no records command given.
    StationOptions::Run records = StationOptions::Run::Help;
    bool waitGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring &argument = arguments[i];
        // The options that take a value take the next argument.
        auto value = [&](std::wstring &out) {
            if (i + 1 >= arguments.size()) {
                error = argument + L" needs a value";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
            options.run = StationOptions::Run::Help;
            return true;
        } else if (argument == L"--upgrade" || argument == L"--repair") {
            if (jobGiven) {
                error = L"give one of --upgrade and --repair, once";
                return false;
            }
            jobGiven = true;
            options.mode = argument == L"--upgrade" ? 0 : 1;
            if (!value(options.image)) return false;
            if (options.image.empty()) {
                error = argument + L" needs an image file";
                return false;
            }
        } else if (argument == L"--station") {
            loop = true;
        } else if (argument == L"--records" || argument == L"--resend-refused") {
            records = argument == L"--records" ? StationOptions::Run::Records
                                               : StationOptions::Run::ResendRefused;
        } else if (argument == L"--import-records") {
            records = StationOptions::Run::ImportRecords;
            if (!value(options.importFile)) return false;
            if (options.importFile.empty()) {
                error = argument + L" needs a record file";
                return false;
            }
        } else if (argument == L"--wait") {
            std::wstring text;
            if (!value(text)) return false;
            if (!ParseSeconds(text, options.waitSeconds)) {
                error = L"--wait takes whole seconds, not " + text;
                return false;
            }
            waitGiven = true;
        } else if (argument == L"--yes-loader") {
            options.yesLoader = true;
        } else if (argument == L"--yes-continue") {
            options.yesContinue = true;
        } else if (argument == L"--yes-anyway") {
            options.yesAnyway = true;
        } else if (argument == L"--json") {
            options.json = true;
        } else if (argument == L"--beep") {
            options.beep = true;
        } else if (argument == L"--count") {
            std::wstring text;
            if (!value(text)) return false;
            unsigned count = 0;
            if (!ParseSeconds(text, count) || count == 0) {
                error = L"--count takes a number of devices from 1, not " + text;
                return false;
            }
            options.count = static_cast<int>(count);
            // A count of devices only makes sense device after device.
            loop = true;
        } else if (argument == L"--skip-done") {
            options.skipDone = true;
        } else if (argument == L"--record") {
            if (!value(options.record)) return false;
            options.recordGiven = true;
        } else if (argument == L"--database") {
            if (!value(options.database)) return false;
            options.databaseGiven = true;
        } else if (argument == L"--operator") {
            if (!value(options.operatorName)) return false;
            options.operatorGiven = true;
        } else {
            error = L"unknown argument " + argument;
            return false;
        }
    }
    if (records != StationOptions::Run::Help) {
        // No device is touched: a job or the station's loop makes no sense.
        if (jobGiven || loop) {
            error = L"--records, --resend-refused and --import-records run without a job";
            return false;
        }
        options.run = records;
        return true;
    }
    if (!jobGiven) {
        error = L"give --upgrade IMAGE or --repair IMAGE";
        return false;
    }
    options.run = loop ? StationOptions::Run::Loop : StationOptions::Run::OneJob;
    if (loop && !waitGiven) options.waitSeconds = 0;
    return true;
}

} // namespace

bool ParseStationArguments(const std::vector<std::wstring> &arguments, StationOptions &options,
                           std::wstring &error) {
    if (ParseArguments(arguments, options, error)) return true;
    // An error quotes an argument back, and a connection string may sit in
    // any of them (given to the wrong flag, glued to its own with "="): each
    // is taken for one, so that its password never reaches the screen or a
    // captured log.
    for (const std::wstring &argument : arguments)
        error = MaskSecrets(error, argument);
    return false;
}

std::wstring StationDatabaseConnection(const StationOptions &options,
                                       const std::wstring &jobDatabaseSetting) {
    return options.databaseGiven ? options.database : jobDatabaseSetting;
}

std::wstring StationOperator(const StationOptions &options, const std::wstring &operatorSetting) {
    return options.operatorGiven ? options.operatorName : operatorSetting;
}

std::wstring StationUsage() {
    return L"qvstation: upgrade or repair QV70 devices without the window.\n"
           L"\n"
           L"  qvstation --upgrade IMAGE [options]   one device, then end\n"
           L"  qvstation --repair IMAGE [options]\n"
           L"  qvstation --station --upgrade IMAGE [options]\n"
           L"                                        device after device until Ctrl+C\n"
           L"\n"
           L"  --wait SECONDS   wait this long for a device (one job: 60; station: for ever;\n"
           L"                   0: for ever)\n"
           L"  --yes-loader     say Yes when the image's loader is older than the device's\n"
           L"  --yes-continue   say Yes to the device library's question of kind 1\n"
           L"  --yes-anyway     say Yes to the device library's question of kind 2\n"
           L"                   (without these flags every question is answered No)\n"
           L"  --count N        end the station loop once N devices have passed\n"
           L"  --beep           sound each verdict: one tone for a pass, another for a failure\n"
           L"  --json           one JSON object per job instead of the lines\n"
           L"  --skip-done      leave a device alone whose serial number already has a\n"
           L"                   verified pass of this image (the same SHA-256) in the\n"
           L"                   job record file; its line says ALREADY_DONE (-103)\n"
           L"  --record FILE    append the job record to FILE instead of the file that\n"
           L"                   [SYSTEM] JOB_RECORD in setting.ini names\n"
           L"  --database CONN  write every job's record to the fleet database that the\n"
           L"                   ODBC connection string CONN names, instead of the one\n"
           L"                   [SYSTEM] JOB_DATABASE names (\"\": none)\n"
           L"  --operator NAME  name who runs the station in every job's record, in place\n"
           L"                   of [SYSTEM] OPERATOR\n"
           L"  --records        list the job records that wait to be written and those\n"
           L"                   refused for good, then end\n"
           L"  --resend-refused send the refused records again (once their cause is\n"
           L"                   mended), list what is left, then end\n"
           L"  --import-records FILE\n"
           L"                   send every line of the record file FILE to the fleet\n"
           L"                   database (each line once), then end\n"
           L"  --help           this text\n"
           L"\n"
           L"Exit codes: the job's result code in a one-job run (0 success, -1 to -17 the\n"
           L"window's failure verdicts); 1 setting.ini unreadable, 2 bad arguments,\n"
           L"3 device library missing, 4 another copy runs, 5 image refused, 6 job refused\n"
           L"by its checks, 7 no device in time, 8 stopped by Ctrl+C before a job,\n"
           L"9 station loop with at least one failed job (a pass not verified counts as\n"
           L"failed), 10 one job written but not verified (the device came back with other\n"
           L"software than the image's; [SYSTEM] VERIFY_VERSION=0 in setting.ini turns the\n"
           L"check off), 11 more than one device stayed connected for the whole wait,\n"
           L"13 records still wait or were refused (--records, --resend-refused), 14 lines\n"
           L"not imported (--import-records).\n";
}
