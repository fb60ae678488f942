#include "commands/elapsed_time.h"

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
}
