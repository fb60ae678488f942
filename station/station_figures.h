// The station read at a glance: a verdict line's parts, and the figures of a
// run (passed, failed, the pace) that the progress lines and the summary
// show.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

// A version not read (a device found in loader or mask-ROM mode).
inline constexpr const wchar_t *kVersionUnknown = L"?";

struct VerdictLineParts {
    int32_t code = 0;
    // The serial number; the device's name when it reports none.
    std::wstring device;
    std::wstring before; // the device's software version before the job
    // The version after the job as known at the verdict: the image's version,
    // the one the job set out to write. The device's own reading comes later
    // (in the record), when it is back.
    std::wstring after;
    std::wstring text; // the verdict as the station words it, on one line
};

// "PASS  A0001  1.0.0 -> 1.2.3  text" or "FAIL -9  A0002  1.0.0 -> 1.2.3  text";
// passWord and failFormat ("FAIL %s") come from the language file.
std::wstring VerdictLine(const VerdictLineParts &parts, const std::wstring &passWord,
                         const std::wstring &failFormat);

// How many of the last cycles give the pace.
inline constexpr size_t kPaceCycles = 10;

// The devices of one loop: each job's device counts from the moment it was
// plugged in (the watcher announced it) until it was taken away.
class StationTally {
  public:
    void CycleStarted(const std::wstring &device, uint64_t nowMs);
    // The job's result of the open cycle's device.
    void JobEnded(int32_t code);
    void Refused(const std::wstring &device);
    // The device of a job that passed came back with other software: no
    // pass after all (a count of passes never reaches its end with it).
    void NotVerified() {
        ++m_notVerified;
        if (m_passed > 0) --m_passed;
    }
    // The device was taken away (or the loop ended): no-op without an open cycle.
    void CycleEnded(uint64_t nowMs);
    bool CycleOpen() const { return m_open; }

    int Passed() const { return m_passed; }
    int Failed() const { return m_failed; }
    int RefusedCount() const { return m_refused; }
    int NotVerifiedCount() const { return m_notVerified; }
    // Failed jobs by result code.
    const std::map<int32_t, int> &FailedBy() const { return m_failedBy; }
    // Percent of the devices met whose first job passed; negative: none met.
    double FirstPassYieldPercent() const;
    // Over the whole run; 0 before the first cycle has ended.
    uint64_t MedianCycleMs() const;
    uint64_t SlowestCycleMs() const;
    // Over the last kPaceCycles cycles, the time between them included: from
    // the first one's plug-in to the last one's removal. 0 before a cycle has
    // ended.
    double PerHour() const;
    // The time the devices still to pass would take at that pace; 0 when
    // none are to go or there is no pace yet.
    uint64_t ToGoMs(int count) const;

  private:
    struct Cycle {
        uint64_t startMs;
        uint64_t endMs;
    };
    bool m_open = false;
    uint64_t m_openedMs = 0;
    std::deque<Cycle> m_recent;
    std::vector<uint64_t> m_durations;
    std::set<std::wstring> m_met;
    int m_firstPassed = 0;
    int m_passed = 0;
    int m_failed = 0;
    int m_refused = 0;
    int m_notVerified = 0;
    std::map<int32_t, int> m_failedBy;
    std::wstring m_device;
};

// "1:05:09" (hours, minutes, seconds); the figures of a line are numbers and
// symbols, so that only their labels need a language.
std::wstring FormatDuration(uint64_t ms);
// One decimal ("41.5").
std::wstring FormatTenths(double value);
// "2 (-9: 1, -3: 1)", or "0".
std::wstring FormatFailures(int failed, const std::map<int32_t, int> &failedBy);
