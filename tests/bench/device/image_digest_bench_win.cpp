// Not a test: the time the job record's image digest takes against a plain
// read of the same file, on an image of the size asked for (1 GiB by
// default). The digest is taken beside the job; this says how long "beside"
// lasts.
//
//     image_digest_bench.exe [MiB]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/job_facts_win.h"

namespace {

constexpr DWORD kChunk = 1 << 20;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool WriteImage(const std::wstring &path, unsigned mebibytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> chunk(kChunk);
    uint32_t x = 2463534242u;
    bool ok = true;
    for (unsigned i = 0; i < mebibytes && ok; ++i) {
        for (unsigned char &byte : chunk) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<unsigned char>(x);
        }
        DWORD written = 0;
        ok = WriteFile(file, chunk.data(), kChunk, &written, nullptr) && written == kChunk;
    }
    CloseHandle(file);
    return ok;
}

bool PlainRead(const std::wstring &path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> chunk(kChunk);
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), kChunk, &got, nullptr) && got > 0) {
    }
    CloseHandle(file);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    const unsigned mebibytes = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 1024;
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"qv-digest-bench.img";
    if (!WriteImage(path, mebibytes)) {
        std::printf("cannot write the image\n");
        return 1;
    }
    // Once untimed, so both timed passes read from the same warm cache.
    PlainRead(path);

    auto start = std::chrono::steady_clock::now();
    PlainRead(path);
    const double read = Seconds(start);

    JobRecordStoreWin store;
    std::wstring hex;
    start = std::chrono::steady_clock::now();
    const bool hashed = store.FileSha256(path, hex);
    const double digest = Seconds(start);
    DeleteFileW(path.c_str());
    if (!hashed) {
        std::printf("the digest failed\n");
        return 1;
    }
    std::printf("image %u MiB\n", mebibytes);
    std::printf("plain read  %.2f s  %.0f MiB/s\n", read, mebibytes / read);
    std::printf("SHA-256     %.2f s  %.0f MiB/s\n", digest, mebibytes / digest);
    return 0;
}
