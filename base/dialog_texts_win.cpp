#include "base/dialog_texts_win.h"

#include "base/platform_win.h"

namespace {

constexpr size_t kTextChars = 1000;

bool TakesText(HWND control) {
    wchar_t className[256] = L"";
    if (GetClassNameW(control, className, 256) == 0) return false;
    return lstrcmpiW(className, L"Button") == 0 || lstrcmpiW(className, L"Static") == 0;
}

} // namespace

void ApplyDialogTexts(HWND dialog, int templateId, const std::wstring &languageFile) {
    // With no file the platform would fall back to its own WIN.INI.
    if (dialog == nullptr || languageFile.empty()) return;
    ProfileReaderWin profile;
    const std::wstring prefix = L"IDD" + std::to_wstring(templateId) + L"_";

    const std::wstring title =
        profile.GetString(languageFile, L"String", prefix + L"TITLE", kTextChars);
    if (!title.empty()) SetWindowTextW(dialog, title.c_str());

    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        // A control without an id has -1 in an extended template and its
        // 16-bit form 0xFFFF in a classic one.
        if (id == -1 || id == 0xFFFF || !TakesText(child)) continue;
        const std::wstring text =
            profile.GetString(languageFile, L"String", prefix + std::to_wstring(id), kTextChars);
        if (!text.empty()) SetWindowTextW(child, text.c_str());
    }
}
