#include <windows.h>

#include <shlwapi.h>

#include <cstdio>

#include "base/platform_win.h"

// The interface's members are named RemoveFile and MakeDirectory because
// <windows.h> turns DeleteFile and CreateDirectory into macros.

bool FileSystemWin::OpenForAppend(const std::wstring &path) {
    FILE *file = _wfopen(path.c_str(), L"a+");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

bool FileSystemWin::OpenForRead(const std::wstring &path) {
    FILE *file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

bool FileSystemWin::PathExists(const std::wstring &path) {
    return PathFileExistsW(path.c_str()) != FALSE;
}

bool FileSystemWin::HasAttributes(const std::wstring &path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileSystemWin::RemoveFile(const std::wstring &path) {
    return ::DeleteFileW(path.c_str()) != FALSE;
}

bool FileSystemWin::MakeDirectory(const std::wstring &path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

std::vector<FileEntry> FileSystemWin::FindFiles(const std::wstring &pattern) {
    std::vector<FileEntry> found;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        found.push_back(
            FileEntry{data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return found;
}
