#include "commands/elapsed_time.h"

#include "commands/job_watchdog.h"
#include "res/resource.h"

namespace {

std::wstring TwoDigits(int64_t value) {
    std::wstring text = std::to_wstring(value);
    if (text.size() < 2) text.insert(0, 2 - text.size(), L'0');
    return text;
}

} // namespace

std::wstring FormatElapsed(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    return TwoDigits(seconds / 60) + L":" + TwoDigits(seconds % 60);
}

void OnElapsedTick(CommandContext &ctx) {
    const int64_t elapsed = ctx.platform.clock.NowSeconds() - ctx.state.g_jobStartTime.load();
    ctx.view.SetItemText(IDC_ELAPSED_TIME, FormatElapsed(elapsed));
    // The job's own phases keep the detail line; a call that does not
    // return takes it over until the next phase.
    const std::wstring overdue = CheckRunningJob(ctx, ctx.platform.clock.TickMs());
    if (!overdue.empty()) ctx.view.SetItemText(IDC_DETAIL_LINE, overdue);
}
