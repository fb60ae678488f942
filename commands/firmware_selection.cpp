#include "commands/firmware_selection.h"

#include "commands/image_recheck.h"
#include "res/resource.h"

std::wstring BuildFirmwareFilter(const std::wstring &extension) {
    std::wstring filter =
        L"QV70 Firmware(*." + extension + L")|*." + extension + L"|All Files(*.*)|*.*||";
    for (wchar_t &c : filter) {
        if (c == L'|') c = L'\0';
    }
    return filter;
}

void OnFirmwareChosen(CommandContext &ctx, const std::wstring &path) {
    const bool usable = InspectAndRemember(ctx, path);
    if (usable) {
        ctx.view.SetItemText(IDC_FIRMWARE_PATH, path);
        ctx.state.g_settings.FIRMWARE = path;
        return;
    }
    // Forget the earlier choice too, so no job starts on an image the user
    // no longer sees.
    ctx.view.SetItemText(IDC_FIRMWARE_PATH, L"");
    ctx.view.SetItemText(IDC_IMAGE_SW_VERSION, L"");
    ctx.view.SetItemText(IDC_IMAGE_LOADER_VERSION, L"");
    ctx.state.g_settings.FIRMWARE.clear();
}
