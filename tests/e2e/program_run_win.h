// One run of the real DeviceManager.exe on the simulated bench, for the
// end-to-end scenarios and the benchmark: a fresh copy of the distribution
// folder with its own setting.ini, sample image, bench and temporary folder;
// the program started in it; the robot on its main window; and, at the end,
// the program ended and checked for a clean exit.
//
// The texts the scenarios expect are read from the shipped English language
// file, so the scenarios hold no wording of their own.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/bench.h"
#include "tests/e2e/ui_robot_win.h"

namespace e2e {

using std::chrono::milliseconds;
using Icon = MessageBoxInfo::Icon;

// The distribution folder the build made, and where screenshots go: both
// found from this program's own folder (bin\ beside dist\ in the Windows
// build folder), the screenshots in e2e-screenshots\ beside the Windows build
// folder, one folder per scenario, unless QV_E2E_SCREENSHOTS names another.
// QV_E2E_KEEP=1 keeps each run's program folder with its bench and logs.
std::filesystem::path DistFolder();
std::filesystem::path ScreenshotRoot();

// Decodes the escapes of language texts: \r \n \t \" \'.
std::wstring DecodeEscapes(const std::wstring &text);

struct ProgramSetup {
    bool withImage = true; // FIRMWARE names the sample image, else it is empty
    int eraseIdb = 0;
    // Quick bench: the device answers at once after a switch or reset and
    // the library's own delays are short, so a job takes the program's own
    // waits and little more.
    bool quickBench = true;
    bool driverInstalled = true;
};

class ProgramRun {
  public:
    ProgramRun(const std::string &scenario, const ProgramSetup &setup = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    qvsim::Bench &Bench() { return *m_bench; }
    // The program folder, ending in a backslash.
    const std::wstring &Folder() const { return m_folder; }
    // The program's temporary folder (TEMP and TMP), ending in a backslash.
    const std::wstring &Temp() const { return m_tempFolder; }
    // The sample image as copied into the program folder.
    std::wstring SampleImage() const { return m_folder + L"QV70-sample.img"; }
    void SetSystemSetting(const std::wstring &key, const std::wstring &value);

    // Starts the program and, unless told otherwise, waits for its main
    // window. False on failure.
    bool Start(bool waitForWindow = true);
    UiRobot &Robot() { return *m_robot; }
    HANDLE Process() const { return m_process.hProcess; }
    bool Running() const;

    // A text of the shipped English language file.
    std::wstring Text(const wchar_t *key) const;
    // The failure verdict's text for a result code, as the verdict table has it.
    std::wstring FailureText(int code) const;
    std::wstring AppTitle() const { return L"QV70 Device Manager"; }
    // The caption of boxes that have none of their own: the program's name.
    std::wstring ProgramName() const { return L"DeviceManager"; }

    // Saves a screenshot of the screen as <scenario>\<nn>-<name>.bmp.
    void Shot(const std::string &name);

    // Waits until the watcher shows a device: Upgrade enabled, a name shown
    // and, when versions are expected, the device's software version read.
    bool WaitForDevice(milliseconds timeout, bool withVersions = true);

    // Waits until the watcher shows that no device is connected.
    bool WaitForNoDevice(milliseconds timeout);

    // Waits for a box and checks its text, caption, icon and buttons; takes a
    // screenshot named shot. False (with a test failure) when no box came.
    bool ExpectBox(MessageBoxInfo &box, const std::wstring &text, const std::wstring &caption,
                   Icon icon, bool yesNo, const std::string &shot,
                   milliseconds timeout = milliseconds(10000));
    // Same, then answers the box.
    bool ExpectAndAnswer(const std::wstring &text, const std::wstring &caption, Icon icon,
                         bool yesNo, int answer, const std::string &shot,
                         milliseconds timeout = milliseconds(10000));

    // Clicks Upgrade or Repair and says Yes to the final question.
    bool StartJob(int button, const std::string &shot);
    // The failure verdict of a job started by button for code, answered OK.
    bool ExpectFailure(int button, int code, const std::string &shot,
                       milliseconds timeout = milliseconds(20000));
    bool ExpectSuccess(int button, const std::string &shot,
                       milliseconds timeout = milliseconds(20000));

    // Exit, Yes to the exit question, and a clean end of the process.
    void ExitThroughButton(const std::wstring &question = L"");
    // Waits for the process to end by itself; a hang is terminated and fails
    // the test. Returns the exit code.
    DWORD WaitForEnd(milliseconds timeout);

  private:
    std::string m_scenario;
    std::wstring m_folder;
    std::wstring m_benchFolder;
    std::wstring m_tempFolder;
    std::wstring m_languageFile;
    std::unique_ptr<qvsim::Bench> m_bench;
    std::unique_ptr<UiRobot> m_robot;
    PROCESS_INFORMATION m_process{};
    int m_shotCount = 0;
};

// Every byte of the image's system payload, as a device should hold it.
std::vector<unsigned char> SystemPayload(const std::wstring &imagePath);
std::vector<unsigned char> ReadAll(const std::filesystem::path &path);
// How often a line occurs in the text.
int CountOf(const std::string &text, const std::string &part);

} // namespace e2e
