#include "commands/job_watchdog.h"

#include "base/text_format.h"
#include "base/text_keys.h"

namespace {

constexpr uint64_t kMsPerSecond = 1000;

} // namespace

std::wstring OverdueStepName(const JobWatch::Overdue &overdue) {
    return overdue.step + L" (" + std::to_wstring(overdue.runningMs / kMsPerSecond) + L" s)";
}

std::wstring CheckRunningJob(CommandContext &ctx, uint64_t nowMs) {
    if (ctx.watch == nullptr) return L"";
    JobWatch::Overdue overdue;
    switch (ctx.watch->Check(nowMs, overdue)) {
    case JobWatch::Finding::ThreadNeverBegan: {
        const JobMode mode = ctx.state.g_repairRunning.load() != 0 ? kModeRepair : kModeUpgrade;
        ctx.view.PostUpgradeResult(mode, kJobThreadNotStarted);
        return L"";
    }
    case JobWatch::Finding::StepOverdue:
        return FormatLangText(ctx.texts.Text(ids::kStepOverdue), OverdueStepName(overdue));
    case JobWatch::Finding::None:
        break;
    }
    return L"";
}
