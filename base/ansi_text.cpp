#include "base/ansi_text.h"

#include <cstring>

namespace {
constexpr size_t kMaxChars = 259;
}

bool WideToAnsi(ITextCodec &codec, const std::wstring &text, AnsiBuffer &out) {
    out.fill(0);
    if (text.empty()) return false;
    std::string ansi;
    if (!codec.ToAnsi(text, ansi) || ansi.empty() || ansi.size() > kMaxChars) return false;
    // An embedded zero would silently shorten the path the library sees.
    if (ansi.find('\0') != std::string::npos) return false;
    std::memcpy(out.data(), ansi.data(), ansi.size());
    return true;
}

std::wstring AnsiToWide(ITextCodec &codec, const char *text) {
    if (text == nullptr) return std::wstring();
    std::string ansi(text, strnlen(text, 512));
    std::wstring wide = codec.FromAnsi(ansi);
    if (wide.size() > kMaxChars) wide.resize(kMaxChars);
    return wide;
}
