#include <windows.h>

#include <climits>

#include "base/platform_win.h"

bool TextCodecWin::ToAnsi(const std::wstring &text, std::string &ansi) {
    ansi.clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX) return false;
    const int wideLength = static_cast<int>(text.size());
    // The default-character report is refused for UTF-8; there every
    // character converts, so only broken surrogates need refusing.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL *usedDefaultOut = utf8 ? nullptr : &usedDefault;

    const int size = WideCharToMultiByte(CP_ACP, flags, text.data(), wideLength, nullptr, 0,
                                         nullptr, usedDefaultOut);
    if (size <= 0 || usedDefault) return false;
    std::string out(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, text.data(), wideLength, &out[0], size, nullptr,
                            usedDefaultOut) != size ||
        usedDefault)
        return false;
    ansi.swap(out);
    return true;
}

std::wstring TextCodecWin::FromAnsi(const std::string &ansi) {
    if (ansi.empty() || ansi.size() > INT_MAX) return std::wstring();
    const int length = static_cast<int>(ansi.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, &wide[0], size);
    return wide;
}
