// Runs the program once from a distribution folder and reports:
//   - the time from the process's start to the splash and to the main window,
//     and the same without the splash's own two seconds;
//   - the working set of the idle program;
// and, with --screenshots FOLDER, saves splash.bmp, main.bmp and about.bmp.
// With --upgrade it then upgrades the connected device with the configured
// image as a user would (Upgrade, Yes to the questions), saves job.bmp,
// verdict.bmp and after.bmp, and reports the verdict.
// With --screen-reader it asks, as a screen reader in its own process does,
// for the busy bar's name the moment the main window shows, and reports how
// long the first answer took and the time from the start to that name.
// With --smoke it only checks that the program comes up from that folder and
// shows the device on the bench (the packages' tests use it on an installed
// or unpacked program): no memory figures, no About box.
// It ends the program as a user would: WM_CLOSE, then Yes to the question.
//
//   ui_session.exe DIST_FOLDER [--screenshots FOLDER] [--report FILE] [--upgrade] [--smoke]
//                  [--screen-reader]
#include <windows.h>

#include <oleacc.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "res/resource.h"
#include "tests/e2e/ui_robot_win.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::wstring g_report;
void Report(const std::wstring &line) {
    g_report += line + L"\n";
    fwprintf(stdout, L"%ls\n", line.c_str());
    fflush(stdout);
}

// A visible top-level window of the process holding the control.
HWND FindWindowWith(DWORD processId, int controlId) {
    struct Search {
        DWORD processId;
        int controlId;
        HWND found;
    } search{processId, controlId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto *s = reinterpret_cast<Search *>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && IsWindowVisible(window) &&
                GetDlgItem(window, s->controlId)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindowWith(DWORD processId, int controlId, milliseconds timeout) {
    HWND found = nullptr;
    UiRobot::WaitUntil([&] { return (found = FindWindowWith(processId, controlId)) != nullptr; },
                       timeout);
    return found;
}

// Upgrade, answering every question Yes, until the verdict box shows; the
// verdict is reported and closed. False when no verdict came or it was not
// the success box.
bool RunUpgrade(const UiRobot &robot, const std::wstring &shots) {
    if (!UiRobot::WaitUntil([&] { return robot.Enabled(IDC_UPGRADE); }, milliseconds(10000))) {
        Report(L"upgrade: no device ready (Upgrade stays disabled)");
        return false;
    }
    robot.Click(IDC_UPGRADE);
    bool jobShot = false;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < deadline) {
        MessageBoxInfo box;
        if (robot.WaitForMessageBox(box, milliseconds(100))) {
            if (box.hasYesNo) {
                Report(L"upgrade: question \"" + box.text + L"\" answered Yes");
                robot.Answer(box, IDYES);
                continue;
            }
            if (!shots.empty()) UiRobot::SaveScreenshot(shots + L"verdict.bmp");
            Report(L"upgrade: verdict \"" + box.text + L"\" (" + box.caption + L")");
            const bool success = box.icon == MessageBoxInfo::Icon::Information;
            robot.Answer(box, IDOK);
            // The watcher announces the device again, with its new version.
            UiRobot::WaitUntil([&] { return robot.Enabled(IDC_UPGRADE); }, milliseconds(5000));
            Sleep(300);
            if (!shots.empty()) UiRobot::SaveScreenshot(shots + L"after.bmp");
            Report(L"upgrade: device software version afterwards: " +
                   robot.Text(IDC_DEVICE_SW_VERSION));
            return success;
        }
        if (!jobShot && !robot.Text(IDC_DETAIL_LINE).empty() && !robot.Enabled(IDC_BROWSE)) {
            Sleep(200);
            if (!shots.empty()) UiRobot::SaveScreenshot(shots + L"job.bmp");
            jobShot = true;
        }
    }
    Report(L"upgrade: no verdict within two minutes");
    return false;
}

// The platform's interface id; MinGW's import library has another.
const IID kIidAccessible = {
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// A screen reader's first question: the control's name.
std::wstring AccessibleName(HWND control) {
    IAccessible *accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                          reinterpret_cast<void **>(&accessible))) ||
        accessible == nullptr)
        return L"";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring text;
    if (SUCCEEDED(accessible->get_accName(self, &name)) && name != nullptr) text = name;
    SysFreeString(name);
    accessible->Release();
    return text;
}

size_t WorkingSetKiB(HANDLE process) {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (!GetProcessMemoryInfo(process, &memory, sizeof(memory))) return 0;
    return memory.WorkingSetSize / 1024;
}

