// The firmware image format (docs/firmware-image.md): a 64-byte header, the
// loader section, the system payload, and an XXH64 checksum over the whole.
// Images are streamed in chunks, never held in memory whole.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qvsim {

constexpr size_t kImageHeaderSize = 64;
constexpr uint16_t kImageFormatVersion = 1;
constexpr size_t kChecksumOffset = 56;
constexpr size_t kLoaderHeaderSize = 16;
// A loader is a boot program of a few hundred KiB; the limit keeps a corrupt
// length from making anyone allocate gigabytes.
constexpr uint64_t kMaxLoaderLength = 64ull << 20;

struct ImageHeader {
    uint16_t formatVersion = kImageFormatVersion;
    uint16_t headerSize = kImageHeaderSize;
    uint16_t loaderVersion = 0;
    uint32_t systemVersion = 0;
    uint64_t loaderOffset = 0;
    uint64_t loaderLength = 0;
    uint64_t systemOffset = 0;
    uint64_t systemLength = 0;
    uint64_t checksum = 0;
};

enum class ImageError {
    None,
    Unreadable, // missing, no access, read error
    BadMagic,
    UnsupportedFormat,
    BadLayout, // sections overlap, lie before the header or leave trailing bytes
    Truncated, // the file ends before its last section
    BadLoader, // the loader section is not a loader of the header's version
    BadChecksum,
    Stopped, // the caller's sink asked to stop
};
const char *ImageErrorText(ImageError error);

std::array<unsigned char, kImageHeaderSize> EncodeHeader(const ImageHeader &header);
// Checks magic, format and the layout against the file size.
ImageError DecodeHeader(const unsigned char *bytes, size_t length, uint64_t fileSize,
                        ImageHeader &header);

// The loader section, also the whole of an extracted loader file.
std::vector<unsigned char> EncodeLoader(uint16_t version, const std::vector<unsigned char> &body);
bool DecodeLoader(const unsigned char *bytes, size_t length, uint16_t &version);

struct ImageSinks {
    // Each gets its section's bytes in order; returning false stops the scan.
    std::function<bool(const unsigned char *, size_t)> loader;
    std::function<bool(const unsigned char *, size_t)> system;
};

// One pass over the file: header, layout, every byte through the checksum,
// section bytes to the sinks. Success only when the checksum matched at the
// end, so a sink that writes somewhere must treat its output as provisional.
ImageError ScanImage(const std::filesystem::path &path, ImageHeader &header,
                     const ImageSinks *sinks = nullptr);

// Header only (magic, format, layout against the size); no checksum.
ImageError ReadImageHeader(const std::filesystem::path &path, ImageHeader &header,
                           uint64_t &fileSize);

struct ImageContents {
    uint16_t loaderVersion = 0x0205;
    uint32_t systemVersion = 0x01000000;
    std::vector<unsigned char> loaderBody;
    uint64_t systemLength = 0;
    // Fills the system payload piece by piece (offset within the payload);
    // empty: the deterministic pattern of PatternBytes with patternSeed.
    std::function<bool(uint64_t offset, unsigned char *buffer, size_t length)> systemSource;
    uint64_t patternSeed = 1;
};
bool WriteImage(const std::filesystem::path &path, const ImageContents &setup, std::string &error);

// Deterministic filler for made-up payloads: the same seed and offset give
// the same bytes, so a test can tell exactly what a device should hold.
void PatternBytes(uint64_t seed, uint64_t offset, unsigned char *buffer, size_t length);

} // namespace qvsim
