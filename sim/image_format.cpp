#include "sim/image_format.h"

#include "sim/file_util.h"
#include "sim/xxhash64.h"

#include <cstring>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace qvsim {

namespace {

constexpr unsigned char kMagic[8] = {'Q', 'V', '7', '0', 'I', 'M', 'G', 0};
constexpr unsigned char kLoaderMagic[4] = {'Q', 'V', 'L', 'D'};
constexpr size_t kChunk = 1 << 20;

void Put16(unsigned char *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void Put64(unsigned char *p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
uint16_t Get16(const unsigned char *p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Get32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Get64(const unsigned char *p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

bool FileSize(const fs::path &path, uint64_t &size) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::is_regular_file(status)) return false;
    size = fs::file_size(path, ec);
    return !ec;
}

// Hands the part of [at, at + length) that falls inside [begin, begin + size)
// to the sink.
bool Feed(const std::function<bool(const unsigned char *, size_t)> &sink, uint64_t begin,
          uint64_t size, uint64_t at, const unsigned char *data, size_t length) {
    if (!sink) return true;
    const uint64_t from = std::max(begin, at);
    const uint64_t to = std::min(begin + size, at + length);
    if (from >= to) return true;
    return sink(data + (from - at), static_cast<size_t>(to - from));
}

// The loader section's own header must agree with the image header.
bool LoaderHeaderMatches(const unsigned char *p, const ImageHeader &header) {
    return std::memcmp(p, kLoaderMagic, sizeof kLoaderMagic) == 0 &&
           Get16(&p[4]) == header.loaderVersion &&
           Get32(&p[8]) == header.loaderLength - kLoaderHeaderSize;
}

} // namespace

const char *ImageErrorText(ImageError error) {
    switch (error) {
    case ImageError::None:
        return "image is sound";
    case ImageError::Unreadable:
        return "image cannot be read";
    case ImageError::BadMagic:
        return "not a QV70 firmware image (bad magic)";
    case ImageError::UnsupportedFormat:
        return "unsupported image format version";
    case ImageError::BadLayout:
        return "image sections are laid out wrongly";
    case ImageError::Truncated:
        return "image is truncated";
    case ImageError::BadLoader:
        return "loader section is damaged";
    case ImageError::BadChecksum:
        return "image checksum does not match";
    case ImageError::Stopped:
        return "stopped";
    }
    return "unknown image error";
}

std::array<unsigned char, kImageHeaderSize> EncodeHeader(const ImageHeader &h) {
    std::array<unsigned char, kImageHeaderSize> bytes{};
    std::memcpy(bytes.data(), kMagic, sizeof kMagic);
    Put16(&bytes[8], h.formatVersion);
    Put16(&bytes[10], h.headerSize);
    Put16(&bytes[12], h.loaderVersion);
    Put16(&bytes[14], 0);
    Put32(&bytes[16], h.systemVersion);
    Put32(&bytes[20], 0);
    Put64(&bytes[24], h.loaderOffset);
    Put64(&bytes[32], h.loaderLength);
    Put64(&bytes[40], h.systemOffset);
    Put64(&bytes[48], h.systemLength);
    Put64(&bytes[kChecksumOffset], h.checksum);
    return bytes;
}

ImageError DecodeHeader(const unsigned char *bytes, size_t length, uint64_t fileSize,
                        ImageHeader &h) {
    if (length < sizeof kMagic || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return ImageError::BadMagic;
    if (length < kImageHeaderSize) return ImageError::Truncated;
    h.formatVersion = Get16(&bytes[8]);
    h.headerSize = Get16(&bytes[10]);
    h.loaderVersion = Get16(&bytes[12]);
    h.systemVersion = Get32(&bytes[16]);
    h.loaderOffset = Get64(&bytes[24]);
    h.loaderLength = Get64(&bytes[32]);
    h.systemOffset = Get64(&bytes[40]);
    h.systemLength = Get64(&bytes[48]);
    h.checksum = Get64(&bytes[kChecksumOffset]);
    if (h.formatVersion != kImageFormatVersion || h.headerSize != kImageHeaderSize)
        return ImageError::UnsupportedFormat;
    // Sections in order, after the header. Each length is checked against
    // what is left of the file before it is added, so no sum can wrap.
    if (h.loaderOffset < kImageHeaderSize || h.loaderLength < kLoaderHeaderSize ||
        h.loaderLength > kMaxLoaderLength)
        return ImageError::BadLayout;
    if (h.loaderOffset > fileSize || h.loaderLength > fileSize - h.loaderOffset)
        return ImageError::Truncated;
    const uint64_t loaderEnd = h.loaderOffset + h.loaderLength;
    if (h.systemOffset < loaderEnd) return ImageError::BadLayout;
    if (h.systemOffset > fileSize || h.systemLength > fileSize - h.systemOffset)
        return ImageError::Truncated;
    if (h.systemOffset + h.systemLength != fileSize) return ImageError::BadLayout;
    return ImageError::None;
}

std::vector<unsigned char> EncodeLoader(uint16_t version, const std::vector<unsigned char> &body) {
    std::vector<unsigned char> bytes(kLoaderHeaderSize + body.size());
    std::memcpy(bytes.data(), kLoaderMagic, sizeof kLoaderMagic);
    Put16(&bytes[4], version);
    Put16(&bytes[6], 0);
    Put32(&bytes[8], static_cast<uint32_t>(body.size()));
    Put32(&bytes[12], 0);
    if (!body.empty()) std::memcpy(&bytes[kLoaderHeaderSize], body.data(), body.size());
    return bytes;
}

bool DecodeLoader(const unsigned char *bytes, size_t length, uint16_t &version) {
    if (!bytes || length < kLoaderHeaderSize ||
        std::memcmp(bytes, kLoaderMagic, sizeof kLoaderMagic) != 0)
        return false;
    if (Get32(&bytes[8]) != length - kLoaderHeaderSize) return false;
    version = Get16(&bytes[4]);
    return true;
}

ImageError ReadImageHeader(const fs::path &path, ImageHeader &header, uint64_t &fileSize) {
    if (!FileSize(path, fileSize)) return ImageError::Unreadable;
    FilePtr file = OpenFile(path, "rb");
    if (!file) return ImageError::Unreadable;
    unsigned char bytes[kImageHeaderSize];
    const size_t got = std::fread(bytes, 1, sizeof bytes, file.get());
    if (std::ferror(file.get())) return ImageError::Unreadable;
    return DecodeHeader(bytes, got, fileSize, header);
}

ImageError ScanImage(const fs::path &path, ImageHeader &header, const ImageSinks *sinks) {
    uint64_t fileSize = 0;
    if (!FileSize(path, fileSize)) return ImageError::Unreadable;
    FilePtr file = OpenFile(path, "rb");
    if (!file) return ImageError::Unreadable;
    // Large reads go straight to the system; the stdio buffer would only add a copy.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    // One buffer, hashed and handed on while it is still in the cache. A
    // second thread hashing beside the copying gained little on the machine
    // and lost much under Wine, where every hand-over between threads is slow.
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunk]);

    unsigned char first[kImageHeaderSize];
    const size_t got = std::fread(first, 1, kImageHeaderSize, file.get());
    if (std::ferror(file.get())) return ImageError::Unreadable;
    ImageError error = DecodeHeader(first, got, fileSize, header);
    if (error != ImageError::None) return error;

    XxHash64 hash;
    std::memset(first + kChecksumOffset, 0, 8);
    hash.Update(first, kImageHeaderSize);

    uint64_t at = kImageHeaderSize;
    std::vector<unsigned char> loaderStart;
    while (at < fileSize) {
        unsigned char *buffer = chunk.get();
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, fileSize - at));
        const size_t read = std::fread(buffer, 1, want, file.get());
        if (read != want)
            return std::ferror(file.get()) ? ImageError::Unreadable : ImageError::Truncated;
        hash.Update(buffer, read);
        // The loader header is checked as soon as its bytes have passed, before
        // any of them reach a sink.
        if (loaderStart.size() < kLoaderHeaderSize) {
            const uint64_t from = std::max(header.loaderOffset, at);
            const uint64_t to = std::min(header.loaderOffset + kLoaderHeaderSize, at + read);
            if (from < to)
                loaderStart.insert(loaderStart.end(), buffer + (from - at), buffer + (to - at));
            if (loaderStart.size() == kLoaderHeaderSize &&
                !LoaderHeaderMatches(loaderStart.data(), header))
                return ImageError::BadLoader;
        }
        if (sinks &&
            (!Feed(sinks->loader, header.loaderOffset, header.loaderLength, at, buffer, read) ||
             !Feed(sinks->system, header.systemOffset, header.systemLength, at, buffer, read)))
            return ImageError::Stopped;
        at += read;
    }
    if (hash.Digest() != header.checksum) return ImageError::BadChecksum;
    return ImageError::None;
}

