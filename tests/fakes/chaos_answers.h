// The chaos mode of the fake device library: what a closed library might
// hand back, drawn from one seeded generator so that a failing seed replays
// exactly. Counts, kinds and identities out of range, version and path texts
// without their terminating zero, garbage or empty, any result code, and a
// delay before any answer.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <random>

#include "base/QVAndroidDLL.h"

namespace fakes {

class ChaosAnswers {
  public:
    explicit ChaosAnswers(uint64_t seed) : m_random(seed) {}

    // Runs before every answer with a delay in milliseconds (0 to 3); the
    // tests with real threads sleep for real, the others let it pass.
    std::function<void(uint32_t)> delay;

    // Usually the step's own success value (so that whole jobs do succeed
    // now and then), otherwise any code at all.
    int Result(int success) {
        std::lock_guard<std::mutex> lock(m_guard);
        if (Percent() < 70) return success;
        return AnyCodeLocked();
    }

    int FindCount() {
        std::lock_guard<std::mutex> lock(m_guard);
        const unsigned roll = Percent();
        if (roll < 55) return 1;
        if (roll < 75) return 0;
        if (roll < 85) return 2;
        return AnyCodeLocked();
    }

    // A record as a search or a wait may leave it: a few identities so that
    // the same device comes back, kinds in and out of range, and the
    // library's own texts with or without their zero.
    void FillDevice(DEVICE_INFO &device) {
        std::lock_guard<std::mutex> lock(m_guard);
        static const int32_t kIdentities[] = {0, 1, 2, 3, -1, std::numeric_limits<int32_t>::min()};
        static const int32_t kKinds[] = {QV_DEVICE_MASKROM,
                                         QV_DEVICE_LOADER,
                                         QV_DEVICE_VESKUSB,
                                         QV_DEVICE_MSC,
                                         0,
                                         -1,
                                         99,
                                         std::numeric_limits<int32_t>::max()};
        device.identity = Percent() < 90 ? Pick(kIdentities) : static_cast<int32_t>(m_random());
        device.deviceType = Percent() < 90 ? Pick(kKinds) : static_cast<int32_t>(m_random());
        device.usbVid = static_cast<uint16_t>(m_random());
        device.usbPid = static_cast<uint16_t>(m_random());
        FillText(device.devicePath, sizeof device.devicePath);
        FillText(device.serialNumber, sizeof device.serialNumber);
        device.busFlags = static_cast<uint8_t>(m_random());
        device.location = static_cast<int32_t>(m_random());
    }

    // Sometimes scribbles over the record handed in, as a library that keeps
    // its own state in it may.
    void MaybeScribble(DEVICE_INFO *device) {
        if (device == nullptr) return;
        bool scribble;
        {
            std::lock_guard<std::mutex> lock(m_guard);
            scribble = Percent() < 10;
        }
        if (scribble) FillDevice(*device);
    }

    void FillVersionText(char *text, size_t size) {
        std::lock_guard<std::mutex> lock(m_guard);
        static const char *const kTexts[] = {"2.05",        "1.2",   "",       "0.0",
                                             "65535.65535", "-1.-1", " 7 . 9", "4.4.2",
                                             "2.",          ".5",    "x.y",    "256.256"};
        const unsigned roll = Percent();
        if (roll < 50) {
            std::memset(text, 0, size);
            const char *chosen = Pick(kTexts);
            std::memcpy(text, chosen, std::strlen(chosen));
        } else {
            FillText(text, size);
        }
    }

    uint32_t Number() {
        std::lock_guard<std::mutex> lock(m_guard);
        static const uint32_t kEdges[] = {0,          1,          0xFFFF,    0x10000,
                                          0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
        return Percent() < 50 ? Pick(kEdges) : static_cast<uint32_t>(m_random());
    }

    uint32_t DelayMs() {
        std::lock_guard<std::mutex> lock(m_guard);
        return static_cast<uint32_t>(m_random() % 4);
    }

  private:
    unsigned Percent() { return static_cast<unsigned>(m_random() % 100); }
    template <class T, size_t N> T Pick(const T (&choices)[N]) { return choices[m_random() % N]; }
    int AnyCodeLocked() {
        static const int kCodes[] = {0,
                                     1,
                                     -1,
                                     -2,
                                     -3,
                                     -4,
                                     -5,
                                     2,
                                     3,
                                     7,
                                     100,
                                     std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max()};
        return Percent() < 80 ? Pick(kCodes) : static_cast<int>(m_random());
    }
    // Empty, printable, garbage with a zero somewhere, or no zero at all.
    void FillText(char *text, size_t size) {
        const unsigned roll = Percent();
        if (roll < 15) {
            std::memset(text, 0, size);
            return;
        }
        for (size_t i = 0; i < size; ++i) {
            text[i] = roll < 50 ? static_cast<char>(' ' + m_random() % 95)
                                : static_cast<char>(1 + m_random() % 255);
        }
        if (roll < 80) text[m_random() % size] = '\0';
    }

    std::mutex m_guard; // the calls come from the watcher and the job alike
    std::mt19937_64 m_random;
};

} // namespace fakes
