#include <windows.h>

#include <climits>
#include <vector>

#include "base/platform_win.h"

std::wstring ProfileReaderWin::GetString(const std::wstring &file, const std::wstring &section,
                                         const std::wstring &key, size_t bufferChars) {
    if (bufferChars == 0 || bufferChars > UINT_MAX) return std::wstring();
    std::vector<wchar_t> buffer(bufferChars, L'\0');
    const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(),
                                                  static_cast<DWORD>(bufferChars), file.c_str());
    return std::wstring(buffer.data(), length < bufferChars ? length : bufferChars - 1);
}

int ProfileReaderWin::GetInt(const std::wstring &file, const std::wstring &section,
                             const std::wstring &key, int defaultValue) {
    return static_cast<int>(
        GetPrivateProfileIntW(section.c_str(), key.c_str(), defaultValue, file.c_str()));
}
