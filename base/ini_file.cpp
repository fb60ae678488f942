#include "base/ini_file.h"

CIniFile::CIniFile(IFileSystem &files, IProfileReader &profile)
    : m_files(files), m_profile(profile) {}

bool CIniFile::SetFile(const std::wstring &path) {
    if (path.empty()) return false;
    // The program never writes the file, so a read-only one is as good as any:
    // appending is only the way to create a missing one (every default then
    // holds). A file that exists but cannot be read is refused.
    const bool usable =
        m_files.OpenForRead(path) || (!m_files.HasAttributes(path) && m_files.OpenForAppend(path));
    if (!usable) return false;
    std::lock_guard<std::mutex> lock(m_pathGuard);
    m_path = path;
    return true;
}

std::wstring CIniFile::Path() const {
    std::lock_guard<std::mutex> lock(m_pathGuard);
    return m_path;
}

std::wstring CIniFile::GetString(const std::wstring &section, const std::wstring &key,
                                 size_t bufferChars) {
    const std::wstring path = Path();
    // With no file the platform would fall back to its own WIN.INI.
    if (path.empty() || bufferChars == 0) return std::wstring();
    return m_profile.GetString(path, section, key, bufferChars);
}

int CIniFile::GetInt(const std::wstring &section, const std::wstring &key) {
    const std::wstring path = Path();
    if (path.empty()) return 0;
    return m_profile.GetInt(path, section, key, 0);
}

uint32_t CIniFile::GetHex(const std::wstring &section, const std::wstring &key) {
    return ParseHex(GetString(section, key, 64));
}

uint32_t ParseHex(const std::wstring &text) {
    size_t i = 0;
    if (text.size() >= 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) i = 2;
    uint32_t value = 0; // unsigned: shifting digits out at the top is well defined
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        uint32_t digit;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<uint32_t>(c - L'0');
        } else if (c >= L'a' && c <= L'f') {
            digit = static_cast<uint32_t>(c - L'a' + 10);
        } else if (c >= L'A' && c <= L'F') {
            digit = static_cast<uint32_t>(c - L'A' + 10);
        } else {
            break;
        }
        value = (value << 4) | digit;
    }
    return value;
}