void PatternBytes(uint64_t seed, uint64_t offset, unsigned char *buffer, size_t length) {
    // splitmix64 of the 8-byte word index: random access at any offset.
    auto word = [seed](uint64_t index) {
        uint64_t z = seed * 0x9E3779B97F4A7C15ULL + index + 1;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    size_t i = 0;
    while (i < length) {
        const uint64_t at = offset + i;
        const uint64_t w = word(at / 8);
        const unsigned shift = static_cast<unsigned>(at % 8);
        if (shift == 0 && length - i >= 8) {
            Put64(buffer + i, w);
            i += 8;
        } else {
            buffer[i++] = static_cast<unsigned char>(w >> (8 * shift));
        }
    }
}

bool WriteImage(const fs::path &path, const ImageContents &setup, std::string &error) {
    ImageHeader header;
    header.loaderVersion = setup.loaderVersion;
    header.systemVersion = setup.systemVersion;
    const std::vector<unsigned char> loader = EncodeLoader(setup.loaderVersion, setup.loaderBody);
    header.loaderOffset = kImageHeaderSize;
    header.loaderLength = loader.size();
    header.systemOffset = header.loaderOffset + header.loaderLength;
    header.systemLength = setup.systemLength;

    FilePtr file = OpenFile(path, "wb");
    if (!file) {
        error = "cannot create " + path.u8string();
        return false;
    }
    XxHash64 hash;
    auto put = [&](const unsigned char *data, size_t length) {
        hash.Update(data, length);
        return std::fwrite(data, 1, length, file.get()) == length;
    };
    auto bytes = EncodeHeader(header);
    bool ok = put(bytes.data(), bytes.size()) && put(loader.data(), loader.size());
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
    for (uint64_t done = 0; ok && done < setup.systemLength;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, setup.systemLength - done));
        if (setup.systemSource) {
            if (!setup.systemSource(done, buffer.get(), n)) {
                error = "cannot read the system payload";
                ok = false;
                break;
            }
        } else {
            PatternBytes(setup.patternSeed, done, buffer.get(), n);
        }
        ok = put(buffer.get(), n);
        done += n;
    }
    header.checksum = hash.Digest();
    bytes = EncodeHeader(header);
    ok = ok && std::fseek(file.get(), long(kChecksumOffset), SEEK_SET) == 0 &&
         std::fwrite(&bytes[kChecksumOffset], 1, 8, file.get()) == 8;
    ok = (std::fclose(file.release()) == 0) && ok;
    if (!ok) {
        if (error.empty()) error = "cannot write " + path.u8string();
        std::error_code ec;
        fs::remove(path, ec);
    }
    return ok;
}

} // namespace qvsim
