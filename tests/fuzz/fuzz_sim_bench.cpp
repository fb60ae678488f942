// The simulated bench's files over any text: the key-value reader, the bench
// settings and a device record, and the version and number texts in them.
// What is read, written out and read again must come back the same.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/bench.h"
#include "sim/key_value_file.h"
#include "sim/versions.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool Trimmed(const std::string &text) {
    if (text.empty()) return true;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    return !blank(text.front()) && !blank(text.back());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace qvsim;
    const std::string text = fuzz::BytesFrom(data, size);

    const KeyValues values = ParseKeyValues(text);
    for (const auto &[key, value] : values) {
        FUZZ_CHECK(!key.empty() && Trimmed(key) && Trimmed(value));
        FUZZ_CHECK(key.find('\n') == std::string::npos && value.find('\n') == std::string::npos);
        FUZZ_CHECK(key.find('=') == std::string::npos);
    }
    FUZZ_CHECK(ParseKeyValues(FormatKeyValues(values, "heading\nsecond line")) == values);

    const BenchSettings settings = ParseSettings(text);
    const std::string settingsText = FormatSettings(settings);
    FUZZ_CHECK(FormatSettings(ParseSettings(settingsText)) == settingsText);

    const std::optional<DeviceRecord> device = ParseDevice(7, text);
    if (device) {
        const std::string deviceText = FormatDevice(*device);
        const std::optional<DeviceRecord> again = ParseDevice(7, deviceText);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(FormatDevice(*again) == deviceText);
    }

    // The first line as each kind of number.
    const std::string line = text.substr(0, text.find('\n'));
    uint16_t loader = 0;
    if (ParseLoaderVersion(line, loader)) {
        uint16_t back = 0;
        FUZZ_CHECK(ParseLoaderVersion(LoaderVersionText(loader), back) && back == loader);
    }
    uint32_t system = 0;
    if (ParseSystemVersion(line, system)) {
        uint32_t back = 0;
        FUZZ_CHECK(ParseSystemVersion(SystemVersionText(system), back) && back == system);
    }
    uint64_t bytes = 0;
    ParseByteCount(line, bytes);
    int64_t number = 0;
    if (ParseInt(line, number)) {
        // The C library agrees on what it accepted.
        errno = 0;
        char *end = nullptr;
        const long long reference = std::strtoll(line.c_str(), &end, 10);
        FUZZ_CHECK(errno == 0 && reference == number);
    }
    return 0;
}
