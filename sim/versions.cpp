#include "sim/versions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace qvsim {

namespace {

// Whole-text unsigned number in the given base, no sign, no blanks.
bool ParseUnsigned(const std::string &text, int base, uint64_t max, uint64_t &value) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(base == 16 && hex)) return false;
    }
    errno = 0;
    char *end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, base);
    if (errno || *end || parsed > max) return false;
    value = parsed;
    return true;
}

bool SplitTwo(const std::string &text, char separator, std::string &first, std::string &rest) {
    const size_t at = text.find(separator);
    if (at == std::string::npos) return false;
    first = text.substr(0, at);
    rest = text.substr(at + 1);
    return true;
}

} // namespace

std::string LoaderVersionText(uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", unsigned(version >> 8), unsigned(version & 0xFF));
    return text;
}

bool ParseLoaderVersion(const std::string &text, uint16_t &version) {
    std::string major, minor;
    uint64_t hi = 0, lo = 0;
    if (!SplitTwo(text, '.', major, minor) || !ParseUnsigned(major, 10, 255, hi) ||
        !ParseUnsigned(minor, 10, 255, lo))
        return false;
    version = static_cast<uint16_t>(hi << 8 | lo);
    return true;
}

std::string SystemVersionText(uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%x.%x.%x", unsigned(version >> 24),
                  unsigned((version >> 16) & 0xFF), unsigned(version & 0xFFFF));
    return text;
}

bool ParseSystemVersion(const std::string &text, uint32_t &version) {
    uint64_t value = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!ParseUnsigned(text.substr(2), 16, 0xFFFFFFFFull, value)) return false;
        version = static_cast<uint32_t>(value);
        return true;
    }
    std::string top, rest, next, low;
    uint64_t a = 0, b = 0, c = 0;
    if (!SplitTwo(text, '.', top, rest) || !SplitTwo(rest, '.', next, low) ||
        !ParseUnsigned(top, 16, 0xFF, a) || !ParseUnsigned(next, 16, 0xFF, b) ||
        !ParseUnsigned(low, 16, 0xFFFF, c))
        return false;
    version = static_cast<uint32_t>(a << 24 | b << 16 | c);
    return true;
}

bool ParseByteCount(const std::string &text, uint64_t &bytes) {
    if (text.empty()) return false;
    uint64_t unit = 1;
    std::string digits = text;
    switch (text.back()) {
    case 'k':
    case 'K':
        unit = 1ull << 10;
        break;
    case 'm':
    case 'M':
        unit = 1ull << 20;
        break;
    case 'g':
    case 'G':
        unit = 1ull << 30;
        break;
    default:
        break;
    }
    if (unit != 1) digits.pop_back();
    uint64_t value = 0;
    if (!ParseUnsigned(digits, 10, (1ull << 62) / unit, value)) return false;
    bytes = value * unit;
    return true;
}

bool ParseInt(const std::string &text, int64_t &value) {
    if (text.empty()) return false;
    const bool negative = text[0] == '-';
    uint64_t magnitude = 0;
    if (!ParseUnsigned(negative ? text.substr(1) : text, 10, 1ull << 62, magnitude)) return false;
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

} // namespace qvsim
