#include "device/job_verdict.h"

#include "base/main_view.h"
#include "base/text_keys.h"
#include "device/device_record.h"

namespace {

struct FailureVerdict {
    JobResult code;
    VerdictKey verdict;
};

// Every failure, from -1 down. kJobUpgradeFailed has no text of its own: it
// shares the unexpected failure's.
constexpr FailureVerdict kFailures[] = {
    {kJobSwitchFailed, {ids::kSwitchFailed, true}},
    {kJobNoVeskUsbDevice, {ids::kNoDownloadModeDevice, true}},
    {kJobLoaderDeclined, {ids::kLoaderDeclined, false}},
    {kJobNoLoaderModeDevice, {ids::kNoLoaderModeDevice, true}},
    {kJobLoaderFileBad, {ids::kLoaderFileBad, true}},
    {kJobImageSizeRefused, {ids::kImageSizeRefused, true}},
    {kJobUpgradeFailed, {ids::kUnexpectedFailure, true}},
    {kJobNotBackAfterReset, {ids::kNotBackAfterReset, true}},
    {kJobDownloadFailed, {ids::kDownloadFailed, true}},
    {kJobNotCompleted, {ids::kNotCompleted, true}},
    {kJobDriverFilesMissing, {ids::kDriverFilesMissing, false}},
    {kJobDriverPathNotConvertible, {ids::kDriverPathNotConvertible, false}},
    {kJobDriverNotInstalled, {ids::kDriverNotInstalled, false}},
    {kJobEraseIdbFailed, {ids::kEraseIdbFailed, true}},
    {kJobInstallerNotStarted, {ids::kInstallerNotStarted, false}},
    {kJobInstallerResultUnreadable, {ids::kInstallerResultUnreadable, false}},
    {kJobInstallerTimedOut, {ids::kInstallerTimedOut, false}},
};
constexpr int32_t kFailureCount = static_cast<int32_t>(sizeof(kFailures) / sizeof(kFailures[0]));

// Row n holds the code -(n + 1), and every failure code has its row.
constexpr bool EveryFailureInItsRow() {
    for (int32_t row = 0; row < kFailureCount; ++row)
        if (kFailures[row].code != -(row + 1)) return false;
    return kFailureCount == -kJobLastFailure;
}
static_assert(EveryFailureInItsRow(), "the verdict table must hold every failure code in order");

constexpr VerdictKey kUnexpected = {ids::kUnexpectedFailure, true};

} // namespace

VerdictKey VerdictKeyFor(JobMode mode, int32_t code) {
    if (code == kJobFinished)
        return {mode == kModeUpgrade ? ids::kUpgradeFinished : ids::kRepairFinished, false};
    if (code < 0 && code >= kJobLastFailure) return kFailures[-code - 1].verdict;
    return kUnexpected;
}

Verdict VerdictFor(ILanguageTexts &texts, const std::wstring &appTitle, JobMode mode,
                   int32_t code) {
    const VerdictKey key = VerdictKeyFor(mode, code);
    Verdict verdict;
    verdict.text = texts.Text(key.key);
    if (key.withSuffix) verdict.text += texts.Text(ids::kFailureSuffix);
    if (code == kJobFinished) {
        verdict.caption = appTitle;
        verdict.style = mb::kOk | mb::kIconInformation;
    } else {
        verdict.caption = texts.Text(mode == kModeUpgrade ? ids::kUpgradeFailedCaption
                                                          : ids::kRepairFailedCaption);
        verdict.style = mb::kOk | mb::kIconError;
    }
    return verdict;
}

void EndJob(ProcessState &state) {
    ClearDeviceInfo(state.g_deviceInfo);
    state.g_jobActive = 0;
    state.g_upgradeRunning = 0;
    state.g_repairRunning = 0;
}
