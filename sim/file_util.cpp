#include "sim/file_util.h"

#include <chrono>
#include <random>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace qvsim {

FilePtr OpenFile(const fs::path &path, const char *mode) {
#ifdef _WIN32
    wchar_t wideMode[8] = {};
    for (size_t i = 0; mode[i] && i < 7; ++i)
        wideMode[i] = static_cast<wchar_t>(mode[i]);
    return FilePtr(_wfopen(path.c_str(), wideMode));
#else
    return FilePtr(std::fopen(path.c_str(), mode));
#endif
}

bool ReadSmallFile(const fs::path &path, std::string &text, size_t limit) {
    text.clear();
    FilePtr file = OpenFile(path, "rb");
    if (!file) return false;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (text.size() + got > limit) return false;
        text.append(buffer, got);
    }
    return !std::ferror(file.get());
}

fs::path TemporarySibling(const fs::path &path) {
    static thread_local std::mt19937_64 random{
        std::random_device{}() ^
        uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random()));
    fs::path temp = path;
    temp += suffix;
    return temp;
}

bool ReplaceFile(const fs::path &from, const fs::path &to) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::error_code ec;
        fs::rename(from, to, ec);
        if (!ec) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool WriteFileAtomically(const fs::path &path, const std::string &text) {
    const fs::path temp = TemporarySibling(path);
    {
        FilePtr file = OpenFile(temp, "wb");
        if (!file) return false;
        const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
        const bool closed = std::fclose(file.release()) == 0;
        if (!written || !closed) {
            std::error_code ec;
            fs::remove(temp, ec);
            return false;
        }
    }
    if (ReplaceFile(temp, path)) return true;
    std::error_code ec;
    fs::remove(temp, ec);
    return false;
}

} // namespace qvsim
