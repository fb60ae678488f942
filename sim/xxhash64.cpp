#include "sim/xxhash64.h"

#include <cstring>

namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

inline uint64_t Rotl(uint64_t x, int r) {
    return (x << r) | (x >> (64 - r));
}

// Reads through memcpy: no alignment assumptions, and the compiler turns them
// into plain loads. Every target of this program is little-endian, which the
// checksum's definition assumes.
inline uint64_t Read64(const unsigned char *p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint32_t Read32(const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t Round(uint64_t acc, uint64_t input) {
    acc += input * kPrime2;
    acc = Rotl(acc, 31);
    return acc * kPrime1;
}

inline uint64_t MergeRound(uint64_t acc, uint64_t value) {
    acc ^= Round(0, value);
    return acc * kPrime1 + kPrime4;
}

inline void Stripe(uint64_t acc[4], const unsigned char *p) {
    acc[0] = Round(acc[0], Read64(p));
    acc[1] = Round(acc[1], Read64(p + 8));
    acc[2] = Round(acc[2], Read64(p + 16));
    acc[3] = Round(acc[3], Read64(p + 24));
}

} // namespace

XxHash64::XxHash64() : m_acc{kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1} {}

void XxHash64::Update(const void *data, size_t length) {
    const auto *p = static_cast<const unsigned char *>(data);
    m_totalLength += length;
    if (m_pendingLength + length < 32) {
        if (length) std::memcpy(m_pending + m_pendingLength, p, length);
        m_pendingLength += length;
        return;
    }
    if (m_pendingLength) {
        const size_t fill = 32 - m_pendingLength;
        std::memcpy(m_pending + m_pendingLength, p, fill);
        Stripe(m_acc, m_pending);
        p += fill;
        length -= fill;
        m_pendingLength = 0;
    }
    // Local copies keep the four lanes in registers through the hot loop.
    uint64_t a0 = m_acc[0], a1 = m_acc[1], a2 = m_acc[2], a3 = m_acc[3];
    while (length >= 32) {
        a0 = Round(a0, Read64(p));
        a1 = Round(a1, Read64(p + 8));
        a2 = Round(a2, Read64(p + 16));
        a3 = Round(a3, Read64(p + 24));
        p += 32;
        length -= 32;
    }
    m_acc[0] = a0;
    m_acc[1] = a1;
    m_acc[2] = a2;
    m_acc[3] = a3;
    if (length) std::memcpy(m_pending, p, length);
    m_pendingLength = length;
}

uint64_t XxHash64::Digest() const {
    uint64_t h;
    if (m_totalLength >= 32) {
        h = Rotl(m_acc[0], 1) + Rotl(m_acc[1], 7) + Rotl(m_acc[2], 12) + Rotl(m_acc[3], 18);
        for (uint64_t lane : m_acc)
            h = MergeRound(h, lane);
    } else {
        h = kPrime5; // seed 0
    }
    h += m_totalLength;

    const unsigned char *p = m_pending;
    size_t left = m_pendingLength;
    while (left >= 8) {
        h ^= Round(0, Read64(p));
        h = Rotl(h, 27) * kPrime1 + kPrime4;
        p += 8;
        left -= 8;
    }
    if (left >= 4) {
        h ^= uint64_t(Read32(p)) * kPrime1;
        h = Rotl(h, 23) * kPrime2 + kPrime3;
        p += 4;
        left -= 4;
    }
    while (left > 0) {
        h ^= (*p) * kPrime5;
        h = Rotl(h, 11) * kPrime1;
        ++p;
        --left;
    }
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    h ^= h >> 32;
    return h;
}

uint64_t XxHash64::Of(const void *data, size_t length) {
    XxHash64 hash;
    hash.Update(data, length);
    return hash.Digest();
}
