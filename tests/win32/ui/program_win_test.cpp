// The real DeviceManager.exe, started from a test copy of its distribution
// folder: one copy at a time, a missing device library stops the start with
// a message, and the exit question ends the process cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "res/resource.h"
#include "tests/e2e/ui_robot_win.h"
#include "ui_test_support_win.h"

namespace {

using std::chrono::milliseconds;

bool CopyInto(const std::wstring &from, const std::wstring &to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

// A program folder: the program and the device library of this build,
// setting.ini and a language file; the bench of virtual devices inside it.
class ProgramFolder {
  public:
    explicit ProgramFolder(bool withLibrary = true, const std::wstring &systemKeys = L"") {
        const std::wstring bin = FolderOfThisProgram();
        CopyInto(bin + L"DeviceManager.exe", folder.Path() + L"DeviceManager.exe");
        if (withLibrary) CopyInto(bin + L"QVAndroidDLL.dll", folder.Path() + L"QVAndroidDLL.dll");
        CreateDirectoryW((folder.Path() + L"Language").c_str(), nullptr);
        WriteUtf16File(folder.Path() + L"setting.ini",
                       L"[SYSTEM]\r\nAPPTITLE=Program Test\r\nLANGUAGE=Test\r\n" + systemKeys);
        WriteUtf16File(folder.Path() + L"Language\\Test.ini",
                       L"[Setting]\r\nLanguage=Test\r\n[String]\r\nIDS_50=Leave now?\r\n"
                       L"IDS_49=A job runs. Leave now?\r\nIDS_88=Upgrade?\r\n");
    }

    // Starts the program with the bench inside this folder.
    PROCESS_INFORMATION Start() {
        SetEnvironmentVariableW(L"QVSIM_BENCH", (folder.Path() + L"Bench").c_str());
        std::wstring commandLine = L"\"" + folder.Path() + L"DeviceManager.exe\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.Path().c_str(), &startup, &process));
        return process;
    }

    // Runs the bench tool on this folder's bench; true when it succeeded.
    bool Bench(const std::wstring &arguments) {
        std::wstring commandLine = L"\"" + FolderOfThisProgram() + L"qvsim.exe\" --bench \"" +
                                   folder.Path() + L"Bench\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, &process))
            return false;
        WaitForSingleObject(process.hProcess, 20000);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return code == 0;
    }

    TempFolder folder;
};

DWORD WaitForExit(const PROCESS_INFORMATION &process, DWORD timeoutMs) {
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
        ADD_FAILURE() << "the program did not end within " << timeoutMs << " ms";
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Says Yes to the exit question through the Exit button.
void LeaveThroughExit(UiRobot &robot, const wchar_t *question = L"Leave now?") {
    robot.Click(IDC_EXIT);
    MessageBoxInfo box;
    ASSERT_TRUE(robot.WaitForMessageBox(box, milliseconds(5000)));
    EXPECT_EQ(box.text, question);
    EXPECT_EQ(box.caption, L"Program Test");
    EXPECT_TRUE(box.hasYesNo);
    robot.Answer(box, IDYES);
}

TEST(Program, ASecondCopyEndsAtOnceAndShowsNothing) {
    ProgramFolder first;
    ProgramFolder second;
    PROCESS_INFORMATION running = first.Start();
    UiRobot robot(running.dwProcessId);
    ASSERT_NE(robot.WaitForMainWindow(IDC_EXIT, milliseconds(20000)), nullptr);

    // Another copy, even from another folder, ends by itself and silently.
    PROCESS_INFORMATION again = second.Start();
    const auto start = std::chrono::steady_clock::now();
    UiRobot secondRobot(again.dwProcessId);
    EXPECT_EQ(WaitForExit(again, 10000), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
    EXPECT_EQ(GetFileAttributesW((second.folder.Path() + L"Log").c_str()), INVALID_FILE_ATTRIBUTES);

    LeaveThroughExit(robot);
    EXPECT_EQ(WaitForExit(running, 15000), 0u);
}

// The exit comes while the watcher polls, the busy bar animates and a job
// waits inside the library: the process ends by itself, with exit code 0.
TEST(Program, ExitWhileTheWatcherAndAJobRunEndsCleanly) {
    TempFolder images;
    const std::wstring image = images.Path() + L"test.img";
    ASSERT_TRUE(CopyInto(FolderOfThisProgram() + L"QV70-sample.img", image));
    ProgramFolder program(true, L"FIRMWARE=" + image + L"\r\n");
    ASSERT_TRUE(program.Bench(L"plug kind=2"));
    ASSERT_TRUE(program.Bench(L"delay upgrade=8000"));
    PROCESS_INFORMATION running = program.Start();
    UiRobot robot(running.dwProcessId);
    ASSERT_NE(robot.WaitForMainWindow(IDC_EXIT, milliseconds(20000)), nullptr);
    ASSERT_TRUE(
        UiRobot::WaitUntil([&] { return robot.Enabled(IDC_UPGRADE); }, milliseconds(10000)));

    robot.Click(IDC_UPGRADE);
    MessageBoxInfo confirm;
    ASSERT_TRUE(robot.WaitForMessageBox(confirm, milliseconds(5000)));
    EXPECT_EQ(confirm.text, L"Upgrade?");
    robot.Answer(confirm, IDYES);
    // The job is inside the library's upgrade now, for seconds.
    ASSERT_TRUE(UiRobot::WaitUntil([&] { return !robot.Enabled(IDC_BROWSE); }, milliseconds(5000)));
    Sleep(500);

    const auto start = std::chrono::steady_clock::now();
    LeaveThroughExit(robot, L"A job runs. Leave now?");
    EXPECT_EQ(WaitForExit(running, 15000), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(8000));
}

TEST(Program, AMissingDeviceLibraryStopsTheStartWithAMessage) {
    ProgramFolder program(false);
    PROCESS_INFORMATION running = program.Start();
    UiRobot robot(running.dwProcessId);
    MessageBoxInfo box;
    ASSERT_TRUE(robot.WaitForMessageBox(box, milliseconds(20000)));
    EXPECT_NE(box.text.find(L"QVAndroidDLL.dll"), std::wstring::npos) << box.text.c_str();
    EXPECT_EQ(box.caption, L"DeviceManager");
    robot.Answer(box, IDOK);
    EXPECT_NE(WaitForExit(running, 10000), 0u);
}

} // namespace
