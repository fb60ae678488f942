// Texts for the device library, which takes paths in the system's ANSI code
// page in buffers of 260 bytes.
#pragma once

#include <array>
#include <string>

#include "base/platform.h"

using AnsiBuffer = std::array<char, 260>;

// Converts into a zero-filled buffer. Fails (leaving the buffer all zero) when
// the text is empty, when a character cannot be represented exactly in the
// code page, or when the result does not fit with its terminating zero
// (at most 259 bytes).
bool WideToAnsi(ITextCodec &codec, const std::wstring &text, AnsiBuffer &out);

// Converts a text coming back from the library; at most 259 characters.
std::wstring AnsiToWide(ITextCodec &codec, const char *text);
