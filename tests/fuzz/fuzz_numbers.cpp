// Numbers in outside texts: hexadecimal identities from the settings, the
// partition number from the settings and the loader version text a device
// reports (512 bytes, perhaps without their zero).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/ini_file.h"
#include "base/main_window_model.h"
#include "device/device_watcher.h"
#include "device/upgrade_job.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// The low 32 bits are the last eight digits, read by the C library.
uint32_t ReferenceHex(const std::wstring &text) {
    size_t i = 0;
    if (text.size() >= 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) i = 2;
    std::string digits;
    for (; i < text.size() && IsHexDigit(text[i]); ++i)
        digits += static_cast<char>(text[i]);
    if (digits.empty()) return 0;
    if (digits.size() > 8) digits = digits.substr(digits.size() - 8);
    return static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Digits taken nine at a time into a 64-bit number, where the program takes
// them one at a time.
uint32_t ReferencePartition(const std::wstring &text) {
    const std::wstring number = text.substr(0, text.find(L':'));
    size_t i = 0;
    while (i < number.size() && IsBlank(number[i]))
        ++i;
    bool negative = false;
    if (i < number.size() && (number[i] == L'+' || number[i] == L'-'))
        negative = number[i++] == L'-';
    std::string digits;
    for (; i < number.size() && number[i] >= L'0' && number[i] <= L'9'; ++i)
        digits += static_cast<char>(number[i]);
    uint64_t value = 0;
    for (size_t at = 0; at < digits.size(); at += 9) {
        const std::string chunk = digits.substr(at, 9);
        uint64_t scale = 1;
        for (size_t k = 0; k < chunk.size(); ++k)
            scale *= 10;
        value = (value * scale + std::stoull(chunk)) % 65536;
    }
    if (negative) value = (65536 - value) % 65536;
    return static_cast<uint32_t>(value);
}

// The longest run of digits: past 15 the C library's reading saturates,
// where the program's wraps as a 16-bit "%hu" does on the platform.
size_t LongestDigitRun(const char *text) {
    size_t longest = 0, run = 0;
    for (; *text != '\0'; ++text) {
        run = (*text >= '0' && *text <= '9') ? run + 1 : 0;
        if (run > longest) longest = run;
    }
    return longest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::wstring text = fuzz::Latin1From(data, size);
    FUZZ_CHECK(ParseHex(text) == ReferenceHex(text));
    FUZZ_CHECK(ParsePartitionNumber(text) == ReferencePartition(text));
    FUZZ_CHECK(ParsePartitionNumber(text) < 65536);

    // As the watcher holds it: 512 bytes, cut at the last one.
    char version[512];
    std::memset(version, 0, sizeof version);
    std::memcpy(version, data, size < sizeof version ? size : sizeof version);
    version[sizeof version - 1] = '\0';
    const uint16_t parsed = ParseDeviceLoaderVersion(version);
    if (LongestDigitRun(version) <= 15) {
        unsigned short major = 0, minor = 0;
        const uint16_t expected = std::sscanf(version, "%hu.%hu", &major, &minor) == 2
                                      ? static_cast<uint16_t>((major % 256) * 256 + minor % 256)
                                      : kNoLoaderVersion;
        FUZZ_CHECK(parsed == expected);
    }
    return 0;
}
