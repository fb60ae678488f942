// Runs the uninstaller as a user would, with its window: Next through the
// welcome page, Uninstall, the given answer to the question whether to
// remove the settings and logs, then on to Finish.
//
//   uninstall_answer.exe UNINSTALLER PROGRAM_FOLDER yes|no
//
// The uninstaller runs in place (_?=PROGRAM_FOLDER), so that this process
// sees its windows; it therefore leaves itself behind. Exit code 0 when the
// question came, was answered and the uninstaller ended with exit code 0.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/e2e/ui_robot_win.h"

namespace {

using std::chrono::milliseconds;

// The NSIS window's buttons: Next (here Uninstall, then Close) and Back.
constexpr int kNext = 1;
constexpr int kBack = 3;
// Welcome and confirmation come before the question; the finish page, and
// the work page when it stays, after it.
constexpr int kPagesBeforeQuestion = 2;
constexpr int kPagesAfterQuestion = 2;

int Fail(const wchar_t *what, HANDLE process) {
    fwprintf(stderr, L"uninstall_answer: %ls\n", what);
    if (process) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
    return 1;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc != 4 || (std::wstring(argv[3]) != L"yes" && std::wstring(argv[3]) != L"no")) {
        fwprintf(stderr, L"usage: uninstall_answer UNINSTALLER PROGRAM_FOLDER yes|no\n");
        return 2;
    }
    const int answer = std::wstring(argv[3]) == L"yes" ? IDYES : IDNO;
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\" _?=" + argv[2];
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return Fail(L"the uninstaller did not start", nullptr);

    UiRobot robot(process.dwProcessId);
    if (!robot.WaitForMainWindow(kBack, milliseconds(20000)))
        return Fail(L"no uninstaller window", process.hProcess);
    // Welcome, then Uninstall: the question comes once the work begins.
    MessageBoxInfo box;
    bool asked = false;
    for (int page = 0; page < kPagesBeforeQuestion && !asked; ++page) {
        if (!UiRobot::WaitUntil([&] { return robot.Enabled(kNext); }, milliseconds(20000))) break;
        robot.Click(kNext);
        asked = robot.WaitForMessageBox(
            box, milliseconds(page + 1 < kPagesBeforeQuestion ? 2000 : 20000));
    }
    if (!asked) return Fail(L"no question about the settings and logs", process.hProcess);
    wprintf(L"question: \"%ls\"\n", box.text.c_str());
    wprintf(L"default: %ls\n", box.defaultButton == IDNO    ? L"no"
                               : box.defaultButton == IDYES ? L"yes"
                                                            : L"none");
    robot.Answer(box, answer);
    // On only once the work is done and the button is back: the finish
    // page's Finish ends it.
    bool ended = false;
    for (int page = 0; page < kPagesAfterQuestion && !ended; ++page) {
        if (!UiRobot::WaitUntil([&] { return robot.Enabled(kNext); }, milliseconds(20000)))
            return Fail(L"the uninstaller did not finish", process.hProcess);
        robot.Click(kNext);
        ended = WaitForSingleObject(process.hProcess, 3000) == WAIT_OBJECT_0;
    }
    if (!ended && WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0)
        return Fail(L"the uninstaller did not end", process.hProcess);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(L"exit code: %lu\n", exitCode);
    return exitCode == 0 ? 0 : 1;
}
