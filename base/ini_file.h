// The settings file accessor. It keeps only the file's path: every read goes
// to the file, so a value changed while the program runs is seen by the next
// read (the repair job relies on that for ERASE_IDB).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "base/platform.h"

class CIniFile {
  public:
    CIniFile(IFileSystem &files, IProfileReader &profile);

    // Keeps the path of a file that can be read, read-only or not; a missing
    // file is created empty first. On failure (a file that exists but cannot
    // be read, or one that cannot be created) the previous path, if any, is
    // kept.
    bool SetFile(const std::wstring &path);
    std::wstring Path() const;

    // Empty default; the value is cut to bufferChars - 1 characters.
    std::wstring GetString(const std::wstring &section, const std::wstring &key,
                           size_t bufferChars = 260);
    int GetInt(const std::wstring &section, const std::wstring &key); // default 0
    uint32_t GetHex(const std::wstring &section, const std::wstring &key);

  private:
    IFileSystem &m_files;
    IProfileReader &m_profile;
    // The UI thread sets the path at start-up and the repair job sets it again
    // on its own thread.
    mutable std::mutex m_pathGuard;
    std::wstring m_path;
};

// Hexadecimal text with an optional 0x or 0X prefix; stops at the first
// character that is not a hexadecimal digit. Digits beyond the eighth shift
// the higher ones out, leaving the low 32 bits of the value.
uint32_t ParseHex(const std::wstring &text);
