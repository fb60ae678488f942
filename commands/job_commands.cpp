#include "commands/job_commands.h"

#include "base/text_keys.h"
#include "commands/image_recheck.h"
#include "commands/question.h"
#include "device/job_start.h"
#include "device/job_verdict.h"
#include "res/resource.h"

namespace {

struct JobKind {
    JobMode mode;
    bool refusesMaskRom; // a mask-ROM device cannot be upgraded, only repaired
    const wchar_t *confirmKey;
    const wchar_t *statusKey;
    std::atomic<int32_t> ProcessState::*runningFlag;
};

const JobKind kUpgrade = {kModeUpgrade, true, ids::kUpgradeQuestion, ids::kUpgrading,
                          &ProcessState::g_upgradeRunning};
const JobKind kRepair = {kModeRepair, false, ids::kRepairQuestion, ids::kRepairing,
                         &ProcessState::g_repairRunning};

void Refuse(CommandContext &ctx, const wchar_t *key) {
    ctx.view.ShowMessage(ctx.texts.Text(key), ctx.state.g_settings.APPTITLE,
                         mb::kOk | mb::kIconExclamation);
}

// Only an explicit Yes goes on: a box that could not be shown (0) must not
// start a job nobody confirmed.
bool AskYes(CommandContext &ctx, const wchar_t *key, const std::optional<std::wstring> &caption,
            unsigned style) {
    return AskQuestion(ctx.view, ctx.texts, key, caption, style) == mb::kIdYes;
}

// The checks and questions before a job, in the order the user meets them.
// False abandons the click.
bool ConfirmJob(CommandContext &ctx, const JobKind &kind) {
    ProcessState &state = ctx.state;
    // The checks and questions below use what the image file holds now.
    if (!ImageStillInspected(ctx)) return false;
    if (state.g_findResult.load() > 1) {
        Refuse(ctx, ids::kSeveralDevicesRefused);
        return false;
    }
    if (state.g_deviceInfo.identity == 0) {
        Refuse(ctx, ids::kNoDeviceRefused);
        return false;
    }
    if (state.g_settings.FIRMWARE.empty()) {
        Refuse(ctx, ids::kChooseFirmwareFirst);
        return false;
    }

    const uint16_t deviceLoader = ctx.model.m_deviceLoaderVersion.load();
    const uint16_t imageLoader = ctx.model.m_imageLoaderVersion.load();
    if (deviceLoader == kNoLoaderVersion || imageLoader == kNoLoaderVersion) {
        // Without both versions the library's own loader question must reach
        // the user during the job.
        state.g_autoConfirmLoader = 0;
    } else if (deviceLoader > imageLoader) {
        // No caption: this is the library's question, asked ahead of time.
        if (!AskYes(ctx, ids::kOlderLoaderQuestion, std::nullopt,
                    mb::kYesNo | mb::kIconInformation | mb::kDefaultButton2))
            return false;
        state.g_autoConfirmLoader = 1;
    }

    if (kind.refusesMaskRom && state.g_deviceInfo.deviceType == QV_DEVICE_MASKROM) {
        Refuse(ctx, ids::kMaskRomCannotUpgrade);
        return false;
    }
    if (ctx.confirmedBeforehand) return true;
    return AskYes(ctx, kind.confirmKey, state.g_settings.APPTITLE,
                  mb::kYesNo | mb::kIconExclamation | mb::kDefaultButton2);
}

bool RunJobCommand(CommandContext &ctx, const JobKind &kind) {
    ProcessState &state = ctx.state;
    // A click that arrives while another click is confirming or a job runs
    // (a queued command, or one sent by another program) must neither start
    // a second job on the same device nor, on its way out, hand the device
    // back to the watcher under the job.
    if (state.g_jobActive.exchange(1) != 0) return false;
    // A watcher cycle that began before the flag was set may still be writing
    // g_findResult and g_deviceInfo; the checks must see what it leaves. A
    // cycle blocked in the library gives the click up instead: nothing has
    // been shown or started yet, and the next click tries again.
    const WorkerGate::Pump pump = ctx.windowPump ? ctx.windowPump : WaitPump(ctx);
    if (!ctx.gate.WaitForWatchIdle(pump, ctx.watchIdleWaitMs)) {
        state.g_jobActive = 0;
        return false;
    }

    if (!ConfirmJob(ctx, kind)) {
        state.g_jobActive = 0;
        return false;
    }

    IMainView &view = ctx.view;
    view.EnableItem(IDC_UPGRADE, false);
    view.EnableItem(IDC_REPAIR, false);
    view.EnableItem(IDC_BROWSE, false);
    view.StartBusy();
    view.SetItemText(IDC_STATUS_LINE, ctx.texts.Text(kind.statusKey));
    view.SetItemText(IDC_DETAIL_LINE, L"");
    state.g_jobStartTime = ctx.platform.clock.NowSeconds();
    view.StartTimer(IDT_ELAPSED, 200);
    (state.*kind.runningFlag) = 1;

    if (ctx.host.StartJob(kind.mode)) return true;
    // No thread will ever post a result: report it as one, so the window
    // leaves Job running, the record has its line and the watcher takes the
    // device back.
    TellJobEnded(
        ctx, kJobThreadNotStarted, VerdictKeyFor(kind.mode, kJobThreadNotStarted).key,
        VerdictFor(ctx.texts, state.g_settings.APPTITLE, kind.mode, kJobThreadNotStarted).text);
    ShowJobVerdict(ctx, kind.mode, kJobThreadNotStarted);
    return false;
}

} // namespace

bool OnUpgrade(CommandContext &ctx) {
    return RunJobCommand(ctx, kUpgrade);
}

bool OnRepair(CommandContext &ctx) {
    return RunJobCommand(ctx, kRepair);
}
