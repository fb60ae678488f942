// The process's last line: an exception nobody handles, on any thread,
// leaves a minidump and a short text in the Log folder of the program folder
// and one box naming them, instead of a silent end or the system's own
// crash dialog. Usable by the window program and by a console program alike.
//
// Everything the report needs is made ready when the handler is installed:
// the debug help library is loaded, the folder path and the box's caption
// are copied into fixed buffers, and a reporter thread with a stack of its
// own waits. After a fault nothing allocates and nothing looks up a language
// text before the dump is on disk, so a corrupt heap or an exhausted stack
// still gets its report.
#pragma once

struct CrashHandlerSetup {
    // The folder the program runs from, ending in a backslash; the report
    // goes into its "Log" folder, which is made when missing.
    const wchar_t *programFolder = L"";
    // The box's caption.
    const wchar_t *caption = L"";
    // The program file's name and its version, for the text.
    const char *program = "";
    const char *version = "";
    // A console program may leave the box out and give the text on its
    // standard error instead.
    bool showBox = true;
    bool textToStandardError = false;
};

// Environment variable: "1" leaves the box out (unattended runs and tests);
// the report is written all the same.
inline constexpr const wchar_t *kCrashNoBoxVariable = L"QV_CRASH_NO_BOX";

// Installs the handler for the whole process; call it once, early, on the
// start-up thread. False when the debug help library or the reporter thread
// is not available: the handler is then installed all the same and writes
// the text without a dump.
bool InstallCrashHandler(const CrashHandlerSetup &setup);
