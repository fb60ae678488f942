#include "records/record_files_win.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

// The longest path the plain file functions take, its terminator excluded.
constexpr size_t kLongestPathChars = MAX_PATH - 1;

std::wstring SystemMessage(DWORD error) {
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring message = length && text ? std::wstring(text, length) : std::wstring();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    if (message.empty()) message = L"error " + std::to_wstring(error);
    return message;
}

} // namespace

// What a user can do about a refused path, in place of the bare system text
// where that says too little.
std::wstring FileErrorReason(unsigned long error, const std::wstring &path) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return L"another program (a spreadsheet?) holds the file open and lets nobody write to "
               L"it; the lines wait and are written once it is closed";
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_NO_NET_OR_BAD_PATH:
        return L"the network share of " + path + L" cannot be reached (" + SystemMessage(error) +
               L")";
    case ERROR_FILENAME_EXCED_RANGE:
        return L"the path is longer than Windows allows";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return L"the disk is full";
    default:
        return SystemMessage(error);
    }
}

namespace {

std::wstring Reason(DWORD error, const std::wstring &path) {
    return FileErrorReason(error, path);
}

bool TooLong(const std::wstring &path, std::wstring &error) {
    if (path.size() <= kLongestPathChars) return false;
    error = L"the path is " + std::to_wstring(path.size()) +
            L" characters long; Windows allows at most " + std::to_wstring(kLongestPathChars);
    return true;
}

// The first folder that may be made: past "C:\" and past "\\server\share\".
size_t FirstMakeable(const std::wstring &path) {
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        size_t at = path.find_first_of(L"\\/", 2); // after the server
        if (at == std::wstring::npos) return path.size();
        at = path.find_first_of(L"\\/", at + 1); // after the share
        return at == std::wstring::npos ? path.size() : at + 1;
    }
    if (path.size() >= 3 && path[1] == L':') return 3;
    return 0;
}

bool IsFolder(const std::wstring &path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file to append to, made when missing, refused with a reason first when
// it cannot be a file: a folder of that name, a read-only file, a path too
// long.
HANDLE OpenForAppend(const std::wstring &path, DWORD share, std::wstring &error) {
    if (TooLong(path, error)) return INVALID_HANDLE_VALUE;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = L"it is a folder, not a file";
        return INVALID_HANDLE_VALUE;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        error = L"the file is read-only";
        return INVALID_HANDLE_VALUE;
    }
    if (!MakeParentFolders(path, error)) return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, share, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) error = Reason(GetLastError(), path);
    return file;
}

} // namespace

bool WriteAllBytes(void *file, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!WriteFile(static_cast<HANDLE>(file), bytes.data() + done, chunk, &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

bool MakeParentFolders(const std::wstring &filePath, std::wstring &error) {
    const size_t slash = filePath.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return true;
    const std::wstring folder = filePath.substr(0, slash);
    if (IsFolder(folder)) return true;
    // Each missing level in turn, from the top.
    for (size_t at = FirstMakeable(folder); at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != L'\\' && folder[at] != L'/') continue;
        const std::wstring level = folder.substr(0, at);
        if (level.empty() || IsFolder(level)) continue;
        if (!CreateDirectoryW(level.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD code = GetLastError();
            error = L"the folder " + level + L" cannot be made: " + Reason(code, level);
            return false;
        }
    }
    if (IsFolder(folder)) return true;
    error = L"the folder " + folder + L" cannot be made";
    return false;
}

bool RecordFilesWin::ReadFrom(const std::wstring &path, uint64_t offset, uint64_t limit,
                              std::string &bytes, uint64_t &size, std::wstring &error) {
    bytes.clear();
    size = 0;
    if (TooLong(path, error)) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return true;
        if (code == ERROR_PATH_NOT_FOUND) return true; // its folder is made with the first line
        error = IsFolder(path) ? L"it is a folder, not a file" : Reason(code, path);
        return false;
    }
    LARGE_INTEGER length{};
    bool ok = GetFileSizeEx(file, &length) != 0;
    size = ok ? static_cast<uint64_t>(length.QuadPart) : 0;
    if (ok && size > offset) {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
        std::vector<char> buffer(1 << 16);
        while (ok && bytes.size() < limit) {
            DWORD got = 0;
            const DWORD want =
                static_cast<DWORD>(std::min<uint64_t>(buffer.size(), limit - bytes.size()));
            ok = ReadFile(file, buffer.data(), want, &got, nullptr);
            if (!ok || got == 0) break;
            bytes.append(buffer.data(), got);
        }
    }
    if (!ok) error = Reason(GetLastError(), path);
    CloseHandle(file);
    return ok;
}

bool RecordFilesWin::Append(const std::wstring &path, const std::string &header,
                            const std::string &line, std::wstring &error) {
    // Appending only, shared for reading and writing: the window and a
    // station may append to one file, and a reader that shares writing
    // does not stop the next line.
    HANDLE file = OpenForAppend(path, FILE_SHARE_READ | FILE_SHARE_WRITE, error);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) != 0;
    // A new file starts with the byte-order mark, so that a spreadsheet
    // reads its texts as UTF-8, and with the column names. One write: a
    // reader never sees half of the line.
    const std::string bytes = ok && size.QuadPart == 0 ? "\xEF\xBB\xBF" + header + line : line;
    if (ok) ok = WriteAllBytes(file, bytes);
    if (!ok) error = Reason(GetLastError(), path);
    CloseHandle(file);
    return ok;
}

bool RecordFilesWin::ReplaceStart(const std::wstring &path, const std::string &before,
                                  const std::string &after, std::wstring &error) {
    const std::wstring copy = path + L".new";
    if (TooLong(copy, error)) return false;
    // Read shared for reading only: no line is appended while the copy is
    // made, and a program that holds the file for writing makes this wait
    // for a later try.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Reason(GetLastError(), path);
        return false;
    }
    std::string bytes;
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        ok = ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) != 0;
        if (!ok || got == 0) break;
        bytes.append(buffer.data(), got);
    }
    if (!ok) error = Reason(GetLastError(), path);
    if (ok && bytes.compare(0, before.size(), before) != 0) {
        error = L"the file no longer begins as it did";
        ok = false;
    }
    HANDLE fresh = INVALID_HANDLE_VALUE;
    if (ok) {
        fresh = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (fresh == INVALID_HANDLE_VALUE) {
            error = Reason(GetLastError(), copy);
            ok = false;
        }
    }
    if (ok) {
        ok = WriteAllBytes(fresh, after) && WriteAllBytes(fresh, bytes.substr(before.size())) &&
             FlushFileBuffers(fresh) != 0;
        if (!ok) error = Reason(GetLastError(), copy);
    }
    const bool made = fresh != INVALID_HANDLE_VALUE;
    if (made) CloseHandle(fresh);
    CloseHandle(file);
    // The copy takes the file's place in one step, or the file stays as it
    // was and the copy goes.
    if (ok && !MoveFileExW(copy.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Reason(GetLastError(), path);
        ok = false;
    }
    if (!ok && made) DeleteFileW(copy.c_str());
    return ok;
}

bool RecordFilesWin::MakeFolderOf(const std::wstring &path, std::wstring &error) {
    return !TooLong(path, error) && MakeParentFolders(path, error);
}

bool RecordFilesWin::IsFolder(const std::wstring &path) {
    return ::IsFolder(path);
}
