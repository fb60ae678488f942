// How fast the simulated library writes a 256 MiB image to a device at
// unlimited speed, against a plain copy of the same file on the same machine.
// The download reads the whole image once, checks its checksum on the way and
// writes the system payload; the goal is at least 0.8 of the copy's speed.
//
//   sim_download_bench [megabytes]     (default 256)
#include "sim/file_util.h"
#include "sim/sim_library.h"
#include "tests/unit/sim/sim_test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace qvsim;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The plain copy a program would make, in pieces of the size the library
// reads an image in.
constexpr size_t kPiece = 1 << 20;
bool PlainCopy(const std::filesystem::path &from, const std::filesystem::path &to) {
    FilePtr in = OpenFile(from, "rb");
    FilePtr out = OpenFile(to, "wb");
    if (!in || !out) return false;
    std::setvbuf(in.get(), nullptr, _IONBF, 0);
    std::setvbuf(out.get(), nullptr, _IONBF, 0);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kPiece]);
    size_t got;
    while ((got = std::fread(buffer.get(), 1, kPiece, in.get())) > 0)
        if (std::fwrite(buffer.get(), 1, got, out.get()) != got) return false;
    return std::fclose(out.release()) == 0;
}

} // namespace

int main(int argc, char **argv) {
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    qvsim_test::TempFolder folder;
    const auto image = folder / "bench.img";
    // The whole file is this size: the payload is what header and loader leave.
    const uint64_t payload = (megabytes << 20) - kImageHeaderSize - kLoaderHeaderSize - 1000;
    if (qvsim_test::MakeImage(image, 0x0205, 0x01020003, payload).empty()) {
        std::fprintf(stderr, "cannot create the image\n");
        return 1;
    }
    Bench bench(folder / "bench");
    qvsim_test::MakeFastBench(bench);
    SimLibrary library{LibraryHost{[&] { return bench.Folder(); }, nullptr, nullptr}};
    const int32_t id = bench.Plug(qvsim_test::Setup(QV_DEVICE_LOADER));
    DEVICE_INFO device{};
    if (library.QV_FindDevice(&device, 0) != 1) return 1;
    const std::string imagePath = image.string();

    // Best of five each, taken in turns, so that both meet the same cache and
    // the same neighbours on the machine.
    double bestCopy = 1e9, bestDownload = 1e9;
    for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        if (!PlainCopy(image, folder / "copy.img")) return 1;
        bestCopy = std::min(bestCopy, Seconds(start));
        std::filesystem::remove(folder / "copy.img");

        bench.UpdateDevice(id, [](DeviceRecord &d) {
            d.stage = Stage::Idle;
            return true;
        });
        start = Clock::now();
        if (library.QV_DownloadImage(&device, imagePath.c_str()) != 1) {
            std::fprintf(stderr, "download failed\n");
            return 1;
        }
        bestDownload = std::min(bestDownload, Seconds(start));
        std::filesystem::remove(bench.StoragePath(id));
    }
    const double mib = double(megabytes);
    std::printf("image %llu MiB\n", static_cast<unsigned long long>(megabytes));
    std::printf("plain copy      %.3f s  %.0f MiB/s\n", bestCopy, mib / bestCopy);
    std::printf("device download %.3f s  %.0f MiB/s\n", bestDownload, mib / bestDownload);
    std::printf("ratio (download speed / copy speed) %.2f (goal >= 0.8)\n",
                bestCopy / bestDownload);
    return 0;
}