// The working set of the smallest GUI program beside this tool, idle.
size_t BaselineWorkingSetKiB() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring commandLine = path;
    commandLine =
        L"\"" + commandLine.substr(0, commandLine.find_last_of(L'\\') + 1) + L"ui_baseline.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 0;
    Sleep(3000);
    const size_t kib = WorkingSetKiB(process.hProcess);
    TerminateProcess(process.hProcess, 0); // it holds nothing worth a clean end
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return kib;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: ui_session DIST_FOLDER [--screenshots FOLDER] [--report FILE] "
                         L"[--upgrade] [--smoke]\n");
        return 2;
    }
    std::wstring dist = argv[1];
    if (dist.back() != L'\\') dist += L'\\';
    std::wstring shots, reportFile;
    bool upgrade = false;
    bool smoke = false;
    bool screenReader = false;
    for (int i = 2; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--upgrade") upgrade = true;
        if (option == L"--smoke") smoke = true;
        if (option == L"--screen-reader") screenReader = true;
        if (i + 1 < argc && option == L"--screenshots")
            shots = argv[++i];
        else if (i + 1 < argc && option == L"--report")
            reportFile = argv[++i];
    }
    if (!shots.empty() && shots.back() != L'\\') shots += L'\\';

    std::wstring commandLine = L"\"" + dist + L"DeviceManager.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const auto start = Clock::now();
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, dist.c_str(),
                        &startup, &process)) {
        Report(L"FAILED: DeviceManager.exe did not start (error " +
               std::to_wstring(GetLastError()) + L")");
        return 1;
    }
    int failures = 0;
    auto fail = [&](const std::wstring &what) {
        Report(L"FAILED: " + what);
        ++failures;
    };

    HWND splash = WaitForWindowWith(process.dwProcessId, IDC_SPLASH_PICTURE, milliseconds(20000));
    const double splashShownMs = MsSince(start);
    if (!splash) fail(L"no splash screen");
    if (splash && !shots.empty()) {
        Sleep(400); // let it paint
        UiRobot::SaveScreenshot(shots + L"splash.bmp");
    }
    UiRobot::WaitUntil([&] { return !splash || !IsWindowVisible(splash); }, milliseconds(10000));
    const double splashGoneMs = MsSince(start);

    UiRobot robot(process.dwProcessId);
    HWND main = robot.WaitForMainWindow(IDC_EXIT, milliseconds(20000));
    const double mainShownMs = MsSince(start);
    if (!main) fail(L"no main window");

    Report(L"process start to splash shown:      " + std::to_wstring(splashShownMs) + L" ms");
    Report(L"splash shown for:                   " + std::to_wstring(splashGoneMs - splashShownMs) +
           L" ms");
    Report(L"process start to main window shown: " + std::to_wstring(mainShownMs) + L" ms");
    Report(L"  without the splash:               " +
           std::to_wstring(mainShownMs - (splashGoneMs - splashShownMs)) + L" ms");
    if (main && screenReader) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const auto asked = Clock::now();
        const std::wstring name = AccessibleName(GetDlgItem(main, IDC_BUSY_BAR));
        const double answerMs = MsSince(asked);
        CoUninitialize();
        if (name.empty()) fail(L"the screen reader heard no name");
        Report(L"screen reader's first answer:       " + std::to_wstring(answerMs) + L" ms (\"" +
               name + L"\")");
        Report(L"  start to that name, no splash:    " +
               std::to_wstring(MsSince(start) - (splashGoneMs - splashShownMs)) + L" ms");
    }

    if (main && smoke) {
        if (!UiRobot::WaitUntil([&] { return robot.Enabled(IDC_UPGRADE); }, milliseconds(10000)))
            fail(L"no device shown (Upgrade stays disabled)");
        else
            Report(L"device shown: " + robot.Text(IDC_DEVICE_NAME));
        if (!shots.empty()) UiRobot::SaveScreenshot(shots + L"main.bmp");
    }
    if (main && !smoke) {
        Sleep(3000); // the start tick and a few watcher cycles
        if (!shots.empty()) UiRobot::SaveScreenshot(shots + L"main.bmp");
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof(memory);
        if (GetProcessMemoryInfo(process.hProcess,
                                 reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory),
                                 sizeof(memory))) {
            Report(L"idle working set:                   " +
                   std::to_wstring(memory.WorkingSetSize / 1024) + L" KiB (peak " +
                   std::to_wstring(memory.PeakWorkingSetSize / 1024) + L" KiB)");
        }
        const size_t baseline = BaselineWorkingSetKiB();
        if (baseline) {
            Report(L"  smallest GUI program, same way:   " + std::to_wstring(baseline) + L" KiB");
            Report(L"  the program's own share:          " +
                   std::to_wstring(memory.WorkingSetSize / 1024 - baseline) + L" KiB");
        }

        PostMessageW(main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        HWND about = WaitForWindowWith(process.dwProcessId, IDC_ABOUT_VERSION, milliseconds(5000));
        if (!about) {
            fail(L"no About box");
        } else {
            Sleep(400);
            if (!shots.empty()) UiRobot::SaveScreenshot(shots + L"about.bmp");
            PostMessageW(about, WM_COMMAND, IDOK, 0);
            UiRobot::WaitUntil([&] { return !IsWindow(about); }, milliseconds(5000));
        }

        if (upgrade && !RunUpgrade(robot, shots)) fail(L"the upgrade did not succeed");
    }
    if (main) {
        robot.Close();
        MessageBoxInfo box;
        if (!robot.WaitForMessageBox(box, milliseconds(5000))) {
            fail(L"no exit question");
        } else {
            Report(L"exit question: \"" + box.text + L"\" (" + box.caption + L")");
            robot.Answer(box, IDYES);
        }
    }

    if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0) {
        fail(L"the program did not end; it was terminated");
        TerminateProcess(process.hProcess, 3);
        WaitForSingleObject(process.hProcess, 5000);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    Report(L"exit code: " + std::to_wstring(exitCode));
    if (exitCode != 0) ++failures;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    if (!reportFile.empty()) {
        FILE *file = _wfopen(reportFile.c_str(), L"w, ccs=UTF-8");
        if (file) {
            fputws(g_report.c_str(), file);
            fclose(file);
        }
    }
    return failures == 0 ? 0 : 1;
}
