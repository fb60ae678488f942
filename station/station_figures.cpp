#include "station/station_figures.h"

#include <algorithm>
#include <cmath>

#include "base/text_format.h"

namespace {

constexpr const wchar_t *kColumnGap = L"  ";
constexpr const wchar_t *kVersionArrow = L" -> ";
constexpr double kMsPerHour = 3600000.0;
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kSecondsPerMinute = 60;
constexpr uint64_t kSecondsPerHour = 3600;
constexpr double kPercent = 100.0;
constexpr long long kTenthsPerUnit = 10;
constexpr uint64_t kOneDigitBelow = 10;

std::wstring OrUnknown(const std::wstring &version) {
    return version.empty() ? kVersionUnknown : version;
}

std::wstring TwoDigits(uint64_t value) {
    return (value < kOneDigitBelow ? L"0" : L"") + std::to_wstring(value);
}

} // namespace

std::wstring VerdictLine(const VerdictLineParts &parts, const std::wstring &passWord,
                         const std::wstring &failFormat) {
    std::wstring line =
        parts.code == 0 ? passWord : FormatLangText(failFormat, std::to_wstring(parts.code));
    if (!parts.device.empty()) line += kColumnGap + parts.device;
    line += kColumnGap + OrUnknown(parts.before) + kVersionArrow + OrUnknown(parts.after);
    if (!parts.text.empty()) line += kColumnGap + parts.text;
    return line;
}

void StationTally::CycleStarted(const std::wstring &device, uint64_t nowMs) {
    CycleEnded(nowMs);
    m_open = true;
    m_openedMs = nowMs;
    m_device = device;
}

void StationTally::JobEnded(int32_t code) {
    // A device met for the first time decides the first-pass yield; one
    // plugged in again after a failure does not.
    const bool first = m_met.insert(m_device).second || m_device.empty();
    if (code == 0) {
        ++m_passed;
        if (first) ++m_firstPassed;
    } else {
        ++m_failed;
        ++m_failedBy[code];
    }
}

void StationTally::Refused(const std::wstring &device) {
    ++m_refused;
    m_met.insert(device);
}

void StationTally::CycleEnded(uint64_t nowMs) {
    if (!m_open) return;
    m_open = false;
    const Cycle cycle{m_openedMs, std::max(nowMs, m_openedMs)};
    m_durations.push_back(cycle.endMs - cycle.startMs);
    m_recent.push_back(cycle);
    if (m_recent.size() > kPaceCycles) m_recent.pop_front();
}

double StationTally::FirstPassYieldPercent() const {
    if (m_met.empty()) return -1;
    return kPercent * m_firstPassed / static_cast<double>(m_met.size());
}

uint64_t StationTally::MedianCycleMs() const {
    if (m_durations.empty()) return 0;
    std::vector<uint64_t> sorted = m_durations;
    std::sort(sorted.begin(), sorted.end());
    const size_t middle = sorted.size() / 2;
    return sorted.size() % 2 != 0 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

uint64_t StationTally::SlowestCycleMs() const {
    return m_durations.empty() ? 0 : *std::max_element(m_durations.begin(), m_durations.end());
}

double StationTally::PerHour() const {
    if (m_recent.empty()) return 0;
    const uint64_t span = m_recent.back().endMs - m_recent.front().startMs;
    if (span == 0) return 0;
    return static_cast<double>(m_recent.size()) * kMsPerHour / static_cast<double>(span);
}

uint64_t StationTally::ToGoMs(int count) const {
    const int left = count - m_passed;
    const double perHour = PerHour();
    if (left <= 0 || perHour <= 0) return 0;
    return static_cast<uint64_t>(std::llround(left * kMsPerHour / perHour));
}

std::wstring FormatDuration(uint64_t ms) {
    const uint64_t seconds = (ms + kMsPerSecond / 2) / kMsPerSecond;
    return std::to_wstring(seconds / kSecondsPerHour) + L":" +
           TwoDigits(seconds % kSecondsPerHour / kSecondsPerMinute) + L":" +
           TwoDigits(seconds % kSecondsPerMinute);
}

std::wstring FormatTenths(double value) {
    const long long tenths = std::llround(value * kTenthsPerUnit);
    return std::to_wstring(tenths / kTenthsPerUnit) + L"." +
           std::to_wstring(std::llabs(tenths % kTenthsPerUnit));
}

std::wstring FormatFailures(int failed, const std::map<int32_t, int> &failedBy) {
    std::wstring text = std::to_wstring(failed);
    if (failedBy.empty()) return text;
    text += L" (";
    bool first = true;
    for (const auto &[code, count] : failedBy) {
        if (!first) text += L", ";
        first = false;
        text += std::to_wstring(code) + L": " + std::to_wstring(count);
    }
    return text + L")";
}
