// The few platform services the portable logic needs, as small interfaces.
// The Win32 layer implements them on the real API (profile functions, file
// attributes, the ANSI code page, Sleep and time); tests implement fakes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads profile (INI) files as GetPrivateProfileStringW / GetPrivateProfileIntW
// do: section and key names without regard to case, blanks around values
// dropped, a missing file, section or key giving the default.
class IProfileReader {
  public:
    virtual ~IProfileReader() = default;
    // The value, cut to bufferChars - 1 characters as the platform's buffer
    // would cut it; empty when missing.
    virtual std::wstring GetString(const std::wstring &file, const std::wstring &section,
                                   const std::wstring &key, size_t bufferChars) = 0;
    virtual int GetInt(const std::wstring &file, const std::wstring &section,
                       const std::wstring &key, int defaultValue) = 0;
};

struct FileEntry {
    std::wstring name; // file name only
    bool isDirectory = false;
};

// What tells one version of a file from another without reading it.
struct FileStamp {
    uint64_t size = 0;
    uint64_t lastWrite = 0; // the platform's last-write time, in its own units
    bool operator==(const FileStamp &other) const {
        return size == other.size && lastWrite == other.lastWrite;
    }
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
};

class IFileSystem {
  public:
    virtual ~IFileSystem() = default;
    // Opens the file through the C runtime in mode "a+" (creating it) and
    // closes it at once; false when it cannot be opened.
    virtual bool OpenForAppend(const std::wstring &path) = 0;
    // Opens the file through the C runtime for reading only and closes it at
    // once; false when it is missing or cannot be read.
    virtual bool OpenForRead(const std::wstring &path) = 0;
    virtual bool PathExists(const std::wstring &path) = 0;    // PathFileExistsW
    virtual bool HasAttributes(const std::wstring &path) = 0; // GetFileAttributesW succeeds
    virtual bool RemoveFile(const std::wstring &path) = 0;
    virtual bool MakeDirectory(const std::wstring &path) = 0;
    // The matches of a pattern such as L"C:\\dir\\*.ini" in the order the
    // platform's search returns them ("." and ".." included, as it does).
    virtual std::vector<FileEntry> FindFiles(const std::wstring &pattern) = 0;
    // Size and last-write time of a file; false when there is no such file
    // or they cannot be read, and so nothing can be told apart.
    virtual bool GetFileStamp(const std::wstring &path, FileStamp &stamp) {
        (void)path;
        (void)stamp;
        return false;
    }
};

// Conversions between wide text and the system's ANSI code page.
class ITextCodec {
  public:
    virtual ~ITextCodec() = default;
    // False when a character has no exact representation in the code page:
    // such a text must never reach the device library as '?'.
    virtual bool ToAnsi(const std::wstring &text, std::string &ansi) = 0;
    virtual std::wstring FromAnsi(const std::string &ansi) = 0;
};

// Time and sleep, injectable so that tests take no real time.
class IClock {
  public:
    virtual ~IClock() = default;
    virtual void SleepMs(uint32_t milliseconds) = 0;
    virtual int64_t NowSeconds() = 0; // the C time function
    virtual uint64_t TickMs() = 0;    // a monotonic millisecond counter
    // How far the computer's local time is ahead of UTC at that moment
    // (seconds since 1970, UTC), with the zone's rules for that date.
    virtual int64_t LocalOffsetSeconds(int64_t utcSeconds) = 0;
};

struct Platform {
    IProfileReader &profile;
    IFileSystem &files;
    ITextCodec &codec;
    IClock &clock;
};
