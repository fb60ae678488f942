// What the fuzz targets share: a check that stops the run with a message
// (libFuzzer then keeps the input as a crash), and the ways the targets turn
// raw bytes into texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__,            \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// Two bytes a character (UTF-16LE, as a translator's file holds it); an odd
// last byte counts as one character of its own.
inline std::wstring WideFrom(const uint8_t *data, size_t size) {
    std::wstring text;
    text.reserve(size / 2 + 1);
    for (size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (size % 2 != 0) text += static_cast<wchar_t>(data[size - 1]);
    return text;
}

// One byte a character (Latin-1): keeps the texts short and the interesting
// characters (backslash, percent, digits) easy to reach.
inline std::wstring Latin1From(const uint8_t *data, size_t size) {
    std::wstring text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i)
        text += static_cast<wchar_t>(data[i]);
    return text;
}

inline std::string BytesFrom(const uint8_t *data, size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size);
}

} // namespace fuzz
