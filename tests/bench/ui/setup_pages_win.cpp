// Walks the setup program's pages as a user would and saves a picture of
// each, for the user guide: the language choice, the welcome page, the
// components (with the simulated bench's description shown), the folder;
// then Cancel and Yes to the question, so that nothing is installed.
//
//   setup_pages.exe SETUP_PROGRAM SCREENSHOT_FOLDER [SUFFIX]
//
// Saves setup-language.bmp, setup-welcome.bmp, setup-components.bmp and
// setup-folder.bmp (with SUFFIX before ".bmp"), each cut to the setup
// program's windows. The language is the one the setup program offers
// first, the system's. Exit code 0 when every page came.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/e2e/ui_robot_win.h"

namespace {

using std::chrono::milliseconds;

// Control ids of the NSIS dialogs: the outer window's buttons and the
// components page's tree and description.
constexpr int kNext = 1;
constexpr int kCancel = 2;
constexpr int kBack = 3;
constexpr int kComponentsTree = 1032;
constexpr int kDescription = 1043;

int g_failures = 0;
void Fail(const wchar_t *what) {
    fwprintf(stderr, L"setup_pages: %ls\n", what);
    ++g_failures;
}

// The page dialog shown inside the outer window that holds the control.
HWND PageWith(HWND outer, int controlId) {
    for (HWND child = GetWindow(outer, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsWindowVisible(child) && GetDlgItem(child, controlId))
            return GetDlgItem(child, controlId);
    }
    return nullptr;
}

std::wstring g_suffix;

void Shot(const UiRobot &robot, const std::wstring &folder, const wchar_t *name) {
    Sleep(500); // let the page paint
    const std::wstring file = folder + name + g_suffix + L".bmp";
    if (!UiRobot::SaveScreenshot(file, robot.WindowsArea())) Fail(file.c_str());
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc != 3 && argc != 4) {
        fwprintf(stderr, L"usage: setup_pages SETUP_PROGRAM SCREENSHOT_FOLDER [SUFFIX]\n");
        return 2;
    }
    if (argc == 4) g_suffix = argv[3];
    std::wstring folder = argv[2];
    if (folder.back() != L'\\') folder += L'\\';
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        Fail(L"the setup program did not start");
        return 1;
    }

    // The language choice comes before the setup window exists.
    UiRobot language(process.dwProcessId);
    if (language.WaitForMainWindow(kNext, milliseconds(20000))) {
        Shot(language, folder, L"setup-language");
        language.Click(kNext);
    } else {
        Fail(L"no language choice");
    }

    UiRobot setup(process.dwProcessId);
    HWND outer = setup.WaitForMainWindow(kBack, milliseconds(20000));
    if (!outer) {
        Fail(L"no setup window");
    } else {
        Shot(setup, folder, L"setup-welcome");
        setup.Click(kNext);
        HWND tree = nullptr;
        UiRobot::WaitUntil([&] { return (tree = PageWith(outer, kComponentsTree)) != nullptr; },
                           milliseconds(10000));
        if (!tree) {
            Fail(L"no components page");
        } else {
            // The description follows the mouse, which the page reads from
            // the message's cursor position: point at the second item, the
            // simulated bench.
            const int itemHeight = static_cast<int>(SendMessageW(tree, TVM_GETITEMHEIGHT, 0, 0));
            POINT point{40, itemHeight + itemHeight / 2};
            ClientToScreen(tree, &point);
            SetCursorPos(point.x, point.y);
            Sleep(200);
            PostMessageW(tree, WM_MOUSEMOVE, 0, MAKELPARAM(40, itemHeight + itemHeight / 2));
            HWND description = PageWith(outer, kDescription);
            UiRobot::WaitUntil(
                [&] { return description && GetWindowTextLengthW(description) > 80; },
                milliseconds(3000));
            Shot(setup, folder, L"setup-components");
            setup.Click(kNext);
            Sleep(800);
            Shot(setup, folder, L"setup-folder");
        }
        setup.Click(kCancel);
        MessageBoxInfo box;
        if (setup.WaitForMessageBox(box, milliseconds(5000))) setup.Answer(box, IDYES);
    }
    if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0) {
        Fail(L"the setup program did not end");
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return g_failures == 0 ? 0 : 1;
}
