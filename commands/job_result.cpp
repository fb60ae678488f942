#include "base/text_keys.h"
#include "commands/job_commands.h"
#include "commands/question.h"
#include "device/job_verdict.h"
#include "res/resource.h"

void ShowJobVerdict(CommandContext &ctx, JobMode mode, int32_t code) {
    IMainView &view = ctx.view;
    // The elapsed time and the busy bar freeze while the verdict is read.
    view.StopTimer(IDT_ELAPSED);
    const Verdict verdict = VerdictFor(ctx.texts, ctx.state.g_settings.APPTITLE, mode, code);
    view.StopBusy();
    view.ShowMessage(verdict.text, verdict.caption, verdict.style);

    view.SetItemText(IDC_DEVICE_NAME, L"");
    view.SetItemText(IDC_STATUS_LINE, L"");
    view.SetItemText(IDC_DETAIL_LINE, L"");
    view.EnableItem(IDC_BROWSE, true);
    view.SetItemText(IDC_DEVICE_SW_VERSION, L"");
    view.SetItemText(IDC_DEVICE_LOADER_VERSION, L"");
    view.SetItemText(IDC_ELAPSED_TIME, L"");
    view.ResetBusy();

    if (ctx.watch != nullptr) ctx.watch->JobEnded();
    EndJob(ctx.state);
}

void AnswerDevicePrompt(CommandContext &ctx, uint32_t kind, int32_t *answer) {
    if (answer == nullptr) return;
    const wchar_t *key = nullptr;
    switch (kind) {
    case kPromptOlderLoader:
        if (ctx.state.g_autoConfirmLoader.load() != 0) {
            *answer = 1; // the user said yes to this before the job
            return;
        }
        key = ids::kOlderLoaderQuestion;
        break;
    case kPromptContinue:
        key = ids::kDeviceAsksToContinue;
        break;
    case kPromptMayNotComplete:
        key = ids::kDeviceWarnsContinue;
        break;
    default:
        *answer = 0;
        return;
    }
    const int chosen = AskQuestion(ctx.view, ctx.texts, key, std::nullopt,
                                   mb::kYesNo | mb::kIconInformation | mb::kDefaultButton2);
    *answer = chosen == mb::kIdYes ? 1 : 0;
}
