#include "commands/image_recheck.h"

#include "res/resource.h"

bool InspectAndRemember(CommandContext &ctx, const std::wstring &path) {
    MainWindowModel &model = ctx.model;
    // Taken before the inspection reads the file: a change while it reads
    // then shows at the next click.
    FileStamp stamp;
    const bool stampKnown = ctx.platform.files.GetFileStamp(path, stamp);
    const bool usable = ctx.host.InspectImage(path);
    if (usable) {
        model.m_inspectedImage = path;
        model.m_inspectedStamp = stamp;
        model.m_inspectedStampKnown = stampKnown;
    } else {
        model.m_inspectedImage.clear();
        model.m_inspectedStampKnown = false;
    }
    return usable;
}

bool ImageStillInspected(CommandContext &ctx) {
    const std::wstring firmware = ctx.state.g_settings.FIRMWARE;
    if (firmware.empty()) return true;

    MainWindowModel &model = ctx.model;
    FileStamp now;
    // A file whose stamp cannot be read cannot be vouched for: it is
    // inspected again, and a missing file is refused by the inspection.
    if (model.m_inspectedStampKnown && model.m_inspectedImage == firmware &&
        ctx.platform.files.GetFileStamp(firmware, now) && now == model.m_inspectedStamp) {
        return true;
    }
    if (InspectAndRemember(ctx, firmware)) return true;

    // As after a refused choice: no job may start on an image the user no
    // longer sees.
    ctx.view.SetItemText(IDC_FIRMWARE_PATH, L"");
    ctx.view.SetItemText(IDC_IMAGE_SW_VERSION, L"");
    ctx.view.SetItemText(IDC_IMAGE_LOADER_VERSION, L"");
    ctx.state.g_settings.FIRMWARE.clear();
    return false;
}
