// Small file helpers of the simulated bench: paths are std::filesystem paths,
// so names outside the ANSI code page work on Windows too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace qvsim {

struct FileCloser {
    void operator()(std::FILE *file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// mode as for fopen ("rb", "wb", "ab").
FilePtr OpenFile(const std::filesystem::path &path, const char *mode);

// Whole small text files; false when missing, unreadable or over the limit.
bool ReadSmallFile(const std::filesystem::path &path, std::string &text, size_t limit = 1 << 20);

// Writes a temporary file beside the target and renames it over the target,
// so a reader sees the old or the new file, never half of one. Retries the
// rename for a while: on Windows a reader holding the target open blocks it.
bool WriteFileAtomically(const std::filesystem::path &path, const std::string &text);

// Renames with the same retries; replaces an existing target.
bool ReplaceFile(const std::filesystem::path &from, const std::filesystem::path &to);

// A name for a temporary file beside the target, unique across processes.
std::filesystem::path TemporarySibling(const std::filesystem::path &path);

} // namespace qvsim
