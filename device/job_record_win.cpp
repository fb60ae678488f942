#include "device/job_record_win.h"

#include <windows.h>

#include <bcrypt.h>

#include <vector>

namespace {

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

// The parent folder ("Log" of "Log\jobs.csv"), made when missing; one level
// only, as the program makes its log folder.
void MakeParentFolder(const std::wstring &path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return;
    const std::wstring folder = path.substr(0, slash);
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryW(folder.c_str(), nullptr);
}

bool WriteAll(HANDLE file, const std::string &bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

class HashHandles {
  public:
    ~HashHandles() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

bool Sha256OfFile(HANDLE file, std::wstring &hex) {
    HashHandles handles;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&handles.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return false;
    if (!BCRYPT_SUCCESS(
            BCryptCreateHash(handles.algorithm, &handles.hash, nullptr, 0, nullptr, 0, 0)))
        return false;
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return false;
        if (got == 0) break;
        if (!BCRYPT_SUCCESS(BCryptHashData(handles.hash, buffer.data(), got, 0))) return false;
    }
    unsigned char digest[32];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(handles.hash, digest, sizeof digest, 0))) return false;
    static const wchar_t kDigits[] = L"0123456789abcdef";
    hex.clear();
    for (unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return true;
}

} // namespace

bool JobRecordStoreWin::Append(const std::wstring &path, const std::string &header,
                               const std::string &line, std::wstring &error) {
    MakeParentFolder(path);
    // Appending only, shared for reading and writing: a spreadsheet that
    // holds the file open does not stop the next line, and the window and
    // the station may append to one file.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemMessage(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) != 0;
    // A new file starts with the byte-order mark, so that a spreadsheet
    // reads its texts as UTF-8, and with the column names.
    if (ok && size.QuadPart == 0) ok = WriteAll(file, "\xEF\xBB\xBF" + header);
    if (ok) ok = WriteAll(file, line);
    if (!ok) error = SystemMessage(GetLastError());
    CloseHandle(file);
    return ok;
}

bool JobRecordStoreWin::FileSha256(const std::wstring &path, std::wstring &hex) {
    // Read whole every time: a file replaced by one of the same size and
    // time of last write (a copy keeps the time) must give its own digest.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = Sha256OfFile(file, hex);
    CloseHandle(file);
    return ok;
}

std::wstring JobIdSourceWin::NewJobId() {
    uint8_t bytes[16] = {};
    if (!BCRYPT_SUCCESS(
            BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // The system's generator does not fail on any supported Windows; a
        // job still gets an id that no other job of this process has.
        return RandomJobIdSource().NewJobId();
    }
    return HexText(bytes, sizeof bytes);
}

std::wstring JobRecordStoreWin::ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return L"";
    return std::wstring(name, length);
}
