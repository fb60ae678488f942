// Version words and their texts. A loader version is major × 256 + minor and
// reads "2.05"; a system version packs a top byte, a next byte and a low
// 16-bit part and reads "1.2.3" in hexadecimal parts, as the window shows it.
#pragma once

#include <cstdint>
#include <string>

namespace qvsim {

std::string LoaderVersionText(uint16_t version);
// "2.05", "1.41", "2.5": decimal major and minor, each 0..255.
bool ParseLoaderVersion(const std::string &text, uint16_t &version);

std::string SystemVersionText(uint32_t version);
// "1.2.3" (hexadecimal parts: 0..ff, 0..ff, 0..ffff) or one number "0x01020003".
bool ParseSystemVersion(const std::string &text, uint32_t &version);

// "4096", "64K", "8M", "1G" (binary multiples).
bool ParseByteCount(const std::string &text, uint64_t &bytes);

bool ParseInt(const std::string &text, int64_t &value);

} // namespace qvsim
