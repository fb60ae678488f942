#include "commands/start_tick.h"

#include "base/text_keys.h"
#include "commands/image_recheck.h"
#include "res/resource.h"

bool OnStartTick(CommandContext &ctx) {
    ctx.view.StopTimer(IDT_START); // it runs once
    ctx.view.SetItemText(IDC_STATUS_LINE, ctx.texts.Text(ids::kCheckingFirmware));

    std::wstring &firmware = ctx.state.g_settings.FIRMWARE;
    if (!firmware.empty()) {
        // A refused image keeps the versions the inspection may have written
        // (only Browse clears them); the path goes.
        if (!InspectAndRemember(ctx, firmware)) firmware.clear();
        ctx.view.SetItemText(IDC_FIRMWARE_PATH, firmware);
    }

    ctx.view.SetItemText(IDC_STATUS_LINE, ctx.texts.Text(ids::kReady));
    return ctx.host.StartWatcher();
}
