// The platform interfaces of app/platform.h on the Win32 API.
//
#pragma once

#include <windows.h>

#include "base/platform.h"

// GetPrivateProfileStringW / GetPrivateProfileIntW, with the caller's buffer size.
class ProfileReaderWin : public IProfileReader {
  public:
    std::wstring GetString(const std::wstring &file, const std::wstring &section,
                           const std::wstring &key, size_t bufferChars) override;
    int GetInt(const std::wstring &file, const std::wstring &section, const std::wstring &key,
               int defaultValue) override;
};

class FileSystemWin : public IFileSystem {
  public:
    bool OpenForAppend(const std::wstring &path) override; // _wfopen "a+"
    bool OpenForRead(const std::wstring &path) override;   // _wfopen "rb"
    bool PathExists(const std::wstring &path) override;    // PathFileExistsW
    bool HasAttributes(const std::wstring &path) override; // GetFileAttributesW
    bool RemoveFile(const std::wstring &path) override;    // DeleteFileW
    bool MakeDirectory(const std::wstring &path) override; // CreateDirectoryW
    std::vector<FileEntry> FindFiles(const std::wstring &pattern) override;
    bool GetFileStamp(const std::wstring &path, FileStamp &stamp) override;
};

// The system's ANSI code page (CP_ACP). ToAnsi refuses a text with any
// character the code page cannot hold exactly, instead of letting the
// platform put '?' or a look-alike in its place.
class TextCodecWin : public ITextCodec {
  public:
    bool ToAnsi(const std::wstring &text, std::string &ansi) override;
    std::wstring FromAnsi(const std::string &ansi) override;
};

class ClockWin : public IClock {
  public:
    void SleepMs(uint32_t milliseconds) override;            // Sleep
    int64_t NowSeconds() override;                           // time()
    uint64_t TickMs() override;                              // GetTickCount64
    int64_t LocalOffsetSeconds(int64_t utcSeconds) override; // the zone's rules for that date
};
