// The simulated library's image reader over any file: the header decoding
// and the one streaming pass, checked against the format's own rules read
// straight from the bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/image_format.h"
#include "sim/xxhash64.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

uint64_t Little(const uint8_t *bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

const std::filesystem::path &ScratchFile() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("qv-fuzz-image-" + std::to_string(getpid()) + ".img");
    return path;
}

// The layout rules of the format, read straight from the bytes.
bool LayoutHolds(const uint8_t *data, size_t size) {
    using namespace qvsim;
    const uint64_t loaderOffset = Little(data + 24, 8), loaderLength = Little(data + 32, 8);
    const uint64_t systemOffset = Little(data + 40, 8), systemLength = Little(data + 48, 8);
    // Wide enough that no sum of two 64-bit fields wraps.
    const unsigned __int128 loaderEnd = static_cast<unsigned __int128>(loaderOffset) + loaderLength;
    const unsigned __int128 systemEnd = static_cast<unsigned __int128>(systemOffset) + systemLength;
    return loaderOffset >= kImageHeaderSize && loaderLength >= kLoaderHeaderSize &&
           loaderLength <= kMaxLoaderLength && systemOffset >= loaderEnd && systemEnd == size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size) {
    using namespace qvsim;
    // A random change breaks the checksum, and the reader then refuses the
    // file before its layout matters. For half the inputs (a bit of a
    // reserved header byte) the checksum is made right, so that the layout
    // rules are tried too.
    std::vector<uint8_t> bytes(input, input + size);
    if (size >= kImageHeaderSize && (input[14] & 1) != 0) {
        std::memset(bytes.data() + kChecksumOffset, 0, 8);
        uint64_t sum = XxHash64::Of(bytes.data(), bytes.size());
        for (size_t i = 0; i < 8; ++i, sum >>= 8)
            bytes[kChecksumOffset + i] = static_cast<uint8_t>(sum & 0xFF);
    }
    const uint8_t *data = bytes.data();
    {
        std::ofstream out(ScratchFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }

    std::vector<uint8_t> loader, system;
    ImageSinks sinks;
    sinks.loader = [&](const unsigned char *bytes, size_t length) {
        loader.insert(loader.end(), bytes, bytes + length);
        return true;
    };
    sinks.system = [&](const unsigned char *bytes, size_t length) {
        system.insert(system.end(), bytes, bytes + length);
        return true;
    };
    ImageHeader scanned;
    const ImageError error = ScanImage(ScratchFile(), scanned, &sinks);

    ImageHeader decoded;
    const ImageError headerError = DecodeHeader(data, size, size, decoded);
    ImageHeader read;
    uint64_t fileSize = 0;
    const ImageError readError = ReadImageHeader(ScratchFile(), read, fileSize);
    FUZZ_CHECK(readError == headerError);
    FUZZ_CHECK(readError == ImageError::Unreadable || fileSize == size);
    // A header refused in itself gives the same refusal to the whole pass,
    // and nothing reaches a sink.
    if (headerError == ImageError::None) FUZZ_CHECK(LayoutHolds(data, size));
    if (headerError != ImageError::None && headerError != ImageError::Truncated) {
        FUZZ_CHECK(error == headerError);
        FUZZ_CHECK(loader.empty() && system.empty());
    }
    if (error != ImageError::None) return 0;

    // Accepted: the layout holds as the format describes it...
    FUZZ_CHECK(headerError == ImageError::None);
    FUZZ_CHECK(size >= kImageHeaderSize);
    FUZZ_CHECK(std::memcmp(data, "QV70IMG", 8) == 0);
    FUZZ_CHECK(Little(data + 8, 2) == kImageFormatVersion);
    const uint64_t loaderOffset = Little(data + 24, 8), loaderLength = Little(data + 32, 8);
    const uint64_t systemOffset = Little(data + 40, 8), systemLength = Little(data + 48, 8);
    FUZZ_CHECK(scanned.loaderOffset == loaderOffset && scanned.loaderLength == loaderLength);
    FUZZ_CHECK(scanned.systemOffset == systemOffset && scanned.systemLength == systemLength);
    FUZZ_CHECK(LayoutHolds(data, size));
    // ...the sinks got exactly the sections' bytes...
    FUZZ_CHECK(loader.size() == loaderLength && system.size() == systemLength);
    FUZZ_CHECK(std::memcmp(loader.data(), data + loaderOffset, loaderLength) == 0);
    FUZZ_CHECK(systemLength == 0 ||
               std::memcmp(system.data(), data + systemOffset, systemLength) == 0);
    // ...the loader is one of the header's version...
    uint16_t version = 0;
    FUZZ_CHECK(DecodeLoader(loader.data(), loader.size(), version));
    FUZZ_CHECK(version == scanned.loaderVersion && version == Little(data + 12, 2));
    FUZZ_CHECK(scanned.systemVersion == Little(data + 16, 4));
    // ...and the checksum is XXH64 of the file with its own field zeroed.
    std::vector<uint8_t> sealed(data, data + size);
    std::memset(sealed.data() + kChecksumOffset, 0, 8);
    FUZZ_CHECK(XxHash64::Of(sealed.data(), sealed.size()) == Little(data + kChecksumOffset, 8));
    return 0;
}
