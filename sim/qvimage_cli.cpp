#include "sim/qvimage_cli.h"

#include "sim/file_util.h"
#include "sim/image_format.h"
#include "sim/versions.h"

#include <cstdio>
#include <iomanip>
#include <system_error>

namespace fs = std::filesystem;

namespace qvsim {

namespace {

const char kUsage[] = "usage: qvimage create <image> [loader=2.05] [system=1.0.0] [size=<bytes>]\n"
                      "                      [payload=<file>] [loader-size=<bytes>] [seed=N]\n"
                      "         size: system payload of made-up bytes (K, M, G allowed), or\n"
                      "         payload: the system payload taken from a file\n"
                      "       qvimage inspect <image>\n"
                      "       qvimage extract-loader <image> <loader file>\n";

int Usage(std::ostream &err) {
    err << kUsage;
    return 2;
}

int Create(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    ImageContents setup;
    uint64_t loaderSize = 4096;
    fs::path payload;
    for (size_t i = 2; i < args.size(); ++i) {
        const size_t equals = args[i].find('=');
        if (equals == std::string::npos) return Usage(err);
        const std::string key = args[i].substr(0, equals), value = args[i].substr(equals + 1);
        int64_t seed = 0;
        bool ok = true;
        if (key == "loader")
            ok = ParseLoaderVersion(value, setup.loaderVersion);
        else if (key == "system")
            ok = ParseSystemVersion(value, setup.systemVersion);
        else if (key == "size")
            ok = ParseByteCount(value, setup.systemLength);
        else if (key == "loader-size")
            ok = ParseByteCount(value, loaderSize) &&
                 loaderSize <= kMaxLoaderLength - kLoaderHeaderSize;
        else if (key == "payload")
            payload = fs::u8path(value);
        else if (key == "seed")
            ok = ParseInt(value, seed), setup.patternSeed = uint64_t(seed);
        else
            ok = false;
        if (!ok) {
            err << "qvimage: bad value \"" << args[i] << "\"\n";
            return 2;
        }
    }
    setup.loaderBody.resize(size_t(loaderSize));
    PatternBytes(setup.patternSeed ^ 0x10ADE4, 0, setup.loaderBody.data(), setup.loaderBody.size());

    FilePtr source;
    if (!payload.empty()) {
        std::error_code ec;
        setup.systemLength = fs::file_size(payload, ec);
        source = OpenFile(payload, "rb");
        if (ec || !source) {
            err << "qvimage: cannot read " << payload.u8string() << "\n";
            return 1;
        }
        setup.systemSource = [&](uint64_t, unsigned char *buffer, size_t length) {
            return std::fread(buffer, 1, length, source.get()) == length;
        };
    }
    std::string error;
    const fs::path image = fs::u8path(args[1]);
    if (!WriteImage(image, setup, error)) {
        err << "qvimage: " << error << "\n";
        return 1;
    }
    out << "created " << image.u8string() << ": loader " << LoaderVersionText(setup.loaderVersion)
        << ", system " << SystemVersionText(setup.systemVersion) << ", " << setup.systemLength
        << " bytes of system payload\n";
    return 0;
}

int Inspect(const fs::path &image, std::ostream &out, std::ostream &err) {
    ImageHeader header;
    const ImageError error = ScanImage(image, header);
    uint64_t size = 0;
    ImageHeader layout;
    const ImageError headerError = ReadImageHeader(image, layout, size);
    if (headerError == ImageError::None || headerError == ImageError::BadLayout ||
        headerError == ImageError::Truncated) {
        out << "file            " << image.u8string() << " (" << size << " bytes)\n"
            << "format version  " << layout.formatVersion << "\n"
            << "loader version  " << LoaderVersionText(layout.loaderVersion) << " (0x" << std::hex
            << std::setw(4) << std::setfill('0') << layout.loaderVersion << ")\n"
            << "system version  " << SystemVersionText(layout.systemVersion) << " (0x"
            << std::setw(8) << layout.systemVersion << ")\n"
            << std::dec << std::setfill(' ') << "loader          offset " << layout.loaderOffset
            << ", " << layout.loaderLength << " bytes\n"
            << "system          offset " << layout.systemOffset << ", " << layout.systemLength
            << " bytes\n"
            << "checksum        " << std::hex << std::setw(16) << std::setfill('0')
            << layout.checksum << std::dec << std::setfill(' ') << "\n";
    }
    if (error != ImageError::None) {
        err << "qvimage: refused: " << ImageErrorText(error) << "\n";
        return 1;
    }
    out << "image is sound\n";
    return 0;
}

int ExtractLoader(const fs::path &image, const fs::path &target, std::ostream &out,
                  std::ostream &err) {
    std::string loader;
    ImageSinks sinks;
    sinks.loader = [&](const unsigned char *data, size_t length) {
        loader.append(reinterpret_cast<const char *>(data), length);
        return true;
    };
    ImageHeader header;
    const ImageError error = ScanImage(image, header, &sinks);
    if (error != ImageError::None) {
        err << "qvimage: refused: " << ImageErrorText(error) << "\n";
        return 1;
    }
    if (!WriteFileAtomically(target, loader)) {
        err << "qvimage: cannot write " << target.u8string() << "\n";
        return 1;
    }
    out << "loader " << LoaderVersionText(header.loaderVersion) << " written to "
        << target.u8string() << " (" << loader.size() << " bytes)\n";
    return 0;
}

} // namespace

int RunQvimage(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    if (args.size() >= 2 && args[0] == "create") return Create(args, out, err);
    if (args.size() == 2 && args[0] == "inspect") return Inspect(fs::u8path(args[1]), out, err);
    if (args.size() == 3 && args[0] == "extract-loader")
        return ExtractLoader(fs::u8path(args[1]), fs::u8path(args[2]), out, err);
    if (args.size() == 1 && (args[0] == "help" || args[0] == "--help")) {
        out << kUsage;
        return 0;
    }
    return Usage(err);
}

} // namespace qvsim
