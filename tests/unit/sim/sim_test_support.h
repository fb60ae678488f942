// Helpers shared by the tests of the simulated bench, native and under Wine.
#pragma once

#include "sim/bench.h"
#include "sim/file_util.h"
#include "sim/image_format.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace qvsim_test {

// A fresh folder for one test, removed with everything in it afterwards.
class TempFolder {
  public:
    TempFolder() {
        static std::atomic<int> counter{0};
        std::mt19937_64 random{std::random_device{}()};
        m_path = std::filesystem::temp_directory_path() /
                 ("qvsim-test-" + std::to_string(random() % 1000000000) + "-" +
                  std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::filesystem::path &Path() const { return m_path; }
    std::filesystem::path operator/(const std::string &name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

// A bench where nothing waits: tests set the delays they want to see.
inline void MakeFastBench(qvsim::Bench &bench, bool driverInstalled = true) {
    bench.UpdateSettings([&](qvsim::BenchSettings &s) {
        s.driverInstalled = driverInstalled;
        s.switchDelayMs = 0;
        s.resetDelayMs = 0;
        s.waitIntervalMs = 5;
        s.upgradeMs = 0;
        s.eraseMs = 0;
        s.downloadBytesPerSecond = 0;
    });
}

inline qvsim::DeviceSetup Setup(int kind, const std::string &loader = "2.05", int32_t id = 0) {
    qvsim::DeviceSetup setup;
    setup.kind = kind;
    setup.loaderVersion = loader;
    setup.id = id;
    return setup;
}

inline std::filesystem::path MakeImage(const std::filesystem::path &path, uint16_t loader,
                                       uint32_t system, uint64_t payloadBytes, uint64_t seed = 3) {
    qvsim::ImageContents setup;
    setup.loaderVersion = loader;
    setup.systemVersion = system;
    setup.loaderBody.assign(1000, 0x5A);
    setup.systemLength = payloadBytes;
    setup.patternSeed = seed;
    std::string error;
    if (!qvsim::WriteImage(path, setup, error)) return std::filesystem::path();
    return path;
}

inline std::string ReadAll(const std::filesystem::path &path) {
    std::string text;
    qvsim::ReadSmallFile(path, text, size_t(1) << 30);
    return text;
}

// The system payload as the image holds it.
inline std::string PayloadOf(uint64_t payloadBytes, uint64_t seed = 3) {
    std::string bytes(size_t(payloadBytes), '\0');
    qvsim::PatternBytes(seed, 0, reinterpret_cast<unsigned char *>(&bytes[0]), bytes.size());
    return bytes;
}

} // namespace qvsim_test
