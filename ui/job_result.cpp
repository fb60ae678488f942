#include "device/device_record.h"
#include "res/resource.h"
#include "ui/job_commands.h"
#include "ui/job_verdict.h"
#include "ui/question.h"

void OnUpgradeResult(CommandContext &ctx, unsigned mode, int32_t code) {
    IMainView &view = ctx.view;
    // The elapsed time and the busy bar freeze while the verdict is read.
    view.StopTimer(IDT_ELAPSED);
    const Verdict verdict = VerdictFor(ctx.texts, ctx.state.settings.APPTITLE, mode, code);
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

    // The record is cleared before the watcher may run again, so a device
    // still connected counts as new and is announced afresh.
    ClearDeviceInfo(ctx.state.g_deviceInfo);
    ctx.state.g_jobActive = 0;
    ctx.state.g_upgradeRunning = 0;
    ctx.state.g_repairRunning = 0;
}

void OnDevicePrompt(CommandContext &ctx, unsigned kind, int32_t *answer) {
    if (answer == nullptr) return;
    const wchar_t *key = nullptr;
    switch (kind) {
    case 0:
        if (ctx.state.g_autoConfirmLoader.load() != 0) {
            *answer = 1; // the user said yes to this before the job
            return;
        }
        key = L"IDS_128";
        break;
    case 1:
        key = L"IDS_129";
        break;
    case 2:
        key = L"IDS_130";
        break;
    default:
        *answer = 0;
        return;
    }
    const int chosen =
        AskQuestion(ctx.view, ctx.texts, key, std::nullopt, mb::kYesNo | mb::kIconInformation);
    *answer = chosen == mb::kIdYes ? 1 : 0;
}
