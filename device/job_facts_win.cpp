#include "device/job_facts_win.h"

#include <windows.h>

#include <bcrypt.h>

#include <vector>

namespace {

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
