#include "device/process_runner_win.h"

#include <windows.h>

#include <vector>

namespace {

class RunningProcessWin : public IRunningProcess {
  public:
    explicit RunningProcessWin(HANDLE process) : m_process(process) {}
    ~RunningProcessWin() override { Close(); }
    RunningProcessWin(const RunningProcessWin &) = delete;
    RunningProcessWin &operator=(const RunningProcessWin &) = delete;

    bool Wait(uint32_t timeoutMs) override {
        return m_process != nullptr && WaitForSingleObject(m_process, timeoutMs) == WAIT_OBJECT_0;
    }

    bool GetExitCode(uint32_t &exitCode) override {
        DWORD code = 0;
        if (m_process == nullptr || !GetExitCodeProcess(m_process, &code)) return false;
        exitCode = code;
        return true;
    }

    bool Terminate(uint32_t exitCode) override {
        return m_process != nullptr && TerminateProcess(m_process, exitCode) != FALSE;
    }

    void Close() override {
        if (m_process != nullptr) CloseHandle(m_process);
        m_process = nullptr;
    }

  private:
    HANDLE m_process;
};

} // namespace

std::unique_ptr<IRunningProcess> ProcessRunnerWin::StartHidden(const std::wstring &commandLine) {
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return std::make_unique<RunningProcessWin>(info.hProcess);
}
