#include "records/queue_files_win.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include "records/record_files_win.h"

namespace {

std::wstring Folder(const std::wstring &folder) {
    return !folder.empty() && folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder;
}

} // namespace

bool QueueFilesWin::List(const std::wstring &folder, std::vector<std::wstring> &names,
                         std::wstring &error) {
    names.clear();
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((Folder(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
        error = FileErrorReason(code, folder);
        return false;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    const DWORD code = GetLastError();
    FindClose(search);
    if (code == ERROR_NO_MORE_FILES) return true;
    error = FileErrorReason(code, folder);
    return false;
}

bool QueueFilesWin::Read(const std::wstring &path, std::string &bytes, std::wstring &error) {
    RecordFilesWin file;
    uint64_t size = 0;
    return file.ReadFrom(path, 0, UINT64_MAX, bytes, size, error);
}

bool QueueFilesWin::Create(const std::wstring &path, const std::string &bytes,
                           std::wstring &error) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = FileErrorReason(GetLastError(), path);
        return false;
    }
    // On the disk before the record counts as kept.
    const bool ok = WriteAllBytes(file, bytes) && FlushFileBuffers(file) != 0;
    if (!ok) error = FileErrorReason(GetLastError(), path);
    CloseHandle(file);
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

bool QueueFilesWin::Rename(const std::wstring &from, const std::wstring &to, std::wstring &error) {
    // Without MOVEFILE_REPLACE_EXISTING: of two programs claiming one
    // record, one wins.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    error = FileErrorReason(GetLastError(), from);
    return false;
}

bool QueueFilesWin::Remove(const std::wstring &path, std::wstring &error) {
    if (DeleteFileW(path.c_str())) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    error = FileErrorReason(code, path);
    return false;
}

bool QueueFilesWin::MakeFolder(const std::wstring &folder, std::wstring &error) {
    const std::wstring path = Folder(folder);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
        error = L"the folder " + path + L" is a file";
        return false;
    }
    if (!MakeParentFolders(path + L"\\x", error)) return false;
    return true;
}

bool QueueFilesWin::HoldMark(const std::wstring &path, std::wstring &error) {
    // Every queue of the program shares its one mark.
    static std::mutex guard;
    static std::set<std::wstring> held;
    std::lock_guard<std::mutex> lock(guard);
    if (held.count(path) != 0) return true;
    // Never closed: the system closes it, and deletes the mark, when the
    // process ends, however it ends. Nobody else may open or delete it.
    HANDLE mark = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (mark == INVALID_HANDLE_VALUE) {
        error = FileErrorReason(GetLastError(), path);
        return false;
    }
    held.insert(path);
    return true;
}

bool QueueFilesWin::MarkHeld(const std::wstring &path) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    // A mark left by a program whose handle is gone can be deleted; a
    // living program's cannot.
    if (DeleteFileW(path.c_str())) return false;
    return GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::wstring NewQueueOwner() {
    unsigned char random[6] = {};
    BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    wchar_t token[64];
    std::swprintf(token, sizeof token / sizeof token[0], L"%lu-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(GetCurrentProcessId()), random[0], random[1],
                  random[2], random[3], random[4], random[5]);
    return token;
}
