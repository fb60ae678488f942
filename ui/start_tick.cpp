#include "ui/start_tick.h"

#include "res/resource.h"
#include "ui/image_recheck.h"

bool OnStartTick(CommandContext &ctx) {
    ctx.view.StopTimer(IDT_START); // it runs once
    ctx.view.SetItemText(IDC_STATUS_LINE, ctx.texts.Text(L"IDS_40"));

    std::wstring &firmware = ctx.state.settings.FIRMWARE;
    if (!firmware.empty()) {
        // A refused image keeps the versions the inspection may have written
        // (only Browse clears them); the path goes.
        if (!InspectImage(ctx, firmware)) firmware.clear();
        ctx.view.SetItemText(IDC_FIRMWARE_PATH, firmware);
    }

    ctx.view.SetItemText(IDC_STATUS_LINE, ctx.texts.Text(L"IDS_41"));
    return ctx.startWatcher && ctx.startWatcher();
}
