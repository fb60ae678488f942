// A folder of its own for one test, removed with everything in it at the end.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

class TempFolder {
  public:
    explicit TempFolder(const std::wstring &leaf = L"") {
        wchar_t temp[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, temp);
        static int serial = 0;
        m_path = std::wstring(temp) + L"qv_app_test_" + std::to_wstring(GetCurrentProcessId()) +
                 L"_" + std::to_wstring(++serial) + leaf + L"\\";
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(m_path.substr(0, m_path.size() - 1)); }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    // Ends with a backslash.
    const std::wstring &Path() const { return m_path; }

    static bool WriteBytes(const std::wstring &path, const std::string &bytes) {
        FILE *file = _wfopen(path.c_str(), L"wb");
        if (file == nullptr) return false;
        const bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        return fclose(file) == 0 && ok;
    }

    // UTF-16LE with byte-order mark.
    static bool WriteUtf16(const std::wstring &path, const std::wstring &text) {
        std::string bytes = "\xFF\xFE";
        bytes.append(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(wchar_t));
        return WriteBytes(path, bytes);
    }

  private:
    static void RemoveTree(const std::wstring &folder) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring path = folder + L"\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(path);
                } else {
                    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(path.c_str());
                }
            } while (FindNextFileW(search, &data));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring m_path;
};
