// Test doubles for the platform interfaces of base/platform.h, usable by any
// test:
//   IniProfileFake  - reads profile files as the platform's profile functions
//                     do, from disk or from a FakeFileSystem;
//   FakeFileSystem  - an in-memory file system with Windows-style paths;
//   Latin1TextCodec - an "ANSI code page" holding only Latin-1;
//   FakeClock       - time that moves only when slept.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/platform.h"

// Decodes the bytes of a profile file: UTF-16LE after its byte-order mark,
// UTF-8 with or without one, and otherwise (bytes that are not UTF-8) each
// byte as its Latin-1 character, standing in for an ANSI code page.
std::wstring DecodeProfileBytes(const std::string &bytes);

// UTF-16LE with byte-order mark, as a translator's editor saves it.
std::string EncodeUtf16LeWithBom(const std::wstring &text);
std::string EncodeUtf8(const std::wstring &text);

class FakeFileSystem;

// Follows the platform's dialect: section and key names compared without
// regard to ASCII case, blanks around names and values dropped, one pair of
// matching quotes around a value removed, lines starting with ';' ignored,
// the first of duplicate sections or keys winning, a value cut to
// bufferChars - 1 characters. GetInt reads an optional sign and a decimal,
// 0x hexadecimal, 0o octal or 0b binary number up to its first other
// character, and gives the default for a missing or empty value.
class IniProfileFake : public IProfileReader {
  public:
    IniProfileFake() = default; // reads the disk
    explicit IniProfileFake(FakeFileSystem &files) : m_files(&files) {}

    std::wstring GetString(const std::wstring &file, const std::wstring &section,
                           const std::wstring &key, size_t bufferChars) override;
    int GetInt(const std::wstring &file, const std::wstring &section, const std::wstring &key,
               int defaultValue) override;

    // Every key of one section, in file order (first occurrence of each).
    std::vector<std::pair<std::wstring, std::wstring>> Section(const std::wstring &file,
                                                               const std::wstring &section);

    int reads = 0; // how often a file was read: nothing may be cached

  private:
    bool Load(const std::wstring &file, std::wstring &text);
    bool Find(const std::wstring &file, const std::wstring &section, const std::wstring &key,
              std::wstring &value);

    FakeFileSystem *m_files = nullptr;
};

// Paths compare without regard to ASCII case, as on Windows. A file's folders
// exist as soon as the file does; an empty folder is added with AddFolder.
class FakeFileSystem : public IFileSystem {
  public:
    void AddFile(const std::wstring &path, const std::string &bytes = std::string());
    void AddTextFile(const std::wstring &path, const std::wstring &text); // stored as UTF-8
    void AddFolder(const std::wstring &path);
    bool HasFile(const std::wstring &path) const;
    bool HasFolder(const std::wstring &path) const;
    const std::string *Content(const std::wstring &path) const;

    // Paths that OpenForAppend, or MakeDirectory, refuses (a read-only file or
    // folder), and files that cannot be read at all.
    std::set<std::wstring> refuseOpen;
    std::set<std::wstring> refuseRead;
    std::set<std::wstring> refuseCreate;

    bool OpenForAppend(const std::wstring &path) override;
    bool OpenForRead(const std::wstring &path) override;
    bool PathExists(const std::wstring &path) override;
    bool HasAttributes(const std::wstring &path) override;
    bool RemoveFile(const std::wstring &path) override;
    bool MakeDirectory(const std::wstring &path) override;
    // Supports "<folder>\*" and "<folder>\*.<ext>"; returns ".", ".." and the
    // folder's entries in the order they were added.
    std::vector<FileEntry> FindFiles(const std::wstring &pattern) override;
    // The size of the content and the number of the write that last set it.
    bool GetFileStamp(const std::wstring &path, FileStamp &stamp) override;

    std::vector<std::wstring> calls; // "OpenForAppend <path>", "MakeDirectory <path>", ...
    // The paths of the calls of one kind ("RemoveFile"), in order.
    std::vector<std::wstring> CallsOf(const std::wstring &kind) const;
    // Forgets every file and folder.
    void Clear() { m_entries.clear(); }

  private:
    struct Entry {
        std::wstring path;
        bool isFolder = false;
        std::string bytes;
        uint64_t written = 0; // which write set the bytes: the last-write time
    };
    bool Exists(const std::wstring &path) const;
    Entry *Lookup(const std::wstring &path);
    const Entry *Lookup(const std::wstring &path) const;
    std::vector<Entry> m_entries; // in order of creation
    uint64_t m_writes = 0;
};

// U+0000..U+00FF convert byte for byte; anything else has no representation.
class Latin1TextCodec : public ITextCodec {
  public:
    bool ToAnsi(const std::wstring &text, std::string &ansi) override;
    std::wstring FromAnsi(const std::string &ansi) override;
};

// The one clock: sleeps return at once and only advance it. NowSeconds is
// epochSeconds plus the whole seconds slept.
class FakeClock : public IClock {
  public:
    std::function<void(uint32_t)> onSleep;
    void SleepMs(uint32_t ms) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sleeps.push_back(ms);
            m_now += ms;
        }
        if (onSleep) onSleep(ms);
    }
    int64_t NowSeconds() override { return epochSeconds + static_cast<int64_t>(TickMs() / 1000); }
    uint64_t TickMs() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_now;
    }
    std::vector<uint32_t> Sleeps() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sleeps;
    }
    int64_t LocalOffsetSeconds(int64_t) override { return localOffsetSeconds; }
    std::atomic<int64_t> epochSeconds{0};
    std::atomic<int64_t> localOffsetSeconds{0};

  private:
    std::mutex m_mutex;
    std::vector<uint32_t> m_sleeps;
    uint64_t m_now = 0;
};
