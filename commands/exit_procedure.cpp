#include "commands/exit_procedure.h"

#include "base/text_keys.h"
#include "device/firmware_check.h"
#include "device/job_start.h"

bool RunExitProcedure(CommandContext &ctx) {
    ProcessState &state = ctx.state;
    const bool jobRunning = state.g_upgradeRunning.load() != 0 || state.g_repairRunning.load() != 0;
    // Leaving during a job can leave the device unusable: that question
    // defaults to No.
    const unsigned defaultButton = jobRunning ? mb::kDefaultButton2 : 0;
    const int chosen = ctx.view.ShowMessage(
        ctx.texts.Text(jobRunning ? ids::kExitWhileJobRuns : ids::kExitQuestion),
        state.g_settings.APPTITLE, mb::kYesNo | mb::kIconExclamation | defaultButton);
    if (chosen == mb::kIdNo) return false;

    // From here on no watcher cycle or job step starts; those under way get a
    // bounded time to leave.
    const bool workersOut = ctx.gate.Close(WaitPump(ctx), kExitWaitMs);
    ctx.view.StopBusy();
    // A job left by the exit is the one a shop most needs on record: the
    // device may be half-written. It ends here, without a verdict.
    TellJobEnded(ctx, kJobClosedDuringJob, kClosedDuringJobKey, L"");

    // The loader file is the program's own whether or not the last image was
    // accepted: a refused image or a failed extraction may have left an old
    // or partial one there with g_loaderFilePath already cleared.
    if (!state.g_tempFolder.empty()) {
        const std::wstring ownLoader = state.g_tempFolder + kLoaderFileName;
        if (ctx.platform.files.PathExists(ownLoader)) ctx.platform.files.RemoveFile(ownLoader);
    }
    if (!state.g_loaderFilePath.empty() && ctx.platform.files.PathExists(state.g_loaderFilePath))
        ctx.platform.files.RemoveFile(state.g_loaderFilePath);

    // A step still blocked inside the library must not have it released
    // under it; the end of the process reclaims it instead.
    if (state.g_libraryInitialized.load() != 0 && workersOut) {
        ctx.library.DllDeInitialize();
        state.g_libraryInitialized = 0;
    }
    return true;
}
