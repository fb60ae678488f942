// XXH64 (seed 0), the checksum of our firmware images: one pass over a
// 256 MiB image costs a small fraction of the time it takes to copy it, which
// a table-driven CRC-32 would not.
#pragma once

#include <cstddef>
#include <cstdint>

class XxHash64 {
  public:
    XxHash64();
    void Update(const void *data, size_t length);
    uint64_t Digest() const;

    static uint64_t Of(const void *data, size_t length);

  private:
    uint64_t m_acc[4];
    uint64_t m_totalLength = 0;
    unsigned char m_pending[32];
    size_t m_pendingLength = 0;
};
