// The two platform services the driver installation needs beyond the common
// ones: starting the installer program, and what Windows this is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A started process. Destroying it closes the handle (not the process).
class IRunningProcess {
  public:
    virtual ~IRunningProcess() = default;
    // True when the process ended within the time.
    virtual bool Wait(uint32_t timeoutMs) = 0;
    // False when the exit code cannot be read; a process still running
    // reads as kStillActive.
    virtual bool GetExitCode(uint32_t &exitCode) = 0;
    virtual bool Terminate(uint32_t exitCode) = 0;
    virtual void Close() = 0;
};

class IProcessRunner {
  public:
    virtual ~IProcessRunner() = default;
    // Starts the command line (its first word names the program) with its
    // window hidden, the caller's environment and folder, no handles
    // inherited. Null when it cannot be started.
    virtual std::unique_ptr<IRunningProcess> StartHidden(const std::wstring &commandLine) = 0;
};

// The exit code the platform reports for a process still running.
inline constexpr uint32_t kStillActive = 259;

class ISystemInfo {
  public:
    virtual ~ISystemInfo() = default;
    virtual bool GetWindowsVersion(uint32_t &major, uint32_t &minor) = 0;
    // A 32-bit process on 64-bit Windows; false where the question cannot be
    // asked.
    virtual bool IsWow64() = 0;
    // This program was built for 64-bit Windows.
    virtual bool ProcessIs64Bit() = 0;
};
