// Fakes of the installer process and of the system queries.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "device/driver_platform.h"

namespace fakes {

struct ProcessRecord {
    std::wstring commandLine;
    std::vector<uint32_t> waits;
    int exitReads = 0;
    int terminatedWith = -1;
    bool closed = false;
};

class FakeProcessRunner : public IProcessRunner {
  public:
    bool startFails = false;
    // Exit-code reads in turn (false = the read fails); then the last one.
    std::deque<std::pair<bool, uint32_t>> exitCodes{{true, 0}};
    ProcessRecord record;
    int starts = 0;

    std::unique_ptr<IRunningProcess> StartHidden(const std::wstring &commandLine) override {
        ++starts;
        record.commandLine = commandLine;
        if (startFails) return nullptr;
        return std::make_unique<Process>(*this);
    }

  private:
    class Process : public IRunningProcess {
      public:
        explicit Process(FakeProcessRunner &runner) : m_runner(runner) {}
        ~Process() override { Close(); }
        bool Wait(uint32_t timeoutMs) override {
            m_runner.record.waits.push_back(timeoutMs);
            return m_runner.exitCodes.front().second != kStillActive;
        }
        bool GetExitCode(uint32_t &code) override {
            ++m_runner.record.exitReads;
            const auto read = m_runner.exitCodes.front();
            if (m_runner.exitCodes.size() > 1) m_runner.exitCodes.pop_front();
            if (read.first) code = read.second;
            return read.first;
        }
        bool Terminate(uint32_t code) override {
            m_runner.record.terminatedWith = static_cast<int>(code);
            return true;
        }
        void Close() override { m_runner.record.closed = true; }

      private:
        FakeProcessRunner &m_runner;
    };
};

class FakeSystemInfo : public ISystemInfo {
  public:
    bool versionKnown = true;
    uint32_t major = 6, minor = 1;
    bool wow64 = false;
    bool process64 = true;
    bool GetWindowsVersion(uint32_t &outMajor, uint32_t &outMinor) override {
        if (!versionKnown) return false;
        outMajor = major;
        outMinor = minor;
        return true;
    }
    bool IsWow64() override { return wow64; }
    bool ProcessIs64Bit() override { return process64; }
};

} // namespace fakes
