// Writes the generated part of the seed corpus: small firmware images, sound
// and damaged in each way the image tests damage theirs, and bench files.
// The shipped files (settings, language files, the sample image) are seeds
// as they are. Run once when the formats change:
//   make_seeds <corpus folder>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/bench.h"
#include "sim/faults.h"
#include "sim/image_format.h"
#include "sim/xxhash64.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Patch(std::string &image, size_t at, const char *bytes, size_t count) {
    std::memcpy(&image[at], bytes, count);
}

// The checksum again over the changed bytes, so that only the change counts.
void Reseal(std::string &image) {
    std::memset(&image[qvsim::kChecksumOffset], 0, 8);
    uint64_t sum = XxHash64::Of(image.data(), image.size());
    for (int i = 0; i < 8; ++i, sum >>= 8)
        image[qvsim::kChecksumOffset + i] = static_cast<char>(sum & 0xFF);
}

void ImageSeeds(const fs::path &folder) {
    fs::create_directories(folder);
    qvsim::ImageContents contents;
    contents.loaderVersion = 0x0205;
    contents.systemVersion = 0x01020003;
    contents.loaderBody.assign(48, 0x5A);
    contents.systemLength = 300;
    std::string error;
    const fs::path sound = folder / "sound.img";
    if (!qvsim::WriteImage(sound, contents, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    contents.systemLength = 0;
    qvsim::WriteImage(folder / "empty-payload.img", contents, error);

    const std::string original = ReadAll(sound);
    const size_t size = original.size();
    struct Damage {
        const char *name;
        void (*apply)(std::string &);
    };
    const Damage damages[] = {
        {"bad-magic", [](std::string &i) { Patch(i, 0, "XV70", 4); }},
        {"payload-byte-flipped", [](std::string &i) { i[i.size() - 10] ^= 0x01; }},
        {"header-byte-flipped", [](std::string &i) { i[17] ^= 0x01; }},
        {"checksum-changed", [](std::string &i) { i[qvsim::kChecksumOffset] ^= 0x01; }},
        {"last-byte-missing", [](std::string &i) { i.resize(i.size() - 1); }},
        {"only-the-header", [](std::string &i) { i.resize(64); }},
        {"half-a-header", [](std::string &i) { i.resize(20); }},
        {"empty-file", [](std::string &i) { i.clear(); }},
        {"trailing-bytes", [](std::string &i) { i.push_back('\0'); }},
        {"future-format",
         [](std::string &i) {
             Patch(i, 8, "\x02\x00", 2);
             Reseal(i);
         }},
        {"loader-version-disagrees",
         [](std::string &i) {
             Patch(i, 12, "\x09\x02", 2);
             Reseal(i);
         }},
        {"huge-loader-length",
         [](std::string &i) {
             Patch(i, 32, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8);
             Reseal(i);
         }},
        {"system-beyond-the-end",
         [](std::string &i) {
             Patch(i, 48, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);
             Reseal(i);
         }},
    };
    (void)size;
    for (const Damage &damage : damages) {
        std::string image = original;
        damage.apply(image);
        WriteAll(folder / (std::string(damage.name) + ".img"), image);
    }
}

void BenchSeeds(const fs::path &folder) {
    fs::create_directories(folder);
    qvsim::BenchSettings settings;
    WriteAll(folder / "bench-default.ini", qvsim::FormatSettings(settings));
    settings.driverInstalled = true;
    settings.downloadBytesPerSecond = 64 << 10;
    settings.questions = {1, 2};
    for (const qvsim::FaultInfo &fault : qvsim::AllFaults())
        settings.faults[fault.fault] = fault.defaultValue;
    WriteAll(folder / "bench-every-fault.ini", qvsim::FormatSettings(settings));

    qvsim::DeviceRecord device;
    device.setup.id = 7;
    device.setup.serial = "SN0007";
    WriteAll(folder / "device-msc.ini", qvsim::FormatDevice(device));
    device.setup.kind = 2;
    device.stage = qvsim::Stage::LoaderWritten;
    device.pendingSystemVersion = "1.2.3";
    device.lost = true;
    device.eraseCount = 3;
    WriteAll(folder / "device-loader-written.ini", qvsim::FormatDevice(device));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const fs::path corpus = argv[1];
    ImageSeeds(corpus / "fuzz_sim_image");
    BenchSeeds(corpus / "fuzz_sim_bench");
    return 0;
}
